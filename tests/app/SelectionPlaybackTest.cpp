// Selecting with the mouse in the waveform box and playing the recording or the selection, on the
// virtual sound device.
#include "app/Unit1.h"
#include "audio/TestWaves.h"
#include "editor/ui/WaveformBox.h"
#include "platform/sound/virtual/VirtualWaveOut.h"
#include "widgets/Dialogs.h"

#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

class SelectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        device = std::make_shared<VirtualWaveOutBackend>();
        SetCurrentWaveOutBackend(device);
        SetDialogHook([this](DialogKind, const QString&, const QString& text) {
            shown.push_back(text);
            return false;
        });
        window = std::make_unique<TDepart>();
        window->FormCreate(QRect(0, 0, 424, 600)); // a box 400 pixels wide
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        SetDialogHook({});
        SetCurrentWaveOutBackend(nullptr);
    }

    // Mono 16-bit at 8000 Hz, sample i = i (wrapping): loaded into the window.
    void load(std::size_t samples, const std::string& name = "sel.wav")
    {
        std::string pattern = testing::TempDir() + "sonalto-sel-XXXXXX";
        const std::string path = std::string(mkdtemp(pattern.data())) + "/" + name;
        const Bytes bytes = CanonicalWave(PcmFormat(1, 8000, 16), Staircase16(samples, 1));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(window->LoadRecording(QString::fromStdString(path)));
    }

    Bytes recording(std::uint32_t from, std::uint32_t to)
    {
        const std::uint8_t* data = window->Editor().WS1.Wave().Data();
        return Bytes(data + 2 * from, data + 2 * to);
    }

    void playToEnd(TWaveAudioIO& player)
    {
        for (int i = 0; i < 1000 && player.Active(); ++i) {
            device->Advance(100);
            pump();
        }
    }

    std::shared_ptr<VirtualWaveOutBackend> device;
    std::unique_ptr<TDepart> window;
    std::vector<QString> shown;
};

QColor band(TDepart& w, int x)
{
    return w.PB->grab().toImage().pixelColor(x, 2);
}

