// The MP3 save dialog on the offscreen platform: its layout, the hint, the name it proposes, the file
// choice, and whole exports of a small montage read back with the library's decoder, including the ones
// that fail. The dialog is shown modelessly; the file dialog and the message boxes answer through hooks.
#include "mp3/ui/Unit6.h"

#include "audio/TestWaves.h"
#include "montage/Montage.h"
#include "mp3/Mp3Decode.h"
#include "widgets/Dialogs.h"

#include <QComboBox>
#include <QCursor>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const TWaveFormatEx Mono22050 = PcmFormat(1, 22050, 16);
constexpr std::size_t Second = 44100; // frames of the exported file

class Mp3DialogTest : public testing::Test
{
protected:
    Mp3DialogTest()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("sonalto-mp3ui-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "cache");
        m_savedCache = qgetenv("XDG_CACHE_HOME");
        m_hadCache = qEnvironmentVariableIsSet("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(QString::fromStdString((dir / "cache").string())));
        SetDialogHook([this](DialogKind kind, const QString&, const QString& text) {
            boxes.push_back({kind, text});
            return false;
        });
        dialog.showHint = [this](const QString& hint) { hints.push_back(hint); };
        dialog.SDM.OnExecute = [this](TSaveDialog& sdm) {
            offered.push_back(sdm.FileName);
            if (choice.isEmpty())
                return false;
            sdm.FileName = choice;
            return true;
        };
    }
    ~Mp3DialogTest() override
    {
        SetDialogHook(nullptr);
        if (m_hadCache)
            qputenv("XDG_CACHE_HOME", m_savedCache);
        else
            qunsetenv("XDG_CACHE_HOME");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Clips of a 1 kHz tone, one second each, rendered as the montage does it.
    void addClips(int count)
    {
        for (int k = 0; k < count; ++k) {
            const int slot = montage.FirstFreeSlot();
            Tsample& clip = montage.Create("c" + std::to_string(k), "/classe/c.wav", 0, 1000, slot);
            LoadBytes(clip.Storage.Wave(), CanonicalWave(Mono22050, Tones(22050, {{1000, 8000}}, 22050)));
        }
        montage.RestartRender();
    }

    QString target(const std::string& name) const { return QString::fromStdString((dir / name).string()); }

    fs::path temporaryWave() const { return dir / "cache" / "sonalto" / "tempo.wav"; }

    std::vector<std::string> entries(const fs::path& folder) const
    {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(folder))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    // What an export raised, or "no failure".
    std::string failureOf()
    {
        try {
            dialog.SpeedButton1Click();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no failure";
    }

    fs::path dir;
    TMontage montage;
    TFmp3 dialog;
    std::vector<std::pair<DialogKind, QString>> boxes;
    std::vector<QString> hints;
    std::vector<QString> offered; // the file names the file dialog was opened with
    QString choice;               // what the user picks in it; empty: cancelled

private:
    QByteArray m_savedCache;
    bool m_hadCache = false;
};

TEST_F(Mp3DialogTest, LayoutAndDefaults)
{
    EXPECT_EQ(dialog.objectName(), "Fmp3");
    EXPECT_EQ(dialog.windowTitle(), "Sauvegarde mp3");
    EXPECT_EQ(dialog.size(), QSize(217, 168));

    EXPECT_EQ(dialog.Label1->text(), "Sauvegarder sous :");
    EXPECT_EQ(dialog.Label1->geometry(), QRect(8, 8, 129, 17));
    EXPECT_EQ(dialog.Lmp3->text(), "");
    EXPECT_EQ(dialog.Lmp3->geometry(), QRect(8, 24, 201, 33));
    EXPECT_TRUE(dialog.Lmp3->wordWrap());
    EXPECT_EQ(dialog.Lmp3->font().pixelSize(), 13);
    EXPECT_EQ(dialog.SpeedButton4->geometry(), QRect(136, 4, 25, 25));
    EXPECT_FALSE(dialog.SpeedButton4->icon().isNull());
    EXPECT_EQ(dialog.SpeedButton4->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(dialog.GroupBox1->title(), "Paramètres");
    EXPECT_EQ(dialog.GroupBox1->geometry(), QRect(8, 58, 201, 73));
    EXPECT_EQ(dialog.Label3->text(), "Débit :");
    EXPECT_TRUE(dialog.Label3->alignment() & Qt::AlignRight);
    EXPECT_EQ(dialog.Label2->text(), "Kbit / s");
    EXPECT_EQ(dialog.Label5->text(), "Qualité :");
    EXPECT_TRUE(dialog.Label5->alignment() & Qt::AlignRight);
    EXPECT_EQ(dialog.SpeedButton1->text(), "ENREGISTRER EN MP3");
    EXPECT_EQ(dialog.SpeedButton1->geometry(), QRect(8, 138, 201, 25));
    EXPECT_EQ(dialog.SpeedButton1->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
    EXPECT_EQ(dialog.SpeedButton1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(dialog.ProgressBar1->isHidden());

    QStringList bitrates;
    for (int i = 0; i < dialog.CBoxBitRate->count(); ++i)
        bitrates << dialog.CBoxBitRate->itemText(i);
    EXPECT_EQ(bitrates, QStringList({"320", "256", "192", "160", "128", "96"}));
    QStringList qualities;
    for (int i = 0; i < dialog.CBoxQuality->count(); ++i)
        qualities << dialog.CBoxQuality->itemText(i);
    EXPECT_EQ(qualities, QStringList({"Normal", "Faible", "Haute", "Voix"}));
    EXPECT_FALSE(dialog.CBoxBitRate->isEditable());
    EXPECT_EQ(dialog.CBoxBitRate->currentText(), "320");
    EXPECT_EQ(dialog.CBoxQuality->currentText(), "Normal");

    EXPECT_EQ(dialog.SDM.DefaultExt, "mp3");
    EXPECT_EQ(dialog.SDM.Filter, "Fichiers mp3 (*.mp3)");
    EXPECT_EQ(dialog.Lame.DefaultExt, ".mp3");
    EXPECT_EQ(dialog.Lame.SampleRate(), 44100U);
    EXPECT_EQ(dialog.Lame.Mode(), TLameMode::STEREO);
    EXPECT_EQ(dialog.Lame.MaxBitrate(), 320U);
    EXPECT_TRUE(dialog.Lame.CRC());
    EXPECT_FALSE(dialog.Lame.EnableVBR());
}

TEST_F(Mp3DialogTest, HintGoesToTheStatusLineNeverToATooltip)
{
    dialog.show();
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), dialog.SpeedButton4->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.SpeedButton4, &move);
    EXPECT_EQ(hints, std::vector<QString>{" Choix du fichier de sauvegarde"});

    EXPECT_TRUE(dialog.SpeedButton4->toolTip().isEmpty());
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), dialog.SpeedButton4->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(dialog.SpeedButton4, &help);
    EXPECT_FALSE(QToolTip::isVisible());
}

TEST_F(Mp3DialogTest, ProposedNameFollowsTheLastWaveExport)
{
    // An empty montage: nothing happens, the dialog does not show.
    dialog.Lmp3->setText("/tmp/avant.mp3");
    bool shown = false;
    QTimer::singleShot(0, &dialog, [&] {
        shown = dialog.isVisible();
        dialog.done(QDialog::Rejected);
    });
    ExportMp3(dialog, montage);
    EXPECT_FALSE(shown);
    EXPECT_EQ(dialog.Lmp3->text(), "/tmp/avant.mp3");

    // No WAV export yet: no name.
    addClips(1);
    dialog.SDM.InitialDir = "/mes/sons/";
    ASSERT_TRUE(dialog.PrepareExport(montage));
    EXPECT_EQ(dialog.Lmp3->text(), "");
    EXPECT_EQ(dialog.SDM.FileName, "");
    EXPECT_EQ(dialog.SDM.InitialDir, "/mes/sons/"); // left as it was

    // After a WAV export, the same name and folder with the MP3 extension.
    const std::string wave = (dir / "montage été.wav").string();
    montage.ExportWave(wave);
    dialog.CBoxBitRate->setCurrentIndex(4);
    ASSERT_TRUE(dialog.PrepareExport(montage));
    EXPECT_EQ(dialog.Lmp3->text(), target("montage été.mp3"));
    EXPECT_EQ(dialog.SDM.FileName, target("montage été.mp3"));
    EXPECT_EQ(dialog.SDM.InitialDir, QString::fromStdString(dir.string() + "/"));
    EXPECT_EQ(dialog.CBoxBitRate->currentText(), "128"); // the settings stay between two showings

    // Whatever the last four characters are, they make way for ".mp3".
    montage.WaveExportFileName = "/sons/montage";
    dialog.PrepareExport(montage);
    EXPECT_EQ(dialog.Lmp3->text(), "/sons/mon.mp3");
    montage.WaveExportFileName = "sans";
    dialog.PrepareExport(montage);
    EXPECT_EQ(dialog.Lmp3->text(), ".mp3");
    EXPECT_EQ(dialog.SDM.InitialDir, "");
}

TEST_F(Mp3DialogTest, FileChoice)
{
    addClips(1);
    montage.WaveExportFileName = (dir / "m.wav").string();
    dialog.PrepareExport(montage);

    dialog.SpeedButton4Click(); // cancelled
    EXPECT_EQ(offered, std::vector<QString>{target("m.mp3")});
    EXPECT_EQ(dialog.Lmp3->text(), target("m.mp3"));

    choice = target("autre.mp3");
    dialog.SpeedButton4Click();
    EXPECT_EQ(dialog.Lmp3->text(), target("autre.mp3"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Mp3DialogTest, NoFileChosenStopsWithAMessage)
{
    addClips(1);
    dialog.PrepareExport(montage);
    dialog.show();
    dialog.SpeedButton1Click();
    EXPECT_EQ(offered.size(), 1U); // the file choice came first
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].first, DialogKind::Message);
    EXPECT_EQ(boxes[0].second, "Pas de fichier sélectionné !");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.Exporting());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(fs::exists(dir / "cache" / "sonalto"));
    EXPECT_TRUE(dialog.Lame.InputFiles().empty());
}

TEST_F(Mp3DialogTest, ExportWritesTheMontageAndCloses)
{
    addClips(2);
    montage.CompleteRender();
    dialog.PrepareExport(montage);
    choice = target("montage été.mp3"); // chosen at the click, the path being empty
    dialog.CBoxBitRate->setCurrentText("192");
    dialog.CBoxQuality->setCurrentText("Haute");
    dialog.show();

    // What the window looks like while the encoder works.
    std::vector<int> values;
    bool checkedWhileRunning = false;
    QObject::connect(dialog.ProgressBar1, &QProgressBar::valueChanged, &dialog, [&](int value) {
        if (value == 0)
            return;
        values.push_back(value);
        if (checkedWhileRunning)
            return;
        checkedWhileRunning = true;
        EXPECT_TRUE(dialog.Exporting());
        EXPECT_FALSE(dialog.SpeedButton1->isEnabled());
        EXPECT_FALSE(dialog.SpeedButton4->isEnabled());
        EXPECT_TRUE(dialog.ProgressBar1->isVisible());
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        EXPECT_TRUE(fs::exists(temporaryWave()));
        // Neither Escape nor the window's close box ends an export.
        dialog.reject();
        dialog.close();
        EXPECT_TRUE(dialog.isVisible());
    });
    QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);

    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].second.toStdString());
    EXPECT_TRUE(checkedWhileRunning);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.Exporting());
    EXPECT_TRUE(dialog.SpeedButton1->isEnabled());
    EXPECT_TRUE(dialog.ProgressBar1->isHidden());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), 100);
    EXPECT_EQ(dialog.Lmp3->text(), choice);
    EXPECT_EQ(dialog.Lame.Quality(), MPEG_QUALITY::HIGH_QUALITY);

    // The temporary file is gone; its folder is the user's alone.
    EXPECT_FALSE(fs::exists(temporaryWave()));
    struct stat folder = {};
    ASSERT_EQ(::stat(temporaryWave().parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700U);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"cache", "montage été.mp3"}));
    EXPECT_EQ(dialog.W3.Wave().Size(), 0U);

    // Two seconds of the montage's 1 kHz tone, now stereo 44.1 kHz at 192 kbit/s.
    const Bytes mp3 = ReadFileBytes((dir / "montage été.mp3").string());
    const FrameWalk walk = WalkFrames(mp3);
    ASSERT_TRUE(walk.complete);
    for (const Mp3Frame& f : walk.frames) {
        ASSERT_EQ(f.bitrate, 192);
        ASSERT_EQ(f.sampleRate, 44100);
        ASSERT_EQ(f.mode, 0);
    }
    const DecodedMp3 d = DecodeMp3(mp3);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.channels, 2);
    ASSERT_GE(d.left.size() + 2, 2 * Second + CodecDelay);
    EXPECT_LT(d.left.size(), 2 * Second + CodecDelay + FrameSamples);
    for (const auto* channel : {&d.left, &d.right}) {
        EXPECT_NEAR(ToneAmplitude(*channel, 1000, 44100, CodecDelay + 4410, 16 * Second / 10), 8000, 880);
        EXPECT_LT(ResidualRms(*channel, 1000, 44100, CodecDelay + 4410, 16 * Second / 10), 300);
    }
}

