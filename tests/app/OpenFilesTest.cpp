// Opening recordings of every format from the main window: the open dialog's filters, a file dropped on
// the window, the file named on the command line, and the progress dialog of a long decode.
#include "app/Unit1.h"
#include "audio/SoundFiles.h"
#include "editor/ui/DecodeProgress.h"
#include "editor/ui/WaveformBox.h"
#include "platform/sound/virtual/VirtualWaveOut.h"
#include "widgets/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QString WaveFilter = QStringLiteral("FIchiers Wave (*.wav)");
const QString SoundFilter = QStringLiteral("Tous les fichiers son (*.wav *.mp3 *.m4a *.aac *.ogg *.oga "
                                           "*.opus *.flac *.wma *.3gp *.amr *.mp4 *.webm)");

class OpenFilesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        device = std::make_shared<VirtualWaveOutBackend>();
        SetCurrentWaveOutBackend(device);
        SetDialogHook([this](DialogKind kind, const QString& caption, const QString& text) {
            shown.push_back((kind == DialogKind::Error ? "erreur : " : "") + caption + " : " + text);
            return answer;
        });
        window = std::make_unique<TDepart>();
        window->FormCreate(QRect(0, 0, 800, 600));
        window->show();
    }
    void TearDown() override
    {
        TDecodeProgressDialog::ShowAfterMs = 500;
        TDecodeProgressDialog::OnShown = {};
        window.reset();
        SetDialogHook({});
        SetCurrentWaveOutBackend(nullptr);
    }

    static QString q(const std::string& path) { return QString::fromStdString(path); }

    static const std::string& mp3()
    {
        static const std::string file =
            Lame(WriteOnsetSine("fenetre.wav", 44100, 2, 2), {"-b", "128"}, "fenetre.mp3");
        return file;
    }

    // Answers the next modal file dialog the window runs, after noting its filters.
    void answerFileDialog(std::function<void(QFileDialog&)> act)
    {
        QTimer::singleShot(0, [this, act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                ADD_FAILURE() << "no file dialog";
                return;
            }
            filters = dialog->nameFilters();
            selectedFilter = dialog->selectedNameFilter();
            act(*dialog);
        });
    }

    // Drags data onto the window and drops it there; true when the window took the drop.
    bool drop(const QMimeData& data)
    {
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropped);
        if (!dropped.isAccepted())
            return false;
        // The file opens once the drop is over.
        QTest::qWait(50);
        return true;
    }

    std::shared_ptr<VirtualWaveOutBackend> device;
    std::unique_ptr<TDepart> window;
    std::vector<QString> shown;
    bool answer = false;
    QStringList filters;
    QString selectedFilter;
};

TEST_F(OpenFilesTest, DialogOffersWavesFirstThenEverySoundAndRemembersTheFilterUsed)
{
    answerFileDialog([](QFileDialog& d) {
        d.selectNameFilter(SoundFilter);
        d.reject();
    });
    window->ChargeTSAClick();
    EXPECT_EQ(filters, (QStringList{WaveFilter, SoundFilter}));
    EXPECT_EQ(selectedFilter, WaveFilter);
    EXPECT_FALSE(window->Editor().RecordingLoaded);

    answerFileDialog([](QFileDialog& d) {
        d.selectFile(q(mp3()));
        static_cast<QDialog&>(d).accept(); // as the Open button does
    });
    window->ChargeTSAClick();
    EXPECT_EQ(selectedFilter, SoundFilter); // as left the time before
    ASSERT_TRUE(window->Editor().RecordingLoaded);
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_EQ(window->Label11->text(), "44100 Hz 16 B");
    EXPECT_EQ(window->Label1->text(), " 00-02.000 ");
    EXPECT_TRUE(shown.empty());

    answerFileDialog([](QFileDialog& d) {
        d.selectNameFilter(WaveFilter);
        d.reject();
    });
    window->ChargeTSAClick();
    answerFileDialog([](QFileDialog& d) { d.reject(); });
    window->ChargeTSAClick();
    EXPECT_EQ(selectedFilter, WaveFilter);
}

TEST_F(OpenFilesTest, DropsOnTheWaveformBoxReachTheWindow)
{
    // Qt gives a drop to the first widget up from the pointer that takes drops: nothing between the
    // waveform box and the window may take them.
    QWidget* target = window->PB;
    while (target && !target->acceptDrops())
        target = target->parentWidget();
    EXPECT_EQ(target, window.get());
    for (QWidget* w : {static_cast<QWidget*>(window->Label1), static_cast<QWidget*>(window->SB)}) {
        while (w && !w->acceptDrops())
            w = w->parentWidget();
        EXPECT_EQ(w, window.get());
    }
}

