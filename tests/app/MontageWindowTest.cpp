// The montage band of the main window on the offscreen platform: adding the selection through the title
// dialog, the panels' places after scrolling and deleting, the commands that follow the strip.
#include "app/Unit1.h"
#include "audio/TestWaves.h"
#include "montage/ui/OverviewBox.h"
#include "montage/ui/Unit3.h"
#include "platform/sound/virtual/VirtualWaveOut.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class MontageWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetCurrentWaveOutBackend(std::make_shared<VirtualWaveOutBackend>());
        SetDialogHook([this](DialogKind, const QString& caption, const QString& text) {
            questions.push_back(caption + " : " + text);
            return answer;
        });
        window = std::make_unique<TDepart>();
        window->FormCreate(QRect(0, 0, 1024, 700));
        window->SetTitleDialog(&fedit);
        window->show();
        // 4 s at 22050 Hz, sample i = i.
        std::string pattern = testing::TempDir() + "sonalto-montage-XXXXXX";
        const std::string path = std::string(mkdtemp(pattern.data())) + "/rec.wav";
        const Bytes bytes = CanonicalWave(PcmFormat(1, 22050, 16), Staircase16(22050 * 4, 1));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(window->LoadRecording(QString::fromStdString(path)));
    }
    void TearDown() override
    {
        window.reset();
        SetDialogHook({});
        SetCurrentWaveOutBackend(nullptr);
    }

    // Clicks "Ajouter la sélection au montage" and answers the title dialog when it shows.
    void add(std::uint32_t from, std::uint32_t to, const std::function<void()>& answerDialog)
    {
        window->Editor().SelStart = from;
        window->Editor().SelEnd = to;
        QTimer::singleShot(0, &fedit, answerDialog);
        window->Bajoute->click();
    }
    void addAccepted(std::uint32_t from, std::uint32_t to)
    {
        add(from, to, [this] { fedit.SpeedButton1Click(); });
    }

    TFedit fedit;
    std::unique_ptr<TDepart> window;
    std::vector<QString> questions;
    bool answer = true;
};

TEST_F(MontageWindowTest, AddingTheSelectionThroughTheTitleDialog)
{
    TMontage& m = window->Montage();
    QString proposed;
    add(22050, 44100, [this, &proposed] {
        proposed = fedit.Edit->text();
        fedit.SpeedButton1Click();
    });
    EXPECT_EQ(proposed, "Extrait n° 1");
    ASSERT_EQ(m.ClipCount, 1);
    const Tsample& clip = *m.ClipAt(0);
    EXPECT_EQ(clip.Title, "Extrait n° 1");
    EXPECT_EQ(clip.StartMs, 1000);
    EXPECT_EQ(clip.LengthMs, 1000);
    EXPECT_EQ(clip.Storage.Wave().PCMFormat(), Mono16bit22050Hz);
    EXPECT_FALSE(m.MontageSaved);
    for (QWidget* control : {static_cast<QWidget*>(window->Bsauver), static_cast<QWidget*>(window->Bwave),
                             static_cast<QWidget*>(window->Bmp3)})
        EXPECT_TRUE(control->isEnabled());
    EXPECT_TRUE(window->Exporterlemontageauformatwave1->isEnabled());

    // Cancelled, or accepted with an empty title: nothing is added and the number is not used up.
    add(0, 22050, [this] { fedit.SpeedButton2Click(); });
    add(0, 22050, [this] {
        fedit.Edit->clear();
        fedit.SpeedButton1Click();
    });
    EXPECT_EQ(m.ClipCount, 1);
    add(0, 22050, [this, &proposed] {
        proposed = fedit.Edit->text();
        fedit.SpeedButton2Click();
    });
    EXPECT_EQ(proposed, "Extrait n° 2");
    // A selection shorter than a millisecond does not even open the dialog.
    bool opened = false;
    add(100, 110, [this, &opened] { opened = fedit.isVisible(); });
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);

    // The render ends by itself and shows the total.
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->BjT->isEnabled(); }, 5000));
    EXPECT_EQ(window->Label12->text(), " 00-01.000 ");
}