TEST_F(Mp3DialogTest, ExportReplacesAFileAndFinishesARenderUnderWay)
{
    addClips(3);
    montage.RenderStep(); // one clip of three rendered
    const QString path = target("montage.mp3");
    WriteFileBytes(path.toStdString(), Bytes(5000, 'x'));
    dialog.PrepareExport(montage);
    dialog.Lmp3->setText(path);
    dialog.CBoxBitRate->setCurrentText("96");
    dialog.CBoxQuality->setCurrentText("Voix");
    dialog.show();
    dialog.SpeedButton1Click();

    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(offered.empty()); // a path was there: no file choice
    EXPECT_TRUE(montage.RenderFinished);
    EXPECT_EQ(dialog.Lame.Quality(), MPEG_QUALITY::VOICE_QUALITY);
    const Bytes mp3 = ReadFileBytes(path.toStdString());
    const FrameWalk walk = WalkFrames(mp3);
    ASSERT_TRUE(walk.complete);
    EXPECT_EQ(walk.frames.front().bitrate, 96);
    const DecodedMp3 d = DecodeMp3(mp3);
    ASSERT_TRUE(d.ok);
    EXPECT_GE(d.left.size() + 2, 3 * Second + CodecDelay);
    EXPECT_LT(d.left.size(), 3 * Second + CodecDelay + FrameSamples);
    EXPECT_FALSE(dialog.isVisible());
}

