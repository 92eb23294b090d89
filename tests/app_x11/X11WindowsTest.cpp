// The windows on a real X server (Xvfb): the captions the window system shows, Qt's own dialogs in French,
// and the main window's place on work areas that leave room for a top bar or a dock.
#include "app/Unit1.h"
#include "help/ui/About.h"
#include "help/ui/Unit4.h"
#include "mp3/ui/Unit6.h"
#include "platform/VirtualMixer.h"
#include "platform/VirtualWaveIn.h"
#include "platform/VirtualWaveOut.h"
#include "platform/ui/Application.h"
#include "platform/ui/Dialogs.h"
#include "recording/ui/Unit2.h"

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

struct WorkArea
{
    const char* name;
    QRect area;
};

class X11Placement : public X11Windows, public testing::WithParamInterface<WorkArea>
{
};

// The work area as a desktop with a top bar or a dock announces it; Qt follows the root's property.
void announceWorkArea(const QRect& r)
{
    const QString value = QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    xprop({QStringLiteral("-root"), QStringLiteral("-f"), QStringLiteral("_NET_WORKAREA"),
           QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_NET_WORKAREA"), value});
}

TEST_P(X11Placement, TheWindowAndItsStatusLineStayInsideTheWorkArea)
{
    const QRect area = GetParam().area;
    announceWorkArea(area);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::primaryScreen()->availableGeometry() == area; }, 3000))
        << "Qt does not see the work area";
    TDepart depart;
    depart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&depart));
    QTest::qWait(100);
    EXPECT_TRUE(area.contains(depart.frameGeometry()));
    const QRect status(depart.Laide->mapToGlobal(QPoint(0, 0)), depart.Laide->size());
    EXPECT_TRUE(area.contains(status));
    EXPECT_TRUE(depart.Laide->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Desktops, X11Placement,
                         testing::Values(WorkArea{"TopBar", {0, 32, 1366, 736}},
                                         WorkArea{"LeftDock", {64, 0, 1302, 768}}),
                         [](const testing::TestParamInfo<WorkArea>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
