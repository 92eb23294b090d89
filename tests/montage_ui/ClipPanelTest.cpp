// A clip's panel on the offscreen platform: layout, pictures and their transparency, hints, the
// spinners, the clicks it reports and the drops its handle takes.
#include "montage/ui/ClipPanel.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

namespace {

const QColor PanelColour(12, 209, 125);

// Picture i: a background colour of its own with a square of another colour in the middle, so that
// both which picture is shown and which of its pixels were made see-through can be told apart.
QColor background(int i)
{
    return QColor(200, 20 * i, 40);
}
QColor centre(int i)
{
    return QColor(10, 30 * i, 200);
}
QPixmap picture(const QColor& back, const QColor& middle, QSize size = QSize(25, 25))
{
    QPixmap p(size);
    p.fill(back);
    QPainter painter(&p);
    painter.fillRect(QRect(8, 8, 9, 9), middle);
    return p;
}

const char* const MimeType = "application/x-sonalto-clip";

class ClipPanelTest : public testing::Test
{
protected:
    void SetUp() override
    {
        strip = std::make_unique<QWidget>();
        strip->resize(400, 120);
        for (int i = 0; i < 6; ++i)
            images[static_cast<std::size_t>(i)] = picture(background(i), centre(i));
        panel = makePanel();
        panel->showHint = [this](const QString& hint) { hints << hint; };
    }

    TClipPanel* makePanel() { return new TClipPanel(strip.get(), images, picture(Qt::white, Qt::red)); }

    static QColor pixel(const QLabel* image, QPoint at) { return image->pixmap().toImage().pixelColor(at); }

    std::unique_ptr<QWidget> strip;
    std::array<QPixmap, 6> images;
    TClipPanel* panel = nullptr;
    QStringList hints;
};

// Leftmost and rightmost columns holding blue text (anti-aliased: any clearly bluish pixel, which the
// panel's green is not).
std::pair<int, int> blueInkExtent(const QImage& image)
{
    int first = image.width(), last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > 120 && c.green() < 160) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    return {first, last};
}

TEST_F(ClipPanelTest, ControlsSitWhereTheLayoutPutsThem)
{
    EXPECT_EQ(panel->parentWidget(), strip.get());
    EXPECT_EQ(panel->size(), QSize(120, 88));
    EXPECT_EQ(panel->y(), 8);
    EXPECT_EQ(panel->frameShape(), QFrame::Panel);
    EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(panel->lineWidth(), 1);

    const std::pair<QWidget*, QRect> expected[] = {
        {panel->TitleLabel, {2, 4, 117, 29}},   {panel->LengthLabel, {32, 68, 57, 13}},
        {panel->FadeInImage, {0, 32, 25, 25}},  {panel->FadeOutImage, {95, 32, 25, 25}},
        {panel->MoveHandle, {48, 32, 25, 25}},  {panel->DeleteButton, {1, 72, 15, 15}},
        {panel->FadeInSpin, {24, 32, 9, 25}},   {panel->FadeOutSpin, {86, 32, 9, 25}},
        {panel->FadeInLabel, {4, 58, 21, 13}},  {panel->FadeOutLabel, {96, 58, 21, 13}},
        {panel->PlayButton, {104, 72, 15, 15}},
    };
    for (const auto& [control, bounds] : expected) {
        EXPECT_EQ(control->parentWidget(), panel) << control->objectName().toStdString();
        EXPECT_EQ(control->geometry(), bounds) << control->objectName().toStdString();
    }

    // The pictures take their own size.
    auto* other = new TClipPanel(strip.get(), images, picture(Qt::white, Qt::red, QSize(20, 18)));
    EXPECT_EQ(other->MoveHandle->geometry(), QRect(48, 32, 20, 18));
}