// Files may grow no further than bytes (as on a full disk) while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_signal)(int) = nullptr;
};

TEST_F(Mp3DialogTest, AFailedExportKeepsThePreviousFileAndLeavesNothingBehind)
{
    addClips(2);
    const QString path = target("montage.mp3");
    const Bytes previous(3000, 'p');
    WriteFileBytes(path.toStdString(), previous);
    dialog.PrepareExport(montage);
    dialog.Lmp3->setText(path);
    dialog.show();

    // The disk fills up once the encoder has started.
    std::unique_ptr<FileSizeLimit> full;
    const QMetaObject::Connection filling =
        QObject::connect(dialog.ProgressBar1, &QProgressBar::valueChanged, &dialog, [&](int value) {
            if (value > 0 && !full)
                full = std::make_unique<FileSizeLimit>(fs::file_size(path.toStdString() + ".sonalto-tmp"));
        });
    QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
    QObject::disconnect(filling);
    ASSERT_TRUE(full);
    full.reset();

    // The general error box tells it; the dialog stays, ready for another try.
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].first, DialogKind::Error);
    EXPECT_EQ(boxes[0].second, "Write Error");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.Exporting());
    EXPECT_TRUE(dialog.SpeedButton1->isEnabled());
    EXPECT_TRUE(dialog.SpeedButton4->isEnabled());
    EXPECT_TRUE(dialog.ProgressBar1->isHidden());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ReadFileBytes(path.toStdString()), previous);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"cache", "montage.mp3"}));
    EXPECT_FALSE(fs::exists(temporaryWave()));
    EXPECT_EQ(dialog.W3.Wave().Size(), 0U);

    // The next try goes through.
    dialog.SpeedButton1Click();
    EXPECT_EQ(boxes.size(), 1U);
    EXPECT_TRUE(WalkFrames(ReadFileBytes(path.toStdString())).complete);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(Mp3DialogTest, ATargetThatCannotBeReplacedIsLeftAsItWas)
{
    addClips(1);
    // The target is a folder holding a file: the finished file cannot take its place.
    const fs::path folder = dir / "montage.mp3";
    fs::create_directory(folder);
    WriteFileBytes((folder / "notes.txt").string(), Bytes{'a'});
    dialog.PrepareExport(montage);
    dialog.Lmp3->setText(QString::fromStdString(folder.string()));
    dialog.show();
    EXPECT_EQ(failureOf(), "Impossible de créer le fichier " + folder.string());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(entries(folder), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"cache", "montage.mp3"}));
    EXPECT_FALSE(fs::exists(temporaryWave()));
    EXPECT_TRUE(dialog.isVisible());

    // A folder that does not exist, the same.
    const std::string nowhere = (dir / "absent" / "m.mp3").string();
    dialog.Lmp3->setText(QString::fromStdString(nowhere));
    EXPECT_EQ(failureOf(), "Impossible de créer le fichier " + nowhere);
    EXPECT_FALSE(dialog.Exporting());
}

