// The main window on the offscreen platform: layout, status line, loading and the pixels of the
// waveform box after the view commands.
#include "app/Unit1.h"
#include "audio/TestWaves.h"
#include "editor/ui/WaveformBox.h"
#include "montage/ui/OverviewBox.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Shown
{
    DialogKind kind;
    QString caption;
    QString text;
};

// Records the boxes the window would show.
class MainWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetDialogHook([this](DialogKind kind, const QString& caption, const QString& text) {
            shown.push_back({kind, caption, text});
            return false;
        });
    }
    void TearDown() override { SetDialogHook({}); }

    static std::string folder()
    {
        static const std::string f = [] {
            std::string pattern = testing::TempDir() + "sonalto-window-XXXXXX";
            return std::string(mkdtemp(pattern.data())) + "/";
        }();
        return f;
    }

    static QString writeFile(const std::string& name, const Bytes& bytes)
    {
        const std::string path = folder() + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return QString::fromStdString(path);
    }

    // Mono 16-bit at 8000 Hz where sample i is i * step.
    static QString ramp(const std::string& name, std::size_t count, int step)
    {
        std::vector<std::int16_t> s(count);
        for (std::size_t i = 0; i < count; ++i)
            s[i] = static_cast<std::int16_t>(static_cast<int>(i) * step);
        return writeFile(name, CanonicalWave(PcmFormat(1, 8000, 16), Pcm16(s)));
    }

    std::vector<Shown> shown;
};

struct Expected
{
    QRect workArea;
    QSize size;
    int pbWidth, sb1Width, laideTop, pb2Height, sdroite, ssdroite, label12, bmp3, bwave, bjt, bajoute, baide,
        label11, label2, label1;
};

class LayoutTest : public MainWindowTest, public testing::WithParamInterface<Expected>
{
};

TEST_P(LayoutTest, FollowsTheWorkArea)
{
    const Expected& e = GetParam();
    TDepart w;
    w.FormCreate(e.workArea);
    EXPECT_EQ(w.size(), e.size);
    EXPECT_EQ(w.pos(), e.workArea.topLeft());
    EXPECT_EQ(w.PB->geometry(), QRect(8, 40, e.pbWidth, 145));
    EXPECT_EQ(w.SB->geometry(), QRect(8, 192, e.pbWidth, 17));
    EXPECT_EQ(w.Bevel1->geometry(), QRect(0, 216, e.size.width(), 9));
    EXPECT_EQ(w.Laide->geometry(), QRect(8, e.laideTop, e.pbWidth, 17));
    EXPECT_EQ(w.SB1->geometry(), QRect(32, 256, e.sb1Width, 124));
    EXPECT_EQ(w.PB2->geometry(), QRect(8, 392, e.pbWidth, e.pb2Height));
    EXPECT_EQ(w.Sdroite->x(), e.sdroite);
    EXPECT_EQ(w.SSdroite->x(), e.ssdroite);
    EXPECT_EQ(w.Label12->x(), e.label12);
    EXPECT_EQ(w.Bmp3->x(), e.bmp3);
    EXPECT_EQ(w.Bwave->x(), e.bwave);
    EXPECT_EQ(w.BjT->x(), e.bjt);
    EXPECT_EQ(w.Bajoute->x(), e.bajoute);
    EXPECT_EQ(w.Baide->x(), e.baide);
    EXPECT_EQ(w.Label11->x(), e.label11);
    EXPECT_EQ(w.Label2->x(), e.label2);
    EXPECT_EQ(w.Label1->x(), e.label1);
    EXPECT_EQ(w.Editor().BoxWidth, e.pbWidth);
    // The whole window, and the status line in it, lie within the work area.
    EXPECT_TRUE(e.workArea.contains(w.frameGeometry()));
    EXPECT_TRUE(e.workArea.contains(QRect(w.Laide->mapToGlobal(QPoint(0, 0)), w.Laide->size())));
}

INSTANTIATE_TEST_SUITE_P(
    WorkAreas, LayoutTest,
    testing::Values(
        // A work area from the screen's origin.
        Expected{{0, 0, 1280, 800},
                 {1280, 799},
                 1256,
                 1212,
                 727,
                 323,
                 1244,
                 1261,
                 1171,
                 1122,
                 1073,
                 1008,
                 627,
                 1239,
                 1134,
                 885,
                 812},
        // A top bar (GNOME's), then a dock at the left: the window fills the area, not more.
        Expected{{0, 32, 1366, 736},
                 {1366, 735},
                 1342,
                 1298,
                 663,
                 259,
                 1330,
                 1347,
                 1257,
                 1208,
                 1159,
                 1094,
                 670,
                 1325,
                 1220,
                 971,
                 898},
        Expected{{64, 0, 1302, 768},
                 {1302, 767},
                 1278,
                 1234,
                 695,
                 291,
                 1266,
                 1283,
                 1193,
                 1144,
                 1095,
                 1030,
                 638,
                 1261,
                 1156,
                 907,
                 834}));

