// The recording window on the offscreen platform, with a virtual mixer and a virtual input device: its
// layout, the source list and the volume against the mixer, whole recordings read back byte by byte, the
// questions before a recording, the transfer, the hints, the failures, and a window closed or destroyed
// while it records. The file dialog and the questions answer through hooks; the one message box is answered
// once it is on screen.
#include "recording/ui/Unit2.h"

#include "app/Unit1.h"
#include "audio/TestWaves.h"
#include "help/HelpTestSupport.h"
#include "platform/sound/virtual/VirtualMixer.h"
#include "platform/sound/virtual/VirtualWaveIn.h"
#include "recording/ui/StxVumeter.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Device = VirtualMixerBackend::Device;

constexpr unsigned Rate = 22050;

// The recorded signal: not periodic within 20000 frames, so that a buffer out of its place shows, and every
// 100 ms buffer (2205 frames) reaches its peak of 9987 or more, a level of 30.
int signalAt(std::uint64_t frame)
{
    return static_cast<int>(frame * 13 % 20000) - 10000;
}

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

// A WAV file read here byte by byte, without the program's own reader.
struct WaveFile
{
    std::size_t fileSize = 0;
    bool riff = false;
    std::uint32_t riffSize = 0;
    std::uint16_t formatTag = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    std::size_t dataOffset = 0;
    std::uint32_t dataSize = 0;
    std::vector<std::int16_t> samples;
};

std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

WaveFile readWave(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WaveFile w;
    w.fileSize = b.size();
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return w;
    w.riff = true;
    w.riffSize = le(b, 4, 4);
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(reinterpret_cast<const char*>(b.data() + at), 4);
        const std::uint32_t size = le(b, at + 4, 4);
        if (id == "fmt " && at + 8 + 16 <= b.size()) {
            w.formatTag = static_cast<std::uint16_t>(le(b, at + 8, 2));
            w.channels = static_cast<std::uint16_t>(le(b, at + 10, 2));
            w.rate = le(b, at + 12, 4);
            w.bits = static_cast<std::uint16_t>(le(b, at + 22, 2));
        } else if (id == "data") {
            w.dataOffset = at + 8;
            w.dataSize = size;
            const std::size_t end = std::min<std::size_t>(b.size(), w.dataOffset + size);
            w.samples = Samples16(b.data() + w.dataOffset, end - w.dataOffset);
            break;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

// A whole mono 16-bit 22050 Hz file, its sizes right, holding the signal's first frames.
void expectRecording(const fs::path& path, std::size_t frames)
{
    const WaveFile w = readWave(path);
    ASSERT_TRUE(w.riff) << path;
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.formatTag, 1);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, Rate);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.dataSize, w.fileSize - w.dataOffset);
    ASSERT_EQ(w.samples.size(), frames);
    for (std::size_t i = 0; i < frames; ++i)
        ASSERT_EQ(w.samples[i], signalAt(i)) << "frame " << i;
}

QImage glyphOf(const QToolButton* button)
{
    return button->icon().pixmap(button->iconSize()).toImage();
}

struct Box
{
    DialogKind kind;
    QString caption;
    QString text;
};

// Sets every volume control of the card's recording sources to the range 0 to 100, each source to its value.
void setVolumes(Device& card, const std::vector<std::uint32_t>& percents)
{
    auto& sources = card.destinations.at(1).sources;
    for (std::size_t i = 0; i < sources.size() && i < percents.size(); ++i)
        for (auto& control : sources[i].controls)
            if (control.type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
                control.minimum = 0;
                control.maximum = 100;
                std::fill(control.values.begin(), control.values.end(), percents[i]);
            }
}

// Selects source on the card's recording selector (items in the reverse order of the sources).
void selectOnCard(Device& card, std::size_t source)
{
    auto& destination = card.destinations.at(1);
    for (auto& control : destination.line.controls)
        if (control.type == MIXERCONTROL_CONTROLTYPE_MUX) {
            std::fill(control.values.begin(), control.values.end(), 0U);
            control.values.at(control.values.size() - 1 - source) = 1;
        }
}