TEST_F(OpenFilesTest, DroppedFilesOpenAsTheirKindOrAreRefused)
{
    // A project of one clip, saved, from a wave.
    const std::string wav = WriteOnsetSine("projet-source.wav", 22050, 1, 1);
    ASSERT_TRUE(window->LoadRecording(q(wav)));
    TMontage& m = window->Montage();
    ASSERT_TRUE(m.AddClip("Un", window->Editor().WS1.Wave(), wav, 0, 500));
    const std::string project = SoundPath("depose.snt");
    window->SaveProjectAs(q(project));
    window->BnewClick();
    ASSERT_EQ(m.ClipCount, 0);

    // Not a file: the window does not even take it.
    QMimeData text;
    text.setText(QStringLiteral("bonjour"));
    EXPECT_FALSE(drop(text));
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/son.mp3"))});
    EXPECT_FALSE(drop(web));

    // A sound file, among other things dragged along: the first local file opens.
    QMimeData sound;
    sound.setUrls({QUrl(QStringLiteral("https://example.org/a.mp3")), QUrl::fromLocalFile(q(mp3()))});
    ASSERT_TRUE(drop(sound));
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_EQ(window->Label11->text(), "44100 Hz 16 B");
    EXPECT_TRUE(shown.empty());

    // Something that is no sound: refused as the dialog's choice would be, the recording stays.
    QMimeData notes;
    notes.setUrls({QUrl::fromLocalFile(q(WriteBytes("notes.mp3", Bytes(3000, 'x'))))});
    ASSERT_TRUE(drop(notes));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Sonalto : Format non reconnu...");
    EXPECT_EQ(window->Editor().SourceFileName, mp3());

    // A project, over an unsaved montage: the question first; No keeps the montage.
    ASSERT_TRUE(m.AddClip("Deux", window->Editor().WS1.Wave(), mp3(), 0, 700));
    ASSERT_FALSE(m.MontageSaved);
    QMimeData snt;
    snt.setUrls({QUrl::fromLocalFile(q(project))});
    answer = false;
    ASSERT_TRUE(drop(snt));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], "ALERTE : Le montage en cours n'a pas été enregistré. Continuer quand même ?");
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(m.ClipAt(0)->Title, "Deux");
    answer = true;
    ASSERT_TRUE(drop(snt));
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(m.ClipAt(0)->Title, "Un");
    EXPECT_TRUE(m.MontageSaved);
    // The recording is not touched by a project.
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
}

TEST_F(OpenFilesTest, CommandLineNamesOneFileMadeAbsolute)
{
    const QString here = QDir::currentPath();
    const std::vector<std::pair<QStringList, QString>> rows = {
        {{"sonalto"}, {}},
        {{"sonalto", ""}, {}},
        {{"sonalto", "/tmp/classe/chant.mp3"}, "/tmp/classe/chant.mp3"},
        {{"sonalto", "chant.ogg"}, here + "/chant.ogg"},
        {{"sonalto", "../montage.snt"}, QDir::cleanPath(here + "/../montage.snt")},
        {{"sonalto", "file:///tmp/un%20son.flac"}, "/tmp/un son.flac"},
        {{"sonalto", "--", "-tiret.mp3"}, here + "/-tiret.mp3"},
        {{"sonalto", "/tmp/a#b?.mp3"}, "/tmp/a#b?.mp3"},
    };
    for (const auto& [arguments, file] : rows)
        EXPECT_EQ(TDepart::CommandLineFile(arguments), file) << arguments.join(' ').toStdString();
}

TEST_F(OpenFilesTest, CommandLineFileOpensAsARecordingOrAProject)
{
    // What main() does with the argument.
    const auto open = [this](const QString& argument) {
        Guarded([&] { window->OpenFile(TDepart::CommandLineFile({"sonalto", argument})); });
    };
    open(q(mp3()));
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_EQ(window->Label11->text(), "44100 Hz 16 B");

    TMontage& m = window->Montage();
    ASSERT_TRUE(m.AddClip("Extrait", window->Editor().WS1.Wave(), mp3(), 250, 1250));
    const std::string project = SoundPath("ligne.snt");
    window->SaveProjectAs(q(project));
    const std::vector<std::int16_t> cut = WaveSamples(m.ClipAt(0)->Storage.Wave());
    window->BnewClick();
    open(q(project));
    EXPECT_TRUE(shown.empty()); // saved: no question
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(WaveSamples(m.ClipAt(0)->Storage.Wave()), cut);

    open(q(SoundPath("absent.mp3")));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "erreur : Sonalto : Impossible d'ouvrir le fichier " + q(SoundPath("absent.mp3")));
}

TEST_F(OpenFilesTest, LongDecodeShowsAProgressDialogWhoseCancelKeepsTheRecording)
{
    const std::string wav = WriteOnsetSine("avant-annule.wav", 8000, 1, 1);
    ASSERT_TRUE(window->LoadRecording(q(wav)));
    const QString label = window->Label11->text();

    TDecodeProgressDialog::ShowAfterMs = 0;
    QString text;
    QString button;
    bool modal = false;
    TDecodeProgressDialog::OnShown = [&](QProgressDialog& dialog) {
        text = dialog.labelText();
        modal = dialog.windowModality() == Qt::ApplicationModal && dialog.isVisible();
        for (QPushButton* b : dialog.findChildren<QPushButton*>())
            if (b->isVisible()) {
                button = b->text();
                QTest::mouseClick(b, Qt::LeftButton);
            }
    };
    EXPECT_FALSE(window->LoadRecording(q(mp3())));
    EXPECT_EQ(text, "Ouverture du fichier son en cours...");
    EXPECT_EQ(button, "Annuler");
    EXPECT_TRUE(modal);
    EXPECT_TRUE(shown.empty()); // a cancel is no refusal
    EXPECT_EQ(window->Editor().SourceFileName, wav);
    EXPECT_EQ(window->Label11->text(), label);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Left alone, the dialog goes with the end of the decode.
    TDecodeProgressDialog::OnShown = [&](QProgressDialog&) {};
    EXPECT_TRUE(window->LoadRecording(q(mp3())));
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_TRUE(window->findChildren<QProgressDialog*>().isEmpty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