TEST_F(MainWindowTest, StartsWithEmptyLabelsAndTheSaveCommandsDisabled)
{
    TDepart w;
    EXPECT_EQ(w.windowTitle(), "Sonalto");
    EXPECT_TRUE(w.Label1->text().isEmpty());
    EXPECT_TRUE(w.Label2->text().isEmpty());
    EXPECT_TRUE(w.Label11->text().isEmpty());
    EXPECT_TRUE(w.Laide->text().isEmpty());
    for (QWidget* control : {static_cast<QWidget*>(w.Bmp3), static_cast<QWidget*>(w.Bsauver),
                             static_cast<QWidget*>(w.Bwave), static_cast<QWidget*>(w.BjT)})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    for (QAction* item :
         {w.Sauvergarderunprojet1, w.Exporterlemontageauformatwave1, w.Exporterlemontageauformatmp31})
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    for (QAction* item : {w.Nouveauprojet1, w.Ouvrirunprojet1, w.Quitter1, w.Ouvrirunenregistrement1,
                          w.Zoomavant1, w.Zoomarrire1, w.Vueentire1, w.Zoomsurlaslection1, w.Quitter2})
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
    EXPECT_EQ(w.Zoomarrire1->text(), "Zoom arrière");
    EXPECT_EQ(w.Quitter2->text(), "Quitter");
    // Hints are for the status line, never tooltips.
    for (QToolButton* button : w.findChildren<QToolButton*>())
        EXPECT_TRUE(button->toolTip().isEmpty());
}

TEST_F(MainWindowTest, StatusLineFollowsTheMouse)
{
    TDepart w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseMove(w.BjoueB, QPoint(5, 5));
    EXPECT_EQ(w.Laide->text(), " Ecouter tout");
    QTest::mouseMove(w.SpeedButton5, QPoint(5, 5));
    EXPECT_EQ(w.Laide->text(), " Zomm avant");
    QTest::mouseMove(w.Bwave, QPoint(5, 5)); // disabled, but its hint still says what it is for
    EXPECT_EQ(w.Laide->text(), " Sauvergarder le montage final au format wave.");
    QTest::mouseMove(w.Bajoute, QPoint(5, 5));
    EXPECT_EQ(w.Laide->text(), " Ajouter la sélection au montage");
    // Onto the montage strip: the last hint stays.
    QTest::mouseMove(w.SB1->viewport(), QPoint(10, 10));
    EXPECT_EQ(w.Laide->text(), " Ajouter la sélection au montage");
    QTest::mouseMove(w.Label2, QPoint(5, 5));
    EXPECT_EQ(w.Laide->text(), " Paramètres de la sélection");
    QTest::mouseMove(w.Label12, QPoint(5, 5));
    EXPECT_EQ(w.Laide->text(), " Durée totale");
    // The bare window surface empties it.
    QTest::mouseMove(w.centralWidget(), QPoint(3, 100));
    EXPECT_EQ(w.Laide->text(), "");
    // The waveform box shows its help only once a recording is there.
    w.Laide->setText("x");
    QTest::mouseMove(w.PB, QPoint(20, 20));
    EXPECT_EQ(w.Laide->text(), "");
    ASSERT_TRUE(w.LoadRecording(ramp("hint.wav", 1000, 1)));
    QTest::mouseMove(w.PB, QPoint(21, 20));
    EXPECT_EQ(w.Laide->text(), " Clic gauche pour marquer le début / Clic droit pour marquer la fin");
}

TEST_F(MainWindowTest, EditorCommandsDoNothingBeforeALoad)
{
    TDepart w;
    for (QAction* item : {w.Zoomavant1, w.Zoomarrire1, w.Vueentire1, w.Zoomsurlaslection1})
        item->trigger();
    for (QToolButton* button : {w.SpeedButton5, w.SpeedButton6, w.SpeedButton8, w.SpeedButton9})
        button->click();
    EXPECT_FALSE(w.Editor().RecordingLoaded);
    EXPECT_EQ(w.Editor().Scale, 0.0F);
    EXPECT_TRUE(w.Label2->text().isEmpty());
    EXPECT_TRUE(shown.empty());
    const QImage box = w.PB->grab().toImage();
    EXPECT_EQ(box.pixelColor(10, 10), QColor(Qt::white));
}