class RecordingWindowTest : public testing::Test
{
protected:
    RecordingWindowTest()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("sonalto-fenr-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        input = std::make_shared<VirtualWaveInBackend>();
        input->SetSignal([](std::uint64_t frame, unsigned) { return signalAt(frame); });
        SetCurrentWaveInBackend(input);
        SetDialogHook([this](DialogKind kind, const QString& caption, const QString& text) {
            boxes.push_back({kind, caption, text});
            if (answers.empty())
                return false;
            const bool answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        });
    }
    ~RecordingWindowTest() override
    {
        fenr.reset();
        SetDialogHook(nullptr);
        SetCurrentMixerBackend(nullptr);
        SetCurrentWaveInBackend(nullptr);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    static Device card(const std::vector<std::string>& sources = {"Microphone", "Entrée ligne",
                                                                  "Mixage stéréo"})
    {
        return VirtualMixerBackend::Card("Carte virtuelle", sources);
    }

    // Creates the window on a mixer holding these devices.
    void open(std::vector<Device> devices)
    {
        mixer = std::make_shared<VirtualMixerBackend>(std::move(devices));
        SetCurrentMixerBackend(mixer);
        fenr = std::make_unique<TFenr>();
        fenr->showHint = [this](const QString& hint) { hints.push_back(hint); };
        fenr->loadRecording = [this](const QString& fileName) {
            loaded.push_back(fileName);
            busyWhileLoading = QGuiApplication::overrideCursor() &&
                               QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
            return true;
        };
        fenr->SD.OnExecute = [this](TSaveDialog& sd) {
            offered.push_back(sd.FileName);
            if (choice.isEmpty())
                return false;
            sd.FileName = choice;
            return true;
        };
    }
    void open() { open({card()}); }

    QString target(const std::string& name) const { return QString::fromStdString((dir / name).string()); }

    void record(std::uint32_t ms)
    {
        for (std::uint32_t t = 0; t < ms; t += 50) {
            input->Advance(50);
            pump();
        }
    }

    // Starts a recording into the file through Benr, as the user does.
    void start(const std::string& name)
    {
        choice = target(name);
        fenr->Benr->click();
        pump();
    }

    std::uint32_t volumeOnCard(int source) const
    {
        return mixer->Values(0, 1, source, MIXERCONTROL_CONTROLTYPE_VOLUME).at(0);
    }

    // The source the card records from, by the selector's items.
    int selectedOnCard() const
    {
        const auto values = mixer->Values(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX);
        int selected = -1;
        for (std::size_t item = 0; item < values.size(); ++item)
            if (values[item] != 0)
                selected = static_cast<int>(values.size() - 1 - item);
        return selected;
    }

    std::size_t questions() const
    {
        return static_cast<std::size_t>(std::count_if(
            boxes.begin(), boxes.end(), [](const Box& b) { return b.kind == DialogKind::Question; }));
    }

    void expectIdle(const char* hint)
    {
        EXPECT_EQ(fenr->Tag(), 0);
        EXPECT_EQ(fenr->Benr->property("Tag").toInt(), 0);
        EXPECT_EQ(fenr->Benr->property("hint").toString(), QString::fromUtf8(hint));
        EXPECT_TRUE(fenr->btransfert->isEnabled());
        EXPECT_FALSE(fenr->AR.Active());
    }

    fs::path dir;
    std::shared_ptr<VirtualWaveInBackend> input;
    std::shared_ptr<VirtualMixerBackend> mixer;
    std::unique_ptr<TFenr> fenr;
    std::vector<Box> boxes;
    std::vector<bool> answers; // the answers to the questions, in turn; No once they run out
    std::vector<QString> hints;
    std::vector<QString> loaded;
    bool busyWhileLoading = false;
    std::vector<QString> offered; // the names the file dialog was opened with
    QString choice;               // what the user picks in it; empty: cancelled
};

TEST_F(RecordingWindowTest, LayoutColoursAndComponents)
{
    open();
    TFenr& w = *fenr;
    EXPECT_EQ(w.objectName(), "Fenr");
    EXPECT_EQ(w.windowTitle(), "Enregistrement");
    EXPECT_EQ(w.size(), QSize(288, 144));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);

