// The clip-title dialog on the offscreen platform: its layout, and how each way of closing it sets
// DialogAccepted. The dialog is shown modelessly here; the handlers close it as they would a modal run.
#include "montage/ui/Unit3.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class TitleDialogTest : public testing::Test
{
protected:
    // Shown with a proposed title, as the main window does before its modal display.
    void open(const QString& title)
    {
        dialog.Edit->setText(title);
        dialog.show();
        ASSERT_TRUE(dialog.isVisible());
    }

    TFedit dialog;
};

TEST_F(TitleDialogTest, LayoutAndTexts)
{
    EXPECT_EQ(dialog.objectName(), "Fedit");
    EXPECT_EQ(dialog.size(), QSize(273, 91));
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);

    EXPECT_EQ(dialog.Panel1->geometry(), QRect(0, 0, 273, 91));
    EXPECT_EQ(dialog.Panel1->frameShape(), QFrame::Panel);
    EXPECT_EQ(dialog.Panel1->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(dialog.Panel1->lineWidth(), 2);

    EXPECT_EQ(dialog.Label1->geometry(), QRect(8, 8, 257, 17));
    EXPECT_EQ(dialog.Label1->text(), "Tape un nom pour l'extrait");
    EXPECT_TRUE(dialog.Label1->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(dialog.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(dialog.Label1->font().pixelSize(), 13);

    EXPECT_EQ(dialog.Edit->geometry(), QRect(8, 28, 257, 21));
    EXPECT_EQ(dialog.Edit->maxLength(), 45);

    const std::tuple<QToolButton*, QRect, QString, QColor> buttons[] = {
        {dialog.SpeedButton2, {24, 56, 97, 25}, "Annuler", QColor(128, 0, 0)},
        {dialog.SpeedButton1, {152, 56, 97, 25}, "Valider", QColor(0, 128, 0)},
    };
    for (const auto& [button, bounds, caption, colour] : buttons) {
        EXPECT_EQ(button->geometry(), bounds) << caption.toStdString();
        EXPECT_EQ(button->text(), caption);
        EXPECT_TRUE(button->autoRaise()) << caption.toStdString(); // flat
        EXPECT_TRUE(button->font().bold()) << caption.toStdString();
        EXPECT_EQ(button->palette().color(QPalette::ButtonText), colour) << caption.toStdString();
        // Only the edit takes the keyboard, so Enter and Escape always reach it.
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << caption.toStdString();
    }
}

TEST_F(TitleDialogTest, ShowsCentredWithTheProposedTitleSelected)
{
    open(QStringLiteral("Extrait n° 3"));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((dialog.frameGeometry().center() - area.center()).manhattanLength(), 2);
    EXPECT_EQ(dialog.Edit->selectedText(), "Extrait n° 3");

    // Shown again for a rename: the new text is selected in turn.
    dialog.SpeedButton2Click();
    dialog.Edit->setText(QStringLiteral("Intro"));
    dialog.Edit->deselect();
    dialog.show();
    EXPECT_EQ(dialog.Edit->selectedText(), "Intro");

    // FormShow by itself.
    dialog.Edit->setText(QStringLiteral("abc"));
    dialog.Edit->deselect();
    dialog.FormShow();
    EXPECT_EQ(dialog.Edit->selectedText(), "abc");
}

TEST_F(TitleDialogTest, ValiderAcceptsOnlyANonEmptyTitle)
{
    open(QStringLiteral("Extrait n° 1"));
    QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
    EXPECT_TRUE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Edit->text(), "Extrait n° 1");

    open(QString());
    QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(TitleDialogTest, AnnulerCancels)
{
    open(QStringLiteral("Extrait n° 1"));
    dialog.DialogAccepted = true; // left over from an earlier run
    QTest::mouseClick(dialog.SpeedButton2, Qt::LeftButton);
    EXPECT_FALSE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(TitleDialogTest, EnterAcceptsEvenAnEmptyTitle)
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        open(QString());
        QSignalSpy returnPressed(dialog.Edit, &QLineEdit::returnPressed);
        QTest::keyClick(dialog.Edit, key);
        EXPECT_TRUE(dialog.DialogAccepted) << key;
        EXPECT_FALSE(dialog.isVisible()) << key;
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        // The key was the dialog's: the edit never saw it.
        EXPECT_EQ(returnPressed.count(), 0);
    }
}

TEST_F(TitleDialogTest, EscapeCancels)
{
    open(QStringLiteral("Extrait n° 2"));
    dialog.DialogAccepted = true;
    QTest::keyClick(dialog.Edit, Qt::Key_Escape);
    EXPECT_FALSE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());

    // Escape handled by the dialog itself, or any other rejection, cancels as well.
    open(QStringLiteral("Extrait n° 2"));
    dialog.DialogAccepted = true;
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(TitleDialogTest, KeyPressHandlerUsesOnlyEnterAndEscape)
{
    open(QStringLiteral("x"));
    EXPECT_FALSE(dialog.EditKeyPress(QChar('a')));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.EditKeyPress(QChar(13)));
    EXPECT_TRUE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
    open(QStringLiteral("x"));
    EXPECT_TRUE(dialog.EditKeyPress(QChar(27)));
    EXPECT_FALSE(dialog.DialogAccepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(TitleDialogTest, TypingEditsTheTitleUpToFortyFiveCharacters)
{
    open(QString());
    QTest::keyClicks(dialog.Edit, QStringLiteral("Chanson"));
    EXPECT_EQ(dialog.Edit->text(), "Chanson");
    EXPECT_TRUE(dialog.isVisible());

    dialog.Edit->clear();
    QTest::keyClicks(dialog.Edit, QString(50, QChar('a')));
    EXPECT_EQ(dialog.Edit->text(), QString(45, QChar('a')));
}

} // namespace