TEST_F(MontageWindowTest, PanelsFollowScrollingAndDeleting)
{
    TMontage& m = window->Montage();
    for (int i = 0; i < 10; ++i)
        addAccepted(static_cast<std::uint32_t>(i) * 2205, static_cast<std::uint32_t>(i + 1) * 2205);
    ASSERT_EQ(m.ClipCount, 10);
    const auto left = [this](int position) {
        return window->PanelAt(position)->mapTo(window->SB1->viewport(), QPoint(0, 0)).x();
    };
    EXPECT_EQ(left(3), 368);
    window->SB1->horizontalScrollBar()->setValue(100);
    EXPECT_EQ(left(3), 268);
    window->SB1->horizontalScrollBar()->setValue(0);

    // Deleting the clip at position 1: asked first, done by the timer, the next ones move left.
    const std::string third = m.ClipAt(2)->Title;
    const bool savedBefore = m.MontageSaved;
    window->DeleteClick(1);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "CONFIRMATION : Etes-vous sûr de vouloir supprimer cette séquence?");
    EXPECT_EQ(m.ClipCount, 10); // not inside the click
    ASSERT_TRUE(QTest::qWaitFor([&m] { return m.ClipCount == 9; }, 2000));
    EXPECT_EQ(m.ClipAt(1)->Title, third);
    EXPECT_EQ(left(1), 128);
    EXPECT_EQ(m.MontageSaved, savedBefore);
    // Answering No deletes nothing.
    answer = false;
    window->DeleteClick(0);
    QTest::qWait(300);
    EXPECT_EQ(m.ClipCount, 9);
}

TEST_F(MontageWindowTest, DeletingTheLastClipDisablesTheSaveAndExportCommands)
{
    TMontage& m = window->Montage();
    addAccepted(0, 22050);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->BjT->isEnabled(); }, 5000));
    window->DeleteClick(0);
    window->TdelTimer();
    EXPECT_EQ(m.ClipCount, 0);
    EXPECT_TRUE(m.MontageSaved);
    EXPECT_FALSE(window->BjT->isEnabled());
    EXPECT_TRUE(window->Label12->text().isEmpty());
    for (QWidget* control : {static_cast<QWidget*>(window->Bsauver), static_cast<QWidget*>(window->Bwave),
                             static_cast<QWidget*>(window->Bmp3)})
        EXPECT_FALSE(control->isEnabled());
    for (QAction* item : {window->Sauvergarderunprojet1, window->Exporterlemontageauformatwave1,
                          window->Exporterlemontageauformatmp31})
        EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(window->PB2->grab().toImage().pixelColor(10, 10), QColor(255, 255, 210));
}

TEST_F(MontageWindowTest, ClosingTheWindowEndsTheRenderThreadCleanly)
{
    for (int i = 0; i < 5; ++i)
        addAccepted(0, 22050 * 3);
    window->close();
    // Neither a hang nor a step after the window is gone (AddressSanitizer would see that one).
    const auto start = std::chrono::steady_clock::now();
    window.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(MontageWindowTest, TheClipDeletedIsTheOneWhoseQuestionWasAnsweredYes)
{
    TMontage& m = window->Montage();
    const auto titles = [&m] {
        std::vector<std::string> out;
        for (int p = 0; p < m.ClipCount; ++p)
            out.push_back(m.ClipAt(p)->Title);
        return out;
    };
    for (int i = 0; i < 5; ++i)
        addAccepted(static_cast<std::uint32_t>(i) * 2205, static_cast<std::uint32_t>(i + 1) * 2205);
    // "Extrait n° 1" goes; while the question about "n° 4" is open, that deletion runs and moves it left.
    window->DeleteClick(0);
    SetDialogHook([&m](DialogKind, const QString&, const QString&) {
        return QTest::qWaitFor([&m] { return m.ClipCount == 4; }, 2000);
    });
    window->DeleteClick(3);
    ASSERT_TRUE(QTest::qWaitFor([&m] { return m.ClipCount == 3; }, 2000));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Extrait n° 2", "Extrait n° 3", "Extrait n° 5"}));
    // Answered before the earlier deletion ran: both go, each the right one.
    SetDialogHook([](DialogKind, const QString&, const QString&) { return true; });
    window->DeleteClick(0);
    window->DeleteClick(1);
    ASSERT_TRUE(QTest::qWaitFor([&m] { return m.ClipCount == 1; }, 2000));
    EXPECT_EQ(titles(), std::vector<std::string>{"Extrait n° 5"});
    QTest::qWait(300);
    EXPECT_EQ(m.ClipCount, 1);
}

} // namespace