    EXPECT_EQ(w.GroupBox1->title(), "Signal");
    EXPECT_EQ(w.GroupBox1->geometry(), QRect(8, 8, 241, 97));
    EXPECT_EQ(w.GroupBox1->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(w.Label1->text(), "Source: ");
    EXPECT_EQ(w.Label1->parentWidget(), w.GroupBox1);
    EXPECT_TRUE(w.Label1->alignment() & Qt::AlignRight);
    EXPECT_EQ(w.Label1->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    // The labels end left of the controls they name.
    EXPECT_LE(w.Label1->geometry().right(), 63);
    EXPECT_EQ(w.CB->parentWidget(), w.GroupBox1);
    EXPECT_EQ(w.CB->geometry(), QRect(64, 20, 161, 21));
    EXPECT_FALSE(w.CB->isEditable());
    EXPECT_EQ(w.CB->palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(w.CB->property("hint").toString(), "Choix de la source d'enregistrement");
    EXPECT_EQ(w.Label2->text(), "Volume:");
    EXPECT_TRUE(w.Label2->alignment() & Qt::AlignRight);
    EXPECT_EQ(w.Label2->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_LE(w.Label2->geometry().right(), 55);
    EXPECT_EQ(w.VOl->parentWidget(), w.GroupBox1);
    EXPECT_EQ(w.VOl->geometry(), QRect(56, 48, 177, 41));
    EXPECT_EQ(w.VOl->orientation(), Qt::Horizontal);
    EXPECT_EQ(w.VOl->minimum(), 0);
    EXPECT_EQ(w.VOl->maximum(), 100);
    EXPECT_EQ(w.VOl->tickInterval(), 10);
    EXPECT_EQ(w.VOl->tickPosition(), QSlider::TicksBothSides);
    EXPECT_EQ(w.VOl->property("hint").toString(), "Réglage du volume d'enregistrement");

    EXPECT_EQ(w.VM->geometry(), QRect(256, 24, 25, 113));
    EXPECT_EQ(w.VM->Style(), deThinSunken);
    EXPECT_EQ(w.VM->MaxValue(), 100);
    EXPECT_EQ(w.VM->Position(), 0);
    EXPECT_EQ(w.VM->TopSpace(), 4);
    EXPECT_EQ(w.VM->BottomSpace(), 4);
    EXPECT_EQ(w.VM->LeftSpace(), 3);
    EXPECT_EQ(w.VM->RightSpace(), 4);
    EXPECT_EQ(w.VM->BackColor(), QColor(192, 192, 192));
    EXPECT_EQ(w.VM->ActiveColor(), QColor(0, 255, 0));
    EXPECT_EQ(w.VM->InactiveColor(), QColor(0, 128, 0));
    EXPECT_TRUE(w.VM->SingleColumn());
    EXPECT_EQ(w.VM->ElementHeight(), 4);
    EXPECT_EQ(w.VM->BlancHeight(), 0);
    EXPECT_EQ(w.VM->SeparatorWidth(), 0);
    EXPECT_EQ(w.VM->property("hint").toString(), "Niveau sonore de l'enregistrement");

    EXPECT_EQ(w.Label3->text(), "00");
    EXPECT_EQ(w.Label3->geometry(), QRect(256, 4, 25, 21));
    EXPECT_TRUE(w.Label3->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(w.Label3->font().bold());
    EXPECT_EQ(w.Label3->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    for (QToolButton* button : {w.Benr, w.btransfert}) {
        EXPECT_EQ(button->size(), QSize(25, 25));
        EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_TRUE(button->toolTip().isEmpty());
    }
    EXPECT_EQ(w.Benr->pos(), QPoint(192, 112));
    EXPECT_EQ(w.btransfert->pos(), QPoint(224, 112));
    EXPECT_EQ(w.Benr->property("hint").toString(), " Démarrer l'enregistrement");
    EXPECT_EQ(w.btransfert->property("hint").toString(), " Transférer dans la console de montage");
    EXPECT_EQ(w.Tag(), 0);
    EXPECT_TRUE(w.btransfert->isEnabled());
    EXPECT_FALSE(w.RecordingMade());
    // The two pictures, hidden, each of its size and different from the start picture and each other.
    EXPECT_TRUE(w.Pause->isHidden());
    EXPECT_TRUE(w.Image1->isHidden());
    EXPECT_EQ(w.Pause->pixmap().size(), QSize(19, 19));
    EXPECT_EQ(w.Image1->pixmap().size(), QSize(15, 15));
    EXPECT_NE(glyphOf(w.Benr), w.Pause->pixmap().toImage());
    EXPECT_NE(glyphOf(w.Benr), w.Image1->pixmap().toImage());

    EXPECT_EQ(w.SD.DefaultExt, "wav");
    EXPECT_EQ(w.SD.Filter, "Fichiers Wave (*.wav)");
    EXPECT_EQ(w.AM.DestinationID(), 1U);
    EXPECT_EQ(w.AR.PCMFormat(), Mono16bit22050Hz);
    EXPECT_EQ(w.AR.BufferLength(), 100);
    EXPECT_TRUE(static_cast<bool>(w.AR.OnLevel));
}

TEST_F(RecordingWindowTest, SourcesVolumeAndTheMixer)
{
    Device c = card();
    setVolumes(c, {30, 70, 45});
    selectOnCard(c, 2); // another program left the third source selected
    open({c});
    TFenr& w = *fenr;

    // FormCreate: the sources in line order, the first selected, on the card too, and its volume.
    ASSERT_EQ(w.CB->count(), 3);
    EXPECT_EQ(w.CB->itemText(0), "Microphone");
    EXPECT_EQ(w.CB->itemText(1), "Entrée ligne");
    EXPECT_EQ(w.CB->itemText(2), "Mixage stéréo");
    EXPECT_EQ(w.CB->currentIndex(), 0);
    EXPECT_EQ(selectedOnCard(), 0);
    EXPECT_EQ(w.VOl->value(), 30);

    // The user picks the second source, then the third, with the keyboard.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(w.CB, Qt::Key_Down);
    EXPECT_EQ(w.CB->currentIndex(), 1);
    EXPECT_EQ(selectedOnCard(), 1);
    EXPECT_EQ(w.VOl->value(), 70);
    QTest::keyClick(w.CB, Qt::Key_Down);
    EXPECT_EQ(selectedOnCard(), 2);
    EXPECT_EQ(w.VOl->value(), 45);

    // Moving the volume sets the selected source's volume, and only its.
    w.VOl->setValue(83);
    EXPECT_EQ(volumeOnCard(2), 83U);
    EXPECT_EQ(volumeOnCard(0), 30U);
    EXPECT_EQ(volumeOnCard(1), 70U);
    QTest::keyClick(w.VOl, Qt::Key_Right);
    EXPECT_EQ(volumeOnCard(2), 84U);

    // Another program changes the volume: the next start of a recording reloads it.
    mixer->ChangeElsewhere(0, 1, 2, MIXERCONTROL_CONTROLTYPE_VOLUME, {12});
    mixer->ChangeElsewhere(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX, {0, 0, 1});
    ASSERT_EQ(selectedOnCard(), 0);
    start("a.wav");
    EXPECT_EQ(w.VOl->value(), 12);
    EXPECT_EQ(selectedOnCard(), 2);
    w.Benr->click();
}

TEST_F(RecordingWindowTest, ASourceWithoutVolumeControlLeavesTheTrackBarAtItsMinimum)
{
    Device c = card({"Microphone", "Entrée ligne"});
    setVolumes(c, {60, 0});
    auto& controls = c.destinations.at(1).sources.at(1).controls;
    controls.erase(
        std::remove_if(controls.begin(), controls.end(),
                       [](const auto& control) { return control.type == MIXERCONTROL_CONTROLTYPE_VOLUME; }),
        controls.end());
    open({c});
    EXPECT_EQ(fenr->VOl->value(), 60);
    fenr->CB->setCurrentIndex(1);
    fenr->CBChange();
    EXPECT_EQ(selectedOnCard(), 1);
    EXPECT_EQ(fenr->VOl->value(), 0); // -1 from the line, the track bar's minimum
    EXPECT_EQ(volumeOnCard(0), 60U);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RecordingWindowTest, ARecordingOfAKnownSignalAndTheWindowMeanwhile)
{
    open();
    TFenr& w = *fenr;
    const QImage start0 = glyphOf(w.Benr);
    start("prise.wav");
    EXPECT_EQ(offered.size(), 1U);
    EXPECT_TRUE(boxes.empty()); // the first recording asks nothing
    ASSERT_TRUE(w.AR.Active());
    EXPECT_EQ(w.Tag(), 1);
    EXPECT_EQ(w.Benr->property("hint").toString(), "Arrêter l'enregistrement");
    EXPECT_FALSE(w.btransfert->isEnabled());
    EXPECT_EQ(glyphOf(w.Benr), w.Pause->pixmap().toImage());

    record(1000);
    EXPECT_EQ(w.VM->Position(), 30);
    EXPECT_EQ(w.Label3->text(), "30");

    w.Benr->click();
    EXPECT_FALSE(w.AR.Active());
    expectIdle("Démarrer l'enregistrement");
    EXPECT_TRUE(w.RecordingMade());
    EXPECT_EQ(glyphOf(w.Benr), w.Image1->pixmap().toImage());
    EXPECT_NE(glyphOf(w.Benr), start0);
    EXPECT_EQ(w.Label3->text(), "0");
    EXPECT_EQ(w.VM->Position(), 0);
    EXPECT_TRUE(boxes.empty());
    expectRecording(dir / "prise.wav", Rate);
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject
{
    int paints = 0;
    std::function<void()> onPaint;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (onPaint)
                onPaint();
        }
        return false;
    }
};

TEST_F(RecordingWindowTest, ALevelShowsOnTheMeterAndAsANumberAtOnce)
{
    open();
    fenr->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fenr.get()));
    PaintCounter meter, number;
    fenr->VM->installEventFilter(&meter);
    fenr->Label3->installEventFilter(&number);
    fenr->ARLevel(57);
    EXPECT_EQ(fenr->VM->Position(), 57);
    EXPECT_EQ(fenr->Label3->text(), "57");
    // Both painted before the handler returns, not at the next turn of the event loop.
    EXPECT_GE(meter.paints, 1);
    EXPECT_GE(number.paints, 1);
    fenr->ARLevel(0);
    EXPECT_EQ(fenr->Label3->text(), "0");
    EXPECT_EQ(fenr->VM->Position(), 0);
    fenr->VM->removeEventFilter(&meter);
    fenr->Label3->removeEventFilter(&number);
}

TEST_F(RecordingWindowTest, BuffersKeepTheirOrderWhenTheDeviceDeliversWhileALevelIsShown)
{
    open();
    fenr->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fenr.get()));
    start("ordre.wav");
    ASSERT_TRUE(fenr->AR.Active());
    // While the meter paints a level, the device hands over its next buffer, as a sound card's thread does:
    // once for each level report.
    int deliveries = 0;
    bool armed = false;
    fenr->AR.OnLevel = [&, shown = fenr->AR.OnLevel](TWaveAudioIO* sender, int level) {
        armed = true;
        shown(sender, level);
        armed = false;
    };
    PaintCounter filter;
    filter.onPaint = [&] {
        if (armed && fenr->AR.Active() && deliveries < 10) {
            armed = false;
            ++deliveries;
            input->Advance(100);
        }
    };
    fenr->VM->installEventFilter(&filter);
    record(100);
    for (int i = 0; i < 20; ++i)
        pump();
    fenr->VM->removeEventFilter(&filter);
    EXPECT_EQ(deliveries, 10);
    fenr->Benr->click();
    expectRecording(dir / "ordre.wav", Rate * 11 / 10);
}

TEST_F(RecordingWindowTest, TheQuestionsBeforeARecording)
{
    open();
    TFenr& w = *fenr;
    start("a.wav");
    record(200);
    w.Benr->click();
    ASSERT_TRUE(w.RecordingMade());
    ASSERT_TRUE(boxes.empty());
    const auto firstFile = fs::file_size(dir / "a.wav");

    // The track in memory: No leaves everything as it is, the file dialog is not even opened.
    choice = target("b.wav");
    answers = {false};
    w.Benr->click();
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].kind, DialogKind::Question);
    EXPECT_EQ(boxes[0].caption, "Enregistrement");
    EXPECT_EQ(boxes[0].text, "La piste en mémoire va être ecrasée. Continuer ?");
    EXPECT_EQ(offered.size(), 1U);
    expectIdle("Démarrer l'enregistrement");
    EXPECT_EQ(glyphOf(w.Benr), w.Image1->pixmap().toImage());
    EXPECT_FALSE(fs::exists(dir / "b.wav"));

    // Yes, into another file: asked again, no question about the file, recorded.
    answers = {true};
    w.Benr->click();
    pump();
    EXPECT_EQ(questions(), 2U);
    EXPECT_EQ(offered.size(), 2U);
    EXPECT_EQ(offered[1], target("a.wav")); // the dialog proposes the last file
    ASSERT_TRUE(w.AR.Active());
    record(300);
    w.Benr->click();
    expectRecording(dir / "b.wav", Rate * 3 / 10);
    EXPECT_EQ(fs::file_size(dir / "a.wav"), firstFile);

    // An existing file: the question about replacing it; No stops before anything is touched.
    boxes.clear();
    choice = target("a.wav");
    answers = {true, false};
    w.Benr->click();
    ASSERT_EQ(boxes.size(), 2U);
    EXPECT_EQ(boxes[1].caption, "Enregistrement");
    EXPECT_EQ(boxes[1].text, "Un fichier du même nom existe déjà. Il sera écrasé. Continuer ?");
    expectIdle("Démarrer l'enregistrement");
    EXPECT_EQ(fs::file_size(dir / "a.wav"), firstFile);

    // Yes to both: the file is replaced by the new recording.
    answers = {true, true};
    w.Benr->click();
    pump();
    ASSERT_TRUE(w.AR.Active());
    record(100);
    w.Benr->click();
    expectRecording(dir / "a.wav", Rate / 10);

    // Cancelling the file choice stops too.
    boxes.clear();
    choice.clear();
    answers = {true};
    const auto offeredBefore = offered.size();
    w.Benr->click();
    EXPECT_EQ(offered.size(), offeredBefore + 1);
    EXPECT_EQ(boxes.size(), 1U);
    expectIdle("Démarrer l'enregistrement");
}