TEST_F(ClipPanelTest, StartsAsANewClipWithTheTablesColoursAndCaptions)
{
    EXPECT_EQ(panel->palette().color(QPalette::Window), PanelColour);
    EXPECT_EQ(panel->grab().toImage().pixelColor(60, 62), PanelColour); // bare panel

    EXPECT_EQ(panel->FadeInSpin->Position(), 1);
    EXPECT_EQ(panel->FadeOutSpin->Position(), 1);
    EXPECT_EQ(panel->FadeInLabel->text(), "1");
    EXPECT_EQ(panel->FadeOutLabel->text(), "1");
    EXPECT_EQ(pixel(panel->FadeInImage, {12, 12}), centre(1)); // kind 1 at both ends
    EXPECT_EQ(pixel(panel->FadeOutImage, {12, 12}), centre(4));
    EXPECT_EQ(panel->PlayButton->text(), ">");
    EXPECT_EQ(panel->PlayButton->property("Tag").toInt(), 0);
    EXPECT_EQ(panel->DeleteButton->text(), "X");

    const auto textColour = [](QWidget* w) { return w->palette().color(QPalette::WindowText); };
    const auto buttonColour = [](QWidget* w) { return w->palette().color(QPalette::ButtonText); };
    EXPECT_EQ(textColour(panel->TitleLabel), QColor(0, 0, 255));
    EXPECT_EQ(textColour(panel->LengthLabel), QColor(128, 0, 0));
    EXPECT_EQ(textColour(panel->FadeInLabel), QColor(128, 0, 128));
    EXPECT_EQ(textColour(panel->FadeOutLabel), QColor(128, 0, 128));
    EXPECT_EQ(buttonColour(panel->DeleteButton), QColor(255, 0, 0));
    EXPECT_EQ(buttonColour(panel->PlayButton), QColor(0, 0, 255));
    EXPECT_TRUE(panel->DeleteButton->font().bold());
    EXPECT_TRUE(panel->PlayButton->font().bold());
    EXPECT_FALSE(panel->TitleLabel->font().bold());
    EXPECT_EQ(panel->TitleLabel->font().pixelSize(), 11);
    EXPECT_TRUE(panel->TitleLabel->wordWrap());
    for (QLabel* label : {panel->TitleLabel, panel->LengthLabel, panel->FadeInLabel, panel->FadeOutLabel})
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter) << label->objectName().toStdString();
    for (QWidget* w : {static_cast<QWidget*>(panel->TitleLabel), static_cast<QWidget*>(panel->FadeInImage),
                       static_cast<QWidget*>(panel->FadeOutImage)})
        EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor) << w->objectName().toStdString();
}

TEST_F(ClipPanelTest, TitleAndLengthAreShownAsTyped)
{
    panel->setLength(" 0-03.250 ");
    EXPECT_EQ(panel->LengthLabel->text(), " 0-03.250 ");

    // Markup in a title is text: the angle brackets and the letters between them are drawn.
    panel->setTitle("x");
    const auto [xFirst, xLast] = blueInkExtent(panel->TitleLabel->grab().toImage());
    panel->setTitle("<b>x</b>");
    EXPECT_EQ(panel->TitleLabel->text(), "<b>x</b>");
    const auto [first, last] = blueInkExtent(panel->TitleLabel->grab().toImage());
    ASSERT_LT(xFirst, xLast);
    EXPECT_GT(last - first, 4 * (xLast - xFirst));
}

TEST_F(ClipPanelTest, MovingOverAControlGivesItsHintAndTheBarePanelClearsIt)
{
    strip->show();
    const std::pair<QWidget*, QString> controls[] = {
        {panel->TitleLabel, "Double-clic pour modifier le titre."},
        {panel->LengthLabel, "Durée totale du montage"},
        {panel->FadeInImage, "filtre d'entrée. Clique pour le changer."},
        {panel->FadeOutImage, "filtre de sortie. Clique pour le changer."},
        {panel->MoveHandle, "Clique et fais glisser pour déplacer cet extrait."},
        {panel->DeleteButton, "Clique pour supprimer cet extrait"},
        {panel->PlayButton, "Clique pour écouter cet extrait"},
        {panel->FadeInSpin, "Réglage de la durée du filtre d'entrée."},
        {panel->FadeOutSpin, "Réglage de la durée du filtre de sortie."},
    };
    for (const auto& [control, hint] : controls) {
        hints.clear();
        QTest::mouseMove(control, QPoint(3, 3));
        // Exactly the control's hint: the bare panel behind it must not clear it afterwards.
        EXPECT_EQ(hints, QStringList{hint}) << control->objectName().toStdString();
    }

    hints.clear();
    QTest::mouseMove(panel, QPoint(60, 62));
    EXPECT_EQ(hints, QStringList{QString()});

    // The seconds labels have no hint: the status line keeps what it shows.
    hints.clear();
    QTest::mouseMove(panel->FadeInLabel, QPoint(3, 3));
    QTest::mouseMove(panel->FadeOutLabel, QPoint(3, 3));
    EXPECT_TRUE(hints.isEmpty());

    // Without a receiver the moves are harmless.
    panel->showHint = nullptr;
    QTest::mouseMove(panel->TitleLabel, QPoint(3, 3));
    QTest::mouseMove(panel, QPoint(60, 62));
}