TEST_F(SelectionTest, LeftAndRightClicksMarkTheSelection)
{
    load(16000); // 2 s: 0.025 pixel per sample
    TEditor& e = window->Editor();
    QTest::mouseClick(window->PB, Qt::LeftButton, {}, QPoint(100, 50));
    QTest::mouseClick(window->PB, Qt::RightButton, {}, QPoint(300, 50));
    EXPECT_EQ(e.SelStart, 4000u);
    EXPECT_EQ(e.SelEnd, 12000u);
    EXPECT_EQ(e.DragMode, 0);
    EXPECT_EQ(band(*window, 99), QColor(0, 0, 255));
    EXPECT_EQ(band(*window, 150), QColor(0, 128, 0));
    EXPECT_EQ(band(*window, 300), QColor(0, 0, 255));
    EXPECT_EQ(window->Label2->text(), "de  00-00.500  à  00-01.500  =  00-01.000 ");
    // The end put before the start empties the selection: all blue.
    QTest::mouseClick(window->PB, Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(band(*window, 75), QColor(0, 0, 255));
    EXPECT_EQ(band(*window, 150), QColor(0, 0, 255));
    // Drawn while the end was held: the end shows at the start (the release does not redraw).
    EXPECT_EQ(window->Label2->text(), "de  00-00.500  à  00-00.500  =  00-00.000 ");
    // And "Ecouter la sélection" then plays 1 ms.
    window->BjoueV->click();
    playToEnd(window->APS);
    EXPECT_EQ(device->LastPlayed(), recording(4000, 4008));
}

TEST_F(SelectionTest, DraggingTheStartFollowsTheMouseUntilRelease)
{
    load(16000);
    TEditor& e = window->Editor();
    QTest::mousePress(window->PB, Qt::LeftButton, {}, QPoint(100, 50));
    QTest::mouseMove(window->PB, QPoint(200, 50));
    EXPECT_EQ(e.DragMode, 1);
    EXPECT_EQ(e.SelStart, 8000u);
    EXPECT_EQ(window->Laide->text(), " Clic gauche pour marquer le début / Clic droit pour marquer la fin");
    QTest::mouseRelease(window->PB, Qt::LeftButton, {}, QPoint(220, 50));
    EXPECT_EQ(e.SelStart, 8800u);
    EXPECT_EQ(e.DragMode, 0);
    QTest::mouseMove(window->PB, QPoint(10, 50)); // no button: the selection stays
    EXPECT_EQ(e.SelStart, 8800u);
}

TEST_F(SelectionTest, AutoScrollAtBothEdgesOfAScrolledZoomedView)
{
    load(16000);
    TEditor& e = window->Editor();
    for (int i = 0; i < 3; ++i)
        window->SpeedButton5->click(); // 0.2 px per sample: strip 3200, max 2800
    window->SB->setValue(1000);
    ASSERT_EQ(e.FirstVisibleSample, 5000);
    QTest::mousePress(window->PB, Qt::LeftButton, {}, QPoint(100, 50));
    QTest::mouseMove(window->PB, QPoint(5, 50)); // into the left zone
    EXPECT_TRUE(window->Tdecal->isActive());
    EXPECT_EQ(e.AutoScrollDir, -1);
    window->TdecalTimer();
    EXPECT_EQ(window->SB->value(), 980);
    EXPECT_EQ(e.SelStart, 4900u); // the left edge
    window->TdecalTimer();
    EXPECT_EQ(window->SB->value(), 960);
    EXPECT_EQ(e.FirstVisibleSample, 4800);
    QTest::mouseMove(window->PB, QPoint(200, 50)); // back in the middle: it stops
    EXPECT_FALSE(window->Tdecal->isActive());
    // Toward the right edge the end, not the start, follows the right edge.
    QTest::mouseMove(window->PB, QPoint(395, 50));
    EXPECT_TRUE(window->Tdecal->isActive());
    const std::uint32_t start = e.SelStart;
    window->TdecalTimer();
    EXPECT_EQ(window->SB->value(), 980);
    EXPECT_EQ(e.SelEnd, 6900u); // (980 + 400) / 0.2
    EXPECT_EQ(e.SelStart, start);
    QTest::mouseRelease(window->PB, Qt::LeftButton, {}, QPoint(395, 50));
    EXPECT_FALSE(window->Tdecal->isActive());
    // At the very end of the strip the end is the last sample, never one past it.
    window->SB->setValue(window->SB->maximum() - 10);
    QTest::mousePress(window->PB, Qt::RightButton, {}, QPoint(300, 50));
    QTest::mouseMove(window->PB, QPoint(399, 50));
    window->TdecalTimer(); // (2800 + 400) / 0.2 would be 16000
    EXPECT_EQ(window->SB->value(), window->SB->maximum());
    EXPECT_EQ(e.SelEnd, 15999u);
    window->TdecalTimer(); // at the end: no further movement
    EXPECT_EQ(e.SelEnd, 15999u);
    QTest::mouseRelease(window->PB, Qt::RightButton, {}, QPoint(399, 50));
}

TEST_F(SelectionTest, TheSelectionPlaysExactlyItsStretch)
{
    load(8000 * 3);
    TEditor& e = window->Editor();
    e.SelStart = 10000; // 1.250 s
    e.SelEnd = 13600;   // 1.700 s
    window->BjoueV->click();
    EXPECT_EQ(TDepart::Tag(window->BjoueV), 1);
    EXPECT_EQ(window->BjoueV->icon().cacheKey(), window->Pause.cacheKey());
    playToEnd(window->APS);
    EXPECT_EQ(device->LastPlayed(), recording(10000, 13600)); // 450 ms, 3600 samples
    EXPECT_EQ(TDepart::Tag(window->BjoueV), 0);
    EXPECT_EQ(window->BjoueV->icon().cacheKey(), window->joueV.cacheKey());
}

TEST_F(SelectionTest, PlayAllStopsTheSelectionAndPlaysFromTheStartToTheEnd)
{
    load(8000 * 2);
    window->BjoueV->click();
    device->Advance(100);
    pump();
    window->BjoueB->click();
    EXPECT_EQ(TDepart::Tag(window->BjoueV), 0);
    EXPECT_FALSE(window->APS.Active());
    EXPECT_EQ(window->BjoueV->icon().cacheKey(), window->joueV.cacheKey());
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 1);
    playToEnd(window->AP);
    EXPECT_EQ(device->LastPlayed(), recording(0, 16000));
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 0);
    EXPECT_EQ(window->BjoueB->icon().cacheKey(), window->joueB.cacheKey());
    // A click while playing stops; the next one starts again from the beginning.
    window->BjoueB->click();
    device->Advance(300);
    pump();
    window->BjoueB->click();
    EXPECT_FALSE(window->AP.Active());
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 0);
}