TEST_F(RecordingWindowTest, CancellingTheFirstFileChoiceLeavesTheWindowAsItWas)
{
    open();
    const QImage start0 = glyphOf(fenr->Benr);
    fenr->Benr->click();
    EXPECT_EQ(offered.size(), 1U);
    expectIdle(" Démarrer l'enregistrement");
    EXPECT_EQ(glyphOf(fenr->Benr), start0);
    EXPECT_FALSE(fenr->RecordingMade());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(input->OpenDevices(), 0);
}

TEST_F(RecordingWindowTest, TheTransfer)
{
    open();
    TFenr& w = *fenr;
    w.show();
    // Nothing before a recording.
    w.btransfert->click();
    EXPECT_TRUE(loaded.empty());
    EXPECT_TRUE(w.isVisible());

    start("t.wav");
    record(200);
    w.Benr->click();
    w.btransfert->click();
    ASSERT_EQ(loaded.size(), 1U);
    EXPECT_EQ(loaded[0], target("t.wav"));
    EXPECT_TRUE(busyWhileLoading);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(w.isVisible());

    // It loads the file last chosen in the file dialog, even one not recorded into.
    std::ofstream(dir / "autre.wav") << "x";
    choice = target("autre.wav");
    answers = {true, false};
    w.Benr->click();
    ASSERT_EQ(boxes.size(), 2U);
    w.btransfert->click();
    ASSERT_EQ(loaded.size(), 2U);
    EXPECT_EQ(loaded[1], target("autre.wav"));
}

