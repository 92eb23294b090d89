// The windows on a real X server (Xvfb): the captions the window system shows, Qt's own dialogs in French,
// and the main window's place on work areas that leave room for a top bar or a dock.
#include "app/Unit1.h"
#include "help/ui/About.h"
#include "help/ui/Unit4.h"
#include "mp3/ui/Unit6.h"
#include "platform/sound/virtual/VirtualMixer.h"
#include "platform/sound/virtual/VirtualWaveIn.h"
#include "platform/sound/virtual/VirtualWaveOut.h"
#include "recording/ui/Unit2.h"
#include "widgets/Application.h"
#include "widgets/Dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

QString xprop(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xprop"), arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return QStringLiteral("xprop a échoué : ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The caption the window manager reads: the window's _NET_WM_NAME, as xprop prints it.
QString shownCaption(const QWidget& window)
{
    const QString line =
        xprop({QStringLiteral("-id"), QString::number(window.winId()), QStringLiteral("_NET_WM_NAME")});
    const qsizetype first = line.indexOf(QLatin1Char('"'));
    const qsizetype last = line.lastIndexOf(QLatin1Char('"'));
    return first >= 0 && last > first ? line.mid(first + 1, last - first - 1) : line;
}

// What a modal box shows, read while it runs, then closed.
QString captionOfModal(const std::function<void()>& open)
{
    QString caption = QStringLiteral("aucune fenêtre modale");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !QTest::qWaitForWindowExposed(modal, 100))
            return;
        poll.stop();
        caption = shownCaption(*modal);
        modal->close();
    });
    poll.start(50);
    open();
    return caption;
}

class X11Windows : public testing::Test
{
protected:
    void SetUp() override
    {
        SetCurrentWaveOutBackend(std::make_shared<VirtualWaveOutBackend>());
        SetCurrentWaveInBackend(std::make_shared<VirtualWaveInBackend>());
        SetCurrentMixerBackend(std::make_shared<VirtualMixerBackend>());
    }
    void TearDown() override
    {
        SetCurrentMixerBackend(nullptr);
        SetCurrentWaveInBackend(nullptr);
        SetCurrentWaveOutBackend(nullptr);
    }
};

TEST_F(X11Windows, CaptionsAreExactlyTheWindowsOwn)
{
    TDepart depart;
    TFenr fenr(&depart);
    TFaide faide(&depart);
    TFmp3 fmp3(&depart);
    const std::vector<std::pair<QWidget*, QString>> windows = {
        {&depart, QStringLiteral("Sonalto")},
        {&fenr, QStringLiteral("Enregistrement")},
        {&faide, QStringLiteral("Aide sonalto")},
        {&fmp3, QStringLiteral("Sauvegarde mp3")},
    };
    depart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&depart));
    for (const auto& [window, caption] : windows) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window)) << caption.toStdString();
        EXPECT_EQ(shownCaption(*window), caption);
        if (window != &depart)
            window->hide();
    }
    EXPECT_EQ(captionOfModal([&] { AproposdeSonalto1Click(&depart); }), QStringLiteral("SONALTO"));
    EXPECT_EQ(captionOfModal([] { AskYesNo(QStringLiteral("ALERTE"), QStringLiteral("Continuer ?")); }),
              QStringLiteral("ALERTE"));
    EXPECT_EQ(captionOfModal([&] { depart.ChargeTSAClick(); }), QStringLiteral("Ouvrir"));
}

TEST_F(X11Windows, QtsOwnDialogsSpeakFrench)
{
    const auto buttons = [](QFileDialog::AcceptMode mode) {
        QFileDialog dialog(nullptr, QStringLiteral("Ouvrir"), QString(),
                           QStringLiteral("FIchiers Wave (*.wav)"));
        dialog.setAcceptMode(mode);
        QStringList texts;
        if (const auto* box = dialog.findChild<QDialogButtonBox*>())
            for (const QAbstractButton* button : box->buttons())
                texts << button->text().remove(QLatin1Char('&'));
        return texts;
    };
    EXPECT_EQ(buttons(QFileDialog::AcceptOpen),
              (QStringList{QStringLiteral("Ouvrir"), QStringLiteral("Annuler")}));
    EXPECT_EQ(buttons(QFileDialog::AcceptSave),
              (QStringList{QStringLiteral("Enregistrer"), QStringLiteral("Annuler")}));
}

struct Desktop
{
    const char* name;
    QString strut; // _NET_WM_STRUT_PARTIAL of a panel: left, right, top, bottom, then where each runs
    QRect area;    // the work area the window manager makes of it
};

class X11Placement : public X11Windows, public testing::WithParamInterface<Desktop>
{
};

// A panel as a desktop has one (GNOME's top bar, a dock): a window that reserves a strip of the screen, which
// the window manager takes out of the work area it announces.
TEST_P(X11Placement, TheWindowAndItsStatusLineStayInsideTheWorkArea)
{
    const QRect area = GetParam().area;
    QWidget panel;
    panel.setGeometry(0, 0, 40, 40);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    xprop({QStringLiteral("-id"), QString::number(panel.winId()), QStringLiteral("-f"),
           QStringLiteral("_NET_WM_STRUT_PARTIAL"), QStringLiteral("32c"), QStringLiteral("-set"),
           QStringLiteral("_NET_WM_STRUT_PARTIAL"), GetParam().strut});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::primaryScreen()->availableGeometry() == area; }, 3000))
        << "the work area stays " << QGuiApplication::primaryScreen()->availableGeometry().width() << "x"
        << QGuiApplication::primaryScreen()->availableGeometry().height();
    TDepart depart;
    depart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&depart));
    // The frame arrives from the window manager a little after the window shows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return depart.frameGeometry() != depart.geometry(); }, 2000));
    QTest::qWait(200);
    const QRect frame = depart.frameGeometry();
    EXPECT_TRUE(area.contains(frame))
        << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    const QRect status(depart.Laide->mapToGlobal(QPoint(0, 0)), depart.Laide->size());
    EXPECT_TRUE(area.contains(status)) << status.y() + status.height();
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, X11Placement,
    testing::Values(Desktop{"TopBar", QStringLiteral("0,0,32,0,0,0,0,0,0,1365,0,0"), {0, 32, 1366, 736}},
                    Desktop{"LeftDock", QStringLiteral("64,0,0,0,0,767,0,0,0,0,0,0"), {64, 0, 1302, 768}}),
    [](const testing::TestParamInfo<Desktop>& info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