TEST_F(SelectionTest, ALoadStopsTheRecordingsPlayerFirst)
{
    load(8000 * 4);
    window->BjoueB->click();
    pump();
    ASSERT_TRUE(window->AP.Active());
    load(800, "autre.wav");
    EXPECT_FALSE(window->AP.Active());
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 0);
    EXPECT_EQ(window->Editor().SampleCount, 800u);
}

TEST_F(SelectionTest, WithoutASoundDeviceTheErrorIsShownAndTheButtonStays)
{
    load(8000);
    device->SetDeviceCount(0);
    Guarded([&] { window->BjoueBClick(); });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QString::fromStdString(WaveErrorText(MMSYSERR_BADDEVICEID)));
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 0);
    EXPECT_EQ(window->BjoueB->icon().cacheKey(), window->joueB.cacheKey());
}

TEST_F(SelectionTest, ClosingTheWindowStopsThePlayers)
{
    load(8000 * 4);
    window->BjoueV->click();
    pump();
    ASSERT_TRUE(window->APS.Active());
    window->close();
    EXPECT_FALSE(window->APS.Active());
    EXPECT_EQ(TDepart::Tag(window->BjoueV), 0);
    EXPECT_EQ(device->OpenDevices(), 0);
}

TEST_F(SelectionTest, NothingHappensBeforeALoad)
{
    QTest::mouseClick(window->PB, Qt::LeftButton, {}, QPoint(100, 50));
    window->BjoueB->click();
    window->BjoueV->click();
    EXPECT_EQ(device->OpenCount(), 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(SelectionTest, TheSelectionPlaysToItsLastSampleAndNoFurther)
{
    // 44100 Hz: a millisecond is 44.1 samples, and the recording ends 20 samples after a whole one.
    std::string pattern = testing::TempDir() + "sonalto-sel-XXXXXX";
    const std::string path = std::string(mkdtemp(pattern.data())) + "/frac.wav";
    const Bytes bytes = CanonicalWave(PcmFormat(1, 44100, 16), Staircase16(44100 + 20, 1));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(window->LoadRecording(QString::fromStdString(path)));
    window->Editor().SelStart = 4410;
    window->Editor().SelEnd = 22050; // 100 ms to 500 ms
    window->BjoueV->click();
    playToEnd(window->APS);
    EXPECT_EQ(device->LastPlayed(), recording(4410, 22050));
}

struct WrongHeader
{
    const char* name;
    std::uint32_t byteRate;
    std::uint16_t blockAlign;
};

class WrongHeaderTest : public SelectionTest, public testing::WithParamInterface<WrongHeader>
{
};

// A file whose byte rate or block alignment disagrees with its channels, bits and rate is read by those
// three: it loads, shows its length and plays every sample.
TEST_P(WrongHeaderTest, LoadsAndPlaysWhole)
{
    std::string pattern = testing::TempDir() + "sonalto-sel-XXXXXX";
    const std::string path = std::string(mkdtemp(pattern.data())) + "/faux.wav";
    TWaveFormatEx format = PcmFormat(1, 8000, 16);
    format.nAvgBytesPerSec = GetParam().byteRate;
    format.nBlockAlign = GetParam().blockAlign;
    const Bytes bytes = CanonicalWave(format, Staircase16(8000, 1));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(window->LoadRecording(QString::fromStdString(path)));
    EXPECT_EQ(window->Label1->text(), " 00-01.000 ");
    EXPECT_EQ(window->Label11->text(), "8000 Hz 16 B");
    window->BjoueB->click();
    playToEnd(window->AP);
    EXPECT_TRUE(shown.empty()) << shown.front().toStdString();
    EXPECT_EQ(device->LastPlayed(), recording(0, 8000));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, WrongHeaderTest,
    testing::Values(WrongHeader{"ZeroByteRate", 0, 2}, WrongHeader{"HugeByteRate", 0x80000000U, 2},
                    WrongHeader{"SmallByteRate", 3, 2}, WrongHeader{"WrongBlockAlign", 16000, 4}),
    [](const testing::TestParamInfo<WrongHeader>& info) { return std::string(info.param.name); });

} // namespace