TEST_F(RecordingWindowTest, HintsGoToTheStatusLineAndFollowTheButton)
{
    open();
    TFenr& w = *fenr;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // From a corner of the window first: a move to where the pointer already is would not be one.
    QTest::mouseMove(&w, QPoint(2, 2));
    hints.clear();
    QTest::mouseMove(w.Benr, QPoint(5, 5));
    QTest::mouseMove(w.btransfert, QPoint(6, 6));
    QTest::mouseMove(w.GroupBox1, QPoint(120, 92));
    QTest::mouseMove(w.CB, QPoint(10, 10)); // the other controls leave the line as it is
    QTest::mouseMove(w.VOl, QPoint(10, 10));
    QTest::mouseMove(w.VM, QPoint(10, 10));
    QTest::mouseMove(&w, QPoint(100, 125));
    EXPECT_EQ(hints,
              (std::vector<QString>{" Démarrer l'enregistrement", " Transférer dans la console de montage",
                                    " Réglages de l'enregistrement", ""}));

    hints.clear();
    start("h.wav");
    QTest::mouseMove(w.Benr, QPoint(7, 7));
    QTest::mouseMove(w.btransfert, QPoint(5, 5)); // disabled, its hint still shows
    w.Benr->click();
    QTest::mouseMove(w.Benr, QPoint(8, 8));
    EXPECT_EQ(hints,
              (std::vector<QString>{"Arrêter l'enregistrement", " Transférer dans la console de montage",
                                    "Démarrer l'enregistrement"}));

    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), w.Benr->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(w.Benr, &help);
    EXPECT_FALSE(QToolTip::isVisible());
}

