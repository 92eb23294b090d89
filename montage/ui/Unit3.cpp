#include "montage/ui/Unit3.h"

#include "widgets/Dialogs.h"
#include "widgets/Look.h"

#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

QToolButton* flatButton(QWidget* parent, const char* name, QRect bounds, const QString& caption,
                        const QColor& colour)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(bounds);
    button->setText(caption);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFont(SansFont(11, true));
    SetTextColour(button, colour);
    return button;
}

} // namespace

TFedit::TFedit(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Fedit"));
    setFixedSize(273, 91);
    setFont(SansFont(11));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 273, 91);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);

    Label1 = new QLabel(QStringLiteral("Tape un nom pour l'extrait"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 8, 257, 17);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setFont(SansFont(13));
    SetTextColour(Label1, QColor(0, 0, 255));

    Edit = new QLineEdit(Panel1);
    Edit->setObjectName(QStringLiteral("Edit"));
    Edit->setGeometry(8, 28, 257, 21);
    Edit->setMaxLength(45);
    Edit->installEventFilter(this);

    SpeedButton2 =
        flatButton(Panel1, "SpeedButton2", {24, 56, 97, 25}, QStringLiteral("Annuler"), QColor(128, 0, 0));
    SpeedButton1 =
        flatButton(Panel1, "SpeedButton1", {152, 56, 97, 25}, QStringLiteral("Valider"), QColor(0, 128, 0));
    connect(SpeedButton1, &QToolButton::clicked, this, &TFedit::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFedit::SpeedButton2Click);

    setFocusProxy(Edit);
}

void TFedit::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
    Edit->setFocus();
    FormShow();
}

void TFedit::FormShow()
{
    if (!Edit->text().isEmpty())
        Edit->selectAll();
}

void TFedit::SpeedButton1Click()
{
    closeWith(!Edit->text().isEmpty());
}

void TFedit::SpeedButton2Click()
{
    closeWith(false);
}

bool TFedit::EditKeyPress(QChar key)
{
    if (key == QChar(13)) {
        closeWith(true);
        return true;
    }
    if (key == QChar(27)) {
        closeWith(false);
        return true;
    }
    return false;
}

void TFedit::reject()
{
    // Closing from the handlers goes through here too: their answer stands.
    if (!m_closing)
        DialogAccepted = false;
    QDialog::reject();
}

bool TFedit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit && event->type() == QEvent::KeyPress) {
        // Enter and Escape are the dialog's own: caught before the edit reports them, or the dialog
        // looks for a default button, or rejects on Escape.
        const auto* key = static_cast<QKeyEvent*>(event);
        QChar typed;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            typed = QChar(13);
        else if (key->key() == Qt::Key_Escape)
            typed = QChar(27);
        if (!typed.isNull() && EditKeyPress(typed))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFedit::closeWith(bool accepted)
{
    DialogAccepted = accepted;
    m_closing = true;
    done(accepted ? Accepted : Rejected);
    m_closing = false;
}