TEST_F(ClipPanelTest, HintsNeverShowAsTooltips)
{
    strip->show();
    const QList<QWidget*> controls = panel->findChildren<QWidget*>() << panel;
    for (QWidget* control : controls) {
        EXPECT_TRUE(control->toolTip().isEmpty()) << control->objectName().toStdString();
        // Even a tooltip given later stays hidden.
        control->setToolTip(QStringLiteral("bulle"));
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), control->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(control, &help);
        EXPECT_TRUE(QToolTip::text().isEmpty()) << control->objectName().toStdString();
        QToolTip::hideText();
    }
}

TEST_F(ClipPanelTest, AFadePictureIsSeeThroughExactlyForKindZero)
{
    const QPoint bottomLeft(0, 24);
    const QPoint inBackground(3, 21); // a background pixel of the picture, away from the panel's bevel

    panel->setFadeIn(0, 1);
    EXPECT_EQ(pixel(panel->FadeInImage, bottomLeft).alpha(), 0);
    EXPECT_EQ(pixel(panel->FadeInImage, {24, 0}).alpha(), 0); // every pixel of that colour
    EXPECT_EQ(pixel(panel->FadeInImage, {12, 12}), centre(0));
    EXPECT_EQ(panel->grab().toImage().pixelColor(panel->FadeInImage->pos() + inBackground), PanelColour);

    panel->setFadeIn(1, 1);
    EXPECT_EQ(pixel(panel->FadeInImage, bottomLeft), background(1));
    EXPECT_EQ(panel->grab().toImage().pixelColor(panel->FadeInImage->pos() + inBackground), background(1));
    panel->setFadeIn(2, 1);
    EXPECT_EQ(pixel(panel->FadeInImage, bottomLeft), background(2));

    panel->setFadeOut(0, 1);
    EXPECT_EQ(pixel(panel->FadeOutImage, bottomLeft).alpha(), 0);
    EXPECT_EQ(pixel(panel->FadeOutImage, {12, 12}), centre(3));
    EXPECT_EQ(panel->grab().toImage().pixelColor(panel->FadeOutImage->pos() + inBackground), PanelColour);
    panel->setFadeOut(2, 1);
    EXPECT_EQ(pixel(panel->FadeOutImage, bottomLeft), background(5));

    // The handle's target is always see-through.
    EXPECT_EQ(pixel(panel->MoveHandle, bottomLeft).alpha(), 0);
    EXPECT_EQ(pixel(panel->MoveHandle, {12, 12}), QColor(Qt::red));
    EXPECT_EQ(panel->grab().toImage().pixelColor(panel->MoveHandle->pos() + inBackground), PanelColour);
}

TEST_F(ClipPanelTest, FadeSettersShowTheKindsPictureAndTheSeconds)
{
    for (int kind = 0; kind < 3; ++kind) {
        panel->setFadeIn(kind, kind + 2);
        EXPECT_EQ(pixel(panel->FadeInImage, {12, 12}), centre(kind)) << kind;
        EXPECT_EQ(panel->FadeInSpin->Position(), kind + 2);
        EXPECT_EQ(panel->FadeInLabel->text(), QString::number(kind + 2));

        panel->setFadeOut(kind, 5 - kind);
        EXPECT_EQ(pixel(panel->FadeOutImage, {12, 12}), centre(kind + 3)) << kind;
        EXPECT_EQ(panel->FadeOutSpin->Position(), 5 - kind);
        EXPECT_EQ(panel->FadeOutLabel->text(), QString::number(5 - kind));
    }
    // The two ends are independent.
    EXPECT_EQ(pixel(panel->FadeInImage, {12, 12}), centre(2));
    EXPECT_EQ(panel->FadeInSpin->Position(), 4);
    // Seconds a project file may hold beyond the spinner's range: the label says where the spinner is.
    for (const auto& [seconds, shown] : {std::pair{7, 5}, std::pair{0, 1}, std::pair{-3, 1}}) {
        panel->setFadeIn(0, seconds);
        panel->setFadeOut(0, seconds);
        EXPECT_EQ(panel->FadeInLabel->text(), QString::number(shown)) << seconds;
        EXPECT_EQ(panel->FadeOutLabel->text(), QString::number(shown)) << seconds;
        EXPECT_EQ(panel->FadeInSpin->Position(), shown);
    }
}

