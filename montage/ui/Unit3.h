// The clip-title dialog: names a new extract or renames one. The caller puts the proposed title into
// Edit, shows the dialog modally and reads DialogAccepted and Edit afterwards.
#pragma once

#include <QDialog>
#include <QLineEdit>

class QFrame;
class QLabel;
class QToolButton;

class TFedit : public QDialog
{
    Q_OBJECT
public:
    explicit TFedit(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;
    QLineEdit* Edit;
    QToolButton* SpeedButton2; // "Annuler"
    QToolButton* SpeedButton1; // "Valider"

    // How the dialog was closed: true when a title was validated.
    bool DialogAccepted = false;

    // Handlers, named after the control and the event.
    void FormShow();
    void SpeedButton1Click();
    void SpeedButton2Click();
    // A character typed in Edit: Enter (13) validates, even an empty title; Escape (27) cancels.
    // Returns true when the key was used here and must not reach the edit.
    bool EditKeyPress(QChar key);

    // Closing the dialog any other way (Escape outside the edit, the window manager) cancels.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeWith(bool accepted);
    bool m_closing = false;
};
