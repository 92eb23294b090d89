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
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QString WaveFilter = QStringLiteral("FIchiers Wave (*.wav)");
const QString SoundFilter = QStringLiteral("Tous les fichiers son (*.wav *.mp3 *.m4a *.aac *.ogg *.oga "
                                           "*.opus *.flac *.wma *.3gp *.amr *.mp4 *.webm)");

QString q(const std::string& path)
{
    return QString::fromStdString(path);
}

const std::string& mp3()
{
    static const std::string file =
        Lame(WriteOnsetSine("fenetre.wav", 44100, 2, 2), {"-b", "128"}, "fenetre.mp3");
    return file;
}

class OpenFilesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetCurrentWaveOutBackend(std::make_shared<VirtualWaveOutBackend>());
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

    // Runs the open command, answering its dialog after noting the filters it offers.
    void openWith(std::function<void(QFileDialog&)> act)
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
        window->ChargeTSAClick();
    }

    // Drags the urls onto the window and drops them; true when the window took the drop.
    bool drop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropped);
        QTest::qWait(50); // the file opens once the drop is over
        return dropped.isAccepted();
    }

    std::unique_ptr<TDepart> window;
    std::vector<QString> shown;
    bool answer = false;
    QStringList filters;
    QString selectedFilter;
};

TEST_F(OpenFilesTest, DialogOffersWavesFirstThenEverySoundAndRemembersTheFilterUsed)
{
    openWith([](QFileDialog& d) {
        d.selectNameFilter(SoundFilter);
        d.reject();
    });
    EXPECT_EQ(filters, (QStringList{WaveFilter, SoundFilter}));
    EXPECT_EQ(selectedFilter, WaveFilter);
    EXPECT_FALSE(window->Editor().RecordingLoaded);
    openWith([](QFileDialog& d) {
        d.selectFile(q(mp3()));
        static_cast<QDialog&>(d).accept(); // as the Open button does
    });
    EXPECT_EQ(selectedFilter, SoundFilter); // as left the time before
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_EQ(window->Label11->text(), "44100 Hz 16 B");
    EXPECT_EQ(window->Label1->text(), " 00-02.000 ");
    EXPECT_TRUE(shown.empty());
    openWith([](QFileDialog& d) {
        d.selectNameFilter(WaveFilter);
        d.reject();
    });
    openWith([](QFileDialog& d) { d.reject(); });
    EXPECT_EQ(selectedFilter, WaveFilter);
}

TEST_F(OpenFilesTest, DroppedFilesOpenAsTheirKindOrAreRefused)
{
    // Qt gives a drop to the first widget up from the pointer that takes drops: nothing between the
    // waveform box (or a label) and the window may take them.
    for (QWidget* w : {static_cast<QWidget*>(window->PB), static_cast<QWidget*>(window->Label1)}) {
        while (w && !w->acceptDrops())
            w = w->parentWidget();
        EXPECT_EQ(w, window.get());
    }
    const std::string wav = WriteOnsetSine("projet-source.wav", 22050, 1, 1);
    ASSERT_TRUE(window->LoadRecording(q(wav)));
    TMontage& m = window->Montage();
    ASSERT_TRUE(m.AddClip("Un", window->Editor().WS1.Wave(), wav, 0, 500));
    const std::string project = SoundPath("depose.snt");
    window->SaveProjectAs(q(project));
    window->BnewClick();

    // Not a local file: the window does not take it.
    EXPECT_FALSE(drop({}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/son.mp3"))}));
    // A sound file, among other things dragged along: the first local file opens.
    ASSERT_TRUE(drop({QUrl(QStringLiteral("https://example.org/a.mp3")), QUrl::fromLocalFile(q(mp3()))}));
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_EQ(window->Label11->text(), "44100 Hz 16 B");
    EXPECT_TRUE(shown.empty());
    // No sound: refused as the dialog's choice would be, the recording stays.
    ASSERT_TRUE(drop({QUrl::fromLocalFile(q(WriteBytes("notes.mp3", Bytes(3000, 'x'))))}));
    EXPECT_EQ(shown, std::vector<QString>{"Sonalto : Format non reconnu..."});
    EXPECT_EQ(window->Editor().SourceFileName, mp3());

    // A project over an unsaved montage: the question first, and No keeps the montage.
    ASSERT_TRUE(m.AddClip("Deux", window->Editor().WS1.Wave(), mp3(), 0, 700));
    ASSERT_TRUE(drop({QUrl::fromLocalFile(q(project))}));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], "ALERTE : Le montage en cours n'a pas été enregistré. Continuer quand même ?");
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(m.ClipAt(0)->Title, "Deux");
    answer = true;
    ASSERT_TRUE(drop({QUrl::fromLocalFile(q(project))}));
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(m.ClipAt(0)->Title, "Un");
    EXPECT_EQ(window->Editor().SourceFileName, mp3()); // a project leaves the recording alone
}

TEST_F(OpenFilesTest, CommandLineFileOpensAsARecordingOrAProject)
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
        {{"sonalto", "--help"}, {}},
        {{"sonalto", "/tmp/a#b?.mp3"}, "/tmp/a#b?.mp3"}};
    for (const auto& [arguments, file] : rows)
        EXPECT_EQ(TDepart::CommandLineFile(arguments), file) << arguments.join(' ').toStdString();

    // What main() does with the argument.
    const auto open = [this](const std::string& argument) {
        Guarded([&] { window->OpenFile(TDepart::CommandLineFile({"sonalto", q(argument)})); });
    };
    open(mp3());
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    TMontage& m = window->Montage();
    ASSERT_TRUE(m.AddClip("Extrait", window->Editor().WS1.Wave(), mp3(), 250, 1250));
    window->SaveProjectAs(q(SoundPath("ligne.snt")));
    const SampleVector cut = WaveSamples(m.ClipAt(0)->Storage.Wave());
    window->BnewClick();
    open(SoundPath("ligne.snt"));
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(WaveSamples(m.ClipAt(0)->Storage.Wave()), cut);
    open(SoundPath("absent.mp3"));
    EXPECT_EQ(shown, std::vector<QString>{"erreur : Sonalto : Impossible d'ouvrir le fichier " +
                                          q(SoundPath("absent.mp3"))});
}

TEST_F(OpenFilesTest, LongDecodeShowsAProgressDialogWhoseCancelKeepsTheRecording)
{
    const std::string wav = WriteOnsetSine("avant-annule.wav", 8000, 1, 1);
    ASSERT_TRUE(window->LoadRecording(q(wav)));
    TDecodeProgressDialog::ShowAfterMs = 0;
    QString text;
    QString button;
    bool modal = false;
    TDecodeProgressDialog::OnShown = [&](QProgressDialog& dialog) {
        text = dialog.labelText();
        modal = dialog.windowModality() == Qt::ApplicationModal && dialog.isVisible();
        for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
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
    EXPECT_EQ(window->Label11->text(), "8000 Hz 16 B");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Left alone, the dialog goes with the end of the decode.
    TDecodeProgressDialog::OnShown = [](QProgressDialog&) {};
    EXPECT_TRUE(window->LoadRecording(q(mp3())));
    EXPECT_EQ(window->Editor().SourceFileName, mp3());
    EXPECT_TRUE(window->findChildren<QProgressDialog*>().isEmpty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