TEST_F(ClipPanelTest, UpDownStepsWithinItsLimitsAndReportsEveryClick)
{
    TUpDown spin(strip.get(), 1, 5, 4);
    spin.setGeometry(0, 0, 9, 25);
    QSignalSpy clicked(&spin, &TUpDown::clicked);
    const QPoint upper(4, 3), lower(4, 21);

    QTest::mouseClick(&spin, Qt::LeftButton, {}, upper);
    QTest::mouseClick(&spin, Qt::LeftButton, {}, upper); // at the maximum: stays, still reported
    ASSERT_EQ(clicked.count(), 2);
    EXPECT_EQ(clicked.at(0).at(0).toInt(), 5);
    EXPECT_EQ(clicked.at(1).at(0).toInt(), 5);
    EXPECT_EQ(spin.Position(), 5);

    clicked.clear();
    for (int i = 0; i < 5; ++i)
        QTest::mouseClick(&spin, Qt::LeftButton, {}, lower);
    ASSERT_EQ(clicked.count(), 5);
    const int expected[] = {4, 3, 2, 1, 1};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(clicked.at(i).at(0).toInt(), expected[i]) << i;

    // Only the left button steps; setting the position clamps without a signal.
    clicked.clear();
    QTest::mouseClick(&spin, Qt::RightButton, {}, upper);
    spin.SetPosition(9);
    EXPECT_EQ(spin.Position(), 5);
    spin.SetPosition(-3);
    EXPECT_EQ(spin.Position(), 1);
    EXPECT_EQ(clicked.count(), 0);
}

TEST_F(ClipPanelTest, SpinnersReportTheirNewPosition)
{
    QSignalSpy fadeIn(panel, &TClipPanel::fadeInSpinClicked);
    QSignalSpy fadeOut(panel, &TClipPanel::fadeOutSpinClicked);
    panel->setFadeOut(1, 3);
    QTest::mouseClick(panel->FadeInSpin, Qt::LeftButton, {}, QPoint(4, 3));
    QTest::mouseClick(panel->FadeOutSpin, Qt::LeftButton, {}, QPoint(4, 21));
    ASSERT_EQ(fadeIn.count(), 1);
    ASSERT_EQ(fadeOut.count(), 1);
    EXPECT_EQ(fadeIn.at(0).at(0).toInt(), 2);
    EXPECT_EQ(fadeOut.at(0).at(0).toInt(), 2);
}

TEST_F(ClipPanelTest, PlayButtonShowsThePlayingState)
{
    panel->setPlaying(true);
    EXPECT_EQ(panel->PlayButton->text(), "||");
    EXPECT_EQ(panel->PlayButton->property("Tag").toInt(), 1);
    panel->setPlaying(false);
    EXPECT_EQ(panel->PlayButton->text(), ">");
    EXPECT_EQ(panel->PlayButton->property("Tag").toInt(), 0);
}

TEST_F(ClipPanelTest, ClicksReportWhatTheUserDid)
{
    strip->show();
    QSignalSpy title(panel, &TClipPanel::titleDoubleClicked);
    QSignalSpy fadeIn(panel, &TClipPanel::fadeInClicked);
    QSignalSpy fadeOut(panel, &TClipPanel::fadeOutClicked);
    QSignalSpy remove(panel, &TClipPanel::deleteClicked);
    QSignalSpy play(panel, &TClipPanel::playClicked);
    const auto counts = [&] {
        return std::vector<qsizetype>{title.count(), fadeIn.count(), fadeOut.count(), remove.count(),
                                      play.count()};
    };

    QTest::mouseClick(panel->TitleLabel, Qt::LeftButton, {}, QPoint(50, 10)); // a single click: nothing
    EXPECT_EQ(counts(), (std::vector<qsizetype>{0, 0, 0, 0, 0}));
    QTest::mouseDClick(panel->TitleLabel, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 0, 0, 0, 0}));
    QTest::mouseClick(panel->FadeInImage, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 1, 0, 0, 0}));
    QTest::mouseClick(panel->FadeOutImage, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 1, 1, 0, 0}));
    QTest::mouseClick(panel->DeleteButton, Qt::LeftButton);
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 1, 1, 1, 0}));
    QTest::mouseClick(panel->PlayButton, Qt::LeftButton);
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 1, 1, 1, 1}));

    // The right button, or a release away from the picture, is no click.
    QTest::mouseClick(panel->FadeInImage, Qt::RightButton, {}, QPoint(12, 12));
    QTest::mousePress(panel->FadeOutImage, Qt::LeftButton, {}, QPoint(12, 12));
    QTest::mouseRelease(panel->FadeOutImage, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 1, 1, 1, 1}));
}