TEST_F(RecordingWindowTest, WithoutSourcesTheWindowOpensAndAsksForOne)
{
    for (const std::vector<Device>& devices : {std::vector<Device>{}, std::vector<Device>{card({})}}) {
        SCOPED_TRACE(devices.empty() ? "no sound card" : "no source line");
        boxes.clear();
        offered.clear();
        open(devices);
        TFenr& w = *fenr;
        EXPECT_EQ(w.CB->count(), 0);
        EXPECT_EQ(w.CB->currentIndex(), -1);
        w.CBChange();
        w.VOl->setValue(40);
        w.VOlChange();
        EXPECT_TRUE(mixer->SetCalls().empty());
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

        QString caption, text;
        bool okOnly = false;
        WhenModalShown([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            caption = box->windowTitle();
            text = box->text();
            okOnly = box->buttons().size() == 1 && box->button(QMessageBox::Ok) != nullptr;
            box->button(QMessageBox::Ok)->click();
        });
        choice = target("rien.wav");
        w.Benr->click();
        EXPECT_EQ(caption, "Enregistrement");
        EXPECT_EQ(text, "Sélectionnez la source!");
        EXPECT_TRUE(okOnly);
        EXPECT_TRUE(offered.empty());
        EXPECT_TRUE(boxes.empty());
        expectIdle(" Démarrer l'enregistrement");
        EXPECT_FALSE(fs::exists(dir / "rien.wav"));
        fenr.reset();
    }
}