TEST_F(Mp3DialogTest, TemporaryFileIsOneFixedPathInAPrivateFolder)
{
    const fs::path folder = dir / "cache" / "sonalto";
    EXPECT_EQ(Mp3TemporaryWaveFile(), (folder / "tempo.wav").string());
    EXPECT_EQ(Mp3TemporaryWaveFile(), (folder / "tempo.wav").string());
    struct stat info = {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700U);

    // A folder opened to others is closed again.
    fs::permissions(folder, fs::perms::all);
    Mp3TemporaryWaveFile();
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700U);

    // A link or a file in its place is not a folder of the user's own.
    fs::remove_all(folder);
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", folder);
    EXPECT_THROW(Mp3TemporaryWaveFile(), EFCreateError);
    fs::remove(folder);
    WriteFileBytes(folder.string(), Bytes{1});
    EXPECT_THROW(Mp3TemporaryWaveFile(), EFCreateError);
}

TEST_F(Mp3DialogTest, AMontageTheConversionRefusesIsNotEncoded)
{
    // A montage the conversion to stereo 44100 Hz cannot take (in the program: one of over six and a
    // half hours); here, a render that is not PCM.
    addClips(1);
    montage.CompleteRender();
    TWaveFormatEx floats = PcmFormat(1, 22050, 32);
    floats.wFormatTag = 3;
    montage.WT.SetWave(MakeWave(floats, Bytes(4 * 22050, 0)).get());
    dialog.PrepareExport(montage);
    dialog.Lmp3->setText(target("montage.mp3"));
    dialog.show();
    EXPECT_EQ(failureOf(),
              "Le montage n'a pas pu être converti en stéréo 44100 Hz (il est sans doute trop long) : "
              "le fichier mp3 n'a pas été enregistré.");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"cache"});
    EXPECT_FALSE(fs::exists(temporaryWave()));
    EXPECT_FALSE(dialog.Exporting());
    EXPECT_TRUE(dialog.isVisible());
}

} // namespace