class HandleDropTest : public ClipPanelTest
{
protected:
    void SetUp() override
    {
        ClipPanelTest::SetUp();
        panel->setPosition(2);
        target = makePanel();
        target->setPosition(4);
    }

    static std::unique_ptr<QMimeData> clip(const QByteArray& position, const char* type = MimeType)
    {
        auto data = std::make_unique<QMimeData>();
        data->setData(QString::fromLatin1(type), position);
        return data;
    }

    // Enter, move and drop on a handle; true when each of them was taken.
    std::array<bool, 3> dropOn(QLabel* handle, const QMimeData* data)
    {
        const QPoint at(12, 12);
        QDragEnterEvent enter(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &enter);
        QDragMoveEvent move(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &move);
        QDropEvent drop(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &drop);
        dropAction = drop.dropAction();
        return {enter.isAccepted(), move.isAccepted(), drop.isAccepted()};
    }

    TClipPanel* target = nullptr;
    Qt::DropAction dropAction = Qt::IgnoreAction;
};

TEST_F(HandleDropTest, AnotherClipsHandleIsTakenAndReportedOnTheTarget)
{
    EXPECT_EQ(panel->MoveHandle->property("Tag").toInt(), 2);
    EXPECT_EQ(target->MoveHandle->property("Tag").toInt(), 4);
    EXPECT_TRUE(target->MoveHandle->acceptDrops());

    QSignalSpy onTarget(target, &TClipPanel::handleDropped);
    QSignalSpy onSource(panel, &TClipPanel::handleDropped);
    const auto data = clip("2");
    EXPECT_EQ(dropOn(target->MoveHandle, data.get()), (std::array<bool, 3>{true, true, true}));
    EXPECT_EQ(dropAction, Qt::MoveAction);
    ASSERT_EQ(onTarget.count(), 1);
    EXPECT_EQ(onTarget.at(0).at(0).toInt(), 2);
    EXPECT_EQ(onSource.count(), 0);

    // And the other way round.
    const auto back = clip("4");
    EXPECT_EQ(dropOn(panel->MoveHandle, back.get()), (std::array<bool, 3>{true, true, true}));
    ASSERT_EQ(onSource.count(), 1);
    EXPECT_EQ(onSource.at(0).at(0).toInt(), 4);
}

TEST_F(HandleDropTest, OwnPositionAndForeignDragsAreRefused)
{
    QSignalSpy dropped(target, &TClipPanel::handleDropped);
    const auto same = clip("4");
    EXPECT_EQ(dropOn(target->MoveHandle, same.get()), (std::array<bool, 3>{false, false, false}));
    const auto text = clip("2", "text/plain");
    EXPECT_EQ(dropOn(target->MoveHandle, text.get()), (std::array<bool, 3>{false, false, false}));
    const auto garbage = clip("deux");
    EXPECT_EQ(dropOn(target->MoveHandle, garbage.get()), (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(dropped.count(), 0);

    // The handle follows its clip's position.
    target->setPosition(2);
    EXPECT_EQ(target->position(), 2);
    const auto nowSame = clip("2");
    EXPECT_EQ(dropOn(target->MoveHandle, nowSame.get()), (std::array<bool, 3>{false, false, false}));
    const auto other = clip("4");
    EXPECT_EQ(dropOn(target->MoveHandle, other.get()), (std::array<bool, 3>{true, true, true}));
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toInt(), 4);
}

TEST_F(HandleDropTest, PressingAndMovingTheHandleStartsADrag)
{
    strip->show();
    QSignalSpy started(panel, &TClipPanel::dragStarted);
    const QPoint press(12, 12);
    const auto moveTo = [&](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, panel->MoveHandle->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel->MoveHandle, &move);
    };

    // Neither a move without the button held nor one shorter than the drag distance starts a drag.
    QTest::mouseMove(panel->MoveHandle, press + QPoint(QApplication::startDragDistance() + 2, 0));
    QTest::mousePress(panel->MoveHandle, Qt::LeftButton, {}, press);
    moveTo(press + QPoint(1, 0));
    EXPECT_EQ(started.count(), 0);
    moveTo(press + QPoint(QApplication::startDragDistance() + 1, 0));
    EXPECT_EQ(started.count(), 1);
    // One drag per press.
    moveTo(press + QPoint(QApplication::startDragDistance() + 5, 0));
    EXPECT_EQ(started.count(), 1);
    QTest::mouseRelease(panel->MoveHandle, Qt::LeftButton, {}, press);
}

} // namespace