TEST_F(RecordingWindowTest, ARecorderThatCannotStartLeavesTheWindowIdleAndShowsWhy)
{
    open();
    TFenr& w = *fenr;
    const QImage start0 = glyphOf(w.Benr);

    // The device refuses: its French text in the error box.
    input->FailNextOpen(MMSYSERR_ALLOCATED);
    start("occupe.wav");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].kind, DialogKind::Error);
    EXPECT_EQ(boxes[0].text, "Le périphérique audio est déjà utilisé par un autre programme.");
    expectIdle(" Démarrer l'enregistrement");
    EXPECT_EQ(glyphOf(w.Benr), start0);

    // A folder that does not exist: the file cannot be created.
    boxes.clear();
    start("absent/f.wav");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].kind, DialogKind::Error);
    EXPECT_EQ(boxes[0].text, "Impossible de créer le fichier " + target("absent/f.wav"));
    expectIdle(" Démarrer l'enregistrement");

    // A recorder told to report its errors itself answers false instead: the window says why all the same.
    boxes.clear();
    int reported = 0;
    w.AR.OnError = [&](TWaveAudioIO*) { ++reported; };
    input->FailNextOpen(MMSYSERR_NOMEM);
    start("faux.wav");
    EXPECT_EQ(reported, 1);
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].kind, DialogKind::Error);
    EXPECT_EQ(boxes[0].text, "Mémoire insuffisante pour le périphérique audio.");
    expectIdle(" Démarrer l'enregistrement");
    w.AR.OnError = nullptr;

    // None of these counts as a recording: the next one asks nothing, and records.
    EXPECT_FALSE(w.RecordingMade());
    boxes.clear();
    start("bon.wav");
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(w.AR.Active());
    record(100);
    w.Benr->click();
    expectRecording(dir / "bon.wav", Rate / 10);
}