TEST_F(MainWindowTest, LoadShowsTheLabelsAndARefusalKeepsThem)
{
    TDepart w;
    std::vector<std::int16_t> s;
    for (int i = 0; i < 44100; ++i) {
        s.push_back(static_cast<std::int16_t>(i % 1000));
        s.push_back(static_cast<std::int16_t>(-(i % 1000)));
    }
    ASSERT_TRUE(w.LoadRecording(writeFile("stereo.wav", CanonicalWave(PcmFormat(2, 44100, 16), Pcm16(s)))));
    EXPECT_EQ(w.Label11->text(), "44100 Hz 16 B");
    EXPECT_EQ(w.Label1->text(), " 00-01.000 ");
    EXPECT_EQ(w.Label2->text(), "de  00-00.000  à  00-01.000  =  00-01.000 ");
    EXPECT_TRUE(shown.empty());

    Bytes text;
    AppendText(text, "pas un son");
    EXPECT_FALSE(w.LoadRecording(writeFile("texte.wav", text)));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, DialogKind::Message);
    EXPECT_EQ(shown[0].caption, "Sonalto");
    EXPECT_EQ(shown[0].text, "Format non reconnu...");
    EXPECT_EQ(w.Label11->text(), "44100 Hz 16 B");
    EXPECT_EQ(w.Editor().SampleCount, 44100u);

    // An unreadable file reaches the error box, and the recording stays.
    Guarded([&] { w.LoadRecording(QString::fromStdString(folder() + "absent.wav")); });
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].kind, DialogKind::Error);
    EXPECT_EQ(shown[1].text,
              QString::fromStdString("Impossible d'ouvrir le fichier " + folder() + "absent.wav"));
    EXPECT_EQ(w.Editor().SampleCount, 44100u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // the busy pointer is gone
}

// Colour of a column of the waveform box, away from the trace.
QColor band(const QImage& image, int x)
{
    return image.pixelColor(x, 2);
}

TEST_F(MainWindowTest, WaveformPixelsFollowZoomAndScroll)
{
    TDepart w;
    w.FormCreate(QRect(0, 0, 424, 600)); // a box 400 pixels wide
    ASSERT_EQ(w.PB->width(), 400);
    // 1600 samples: a quarter of a pixel each in the full view; sample i = 16 i.
    ASSERT_TRUE(w.LoadRecording(ramp("pixels.wav", 1600, 16)));
    const QColor blue(0, 0, 255);
    const QColor green(0, 128, 0);
    QImage box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 0), green);
    EXPECT_EQ(band(box, 398), green);

    TEditor& e = w.Editor();
    e.SelStart = 400; // column 100
    e.SelEnd = 800;   // column 200
    w.PBPaint();
    box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 99), blue);
    EXPECT_EQ(band(box, 100), green);
    EXPECT_EQ(band(box, 199), green);
    EXPECT_EQ(band(box, 200), blue);
    // The trace: column x shows sample 4x, value 64x, at row 72 + round(64x * 145 / 65536).
    const auto row = [](int value) {
        return 72 + static_cast<int>(std::nearbyintl(value * (145.0L / 65536)));
    };
    for (int x : {10, 150, 300})
        EXPECT_EQ(box.pixelColor(x, row(64 * x)), QColor(Qt::white)) << x;

    w.SpeedButton5->click(); // zoom in: half a pixel per sample, strip 800
    EXPECT_EQ(w.SB->maximum(), 400);
    box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 150), blue);
    EXPECT_EQ(band(box, 199), blue);
    EXPECT_EQ(band(box, 200), green);
    EXPECT_EQ(band(box, 399), green);

    w.SB->setValue(100); // the user scrolls
    EXPECT_EQ(e.FirstVisibleSample, 200);
    box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 99), blue);
    EXPECT_EQ(band(box, 100), green);
    EXPECT_EQ(band(box, 299), green);
    EXPECT_EQ(band(box, 300), blue);
    // Column x now shows sample 200 + 2x.
    EXPECT_EQ(box.pixelColor(50, row(16 * 300)), QColor(Qt::white));

    w.SpeedButton8->click(); // zoom on the selection: 400 samples fill the box
    box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 0), green);
    EXPECT_EQ(band(box, 399), green);
    EXPECT_EQ(w.SB->value(), 400);

    w.Vueentire1->trigger();
    EXPECT_EQ(w.SB->maximum(), 0);
    box = w.PB->grab().toImage();
    EXPECT_EQ(band(box, 99), blue);
    EXPECT_EQ(band(box, 100), green);

    w.SpeedButton6->click(); // zoom out from the full view: nothing changes
    EXPECT_EQ(e.Scale, e.FullViewScale);
}

} // namespace

namespace {

// An object whose event handler fails, as a command of the program might.
class FailingObject : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw EFOpenError("/nulle/part.wav");
        return QObject::event(event);
    }
};

TEST_F(MainWindowTest, AnExceptionLeftByAHandlerReachesTheErrorBox)
{
    FailingObject object;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, DialogKind::Error);
    EXPECT_EQ(shown[0].caption, "Sonalto");
    EXPECT_EQ(shown[0].text, "Impossible d'ouvrir le fichier /nulle/part.wav");
    // And the program goes on.
    QEvent again(QEvent::User);
    QCoreApplication::sendEvent(&object, &again);
    EXPECT_EQ(shown.size(), 2u);
}

} // namespace