TEST_F(RecordingWindowTest, ARecorderThatStoppedByItselfIsStoppedWithoutAnError)
{
    open();
    start("seul.wav");
    record(200);
    fenr->AR.Stop(); // as after a write failure, which the recorder reports itself
    fenr->Benr->click();
    EXPECT_TRUE(boxes.empty());
    expectIdle("Démarrer l'enregistrement");
    EXPECT_TRUE(fenr->RecordingMade());
    expectRecording(dir / "seul.wav", Rate / 5);
}

TEST_F(RecordingWindowTest, ClosingTheWindowDoesNotStopTheRecording)
{
    open();
    TFenr& w = *fenr;
    w.show();
    start("long.wav");
    record(300);
    w.close();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.AR.Active());
    record(400); // recorded while the window is hidden
    w.show();
    EXPECT_EQ(w.Tag(), 1);
    w.Benr->click();
    expectRecording(dir / "long.wav", Rate * 7 / 10);
}

TEST_F(RecordingWindowTest, DestroyingTheWindowWhileRecordingCompletesTheFile)
{
    open();
    fenr->show();
    start("fin.wav");
    record(500);
    fenr.reset();
    EXPECT_EQ(input->OpenDevices(), 0);
    EXPECT_TRUE(boxes.empty());
    // The sizes in the file are those of the end, not of the last update while recording.
    expectRecording(dir / "fin.wav", Rate / 2);
}

// The window as the program wires it into the main window.
TEST_F(RecordingWindowTest, TheMainWindowOpensItModallyAndLoadsTheTransfer)
{
    mixer = std::make_shared<VirtualMixerBackend>(std::vector<Device>{card()});
    SetCurrentMixerBackend(mixer);
    TDepart depart;
    TFenr window(&depart);
    depart.SetRecordingWindow(&window);
    window.showHint = [&depart](const QString& hint) { depart.Laide->setText(hint); };
    window.loadRecording = [&depart](const QString& fileName) { return depart.LoadRecording(fileName); };
    window.SD.OnExecute = [this](TSaveDialog& sd) {
        sd.FileName = target("depart.wav");
        return true;
    };

    // The tool button and the menu item show it modally.
    for (int way = 0; way < 2; ++way) {
        bool modal = false;
        WhenModalShown([&](QWidget* shown) {
            modal = shown == &window && window.isModal();
            window.close();
        });
        if (way == 0)
            depart.SpeedButton7->click();
        else
            depart.Transfrerdepuislesonalto1->trigger();
        EXPECT_TRUE(modal) << way;
    }

    // A recording made in the window, then transferred: the main window holds it.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(&window, QPoint(3, 3));
    EXPECT_EQ(depart.Laide->text(), "");
    QTest::mouseMove(window.Benr, QPoint(4, 4));
    EXPECT_EQ(depart.Laide->text(), " Démarrer l'enregistrement");
    window.Benr->click();
    pump();
    record(1000);
    window.Benr->click();
    window.btransfert->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(depart.Editor().RecordingLoaded);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
