#include "help/ui/apr.h"

#include "widgets/Dialogs.h"
#include "widgets/Look.h"

#include <QFrame>
#include <QLabel>
#include <QToolButton>

namespace {

const QColor Navy(0, 0, 128);
const QColor Maroon(128, 0, 0);
const QColor PanelColour(253, 250, 208);

QLabel* label(QWidget* parent, const char* name, QRect bounds, const QString& text, const QFont& font)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(bounds);
    l->setFont(font);
    SetTextColour(l, Navy);
    return l;
}

} // namespace

TAP::TAP(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("AP"));
    setFixedSize(211, 117);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 211, 117);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setAutoFillBackground(true);
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, PanelColour);
    Panel1->setPalette(p);

    Label5 = label(Panel1, "Label5", {10, 8, 191, 17}, QStringLiteral("Résolution des problèmes"),
                   ArialFont(13, true));
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    Label6 =
        label(Panel1, "Label6", {16, 32, 185, 49},
              QStringLiteral("Si vous rencontrez des problèmes de son ou d'affichage, vérifiez le serveur de "
                             "son et l'installation de l'aide."),
              ArialFont(11, false));
    Label6->setWordWrap(true);
    Label6->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(88, 88, 41, 17);
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Bevel1->setLineWidth(1);

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(88, 88, 41, 17);
    SpeedButton1->setText(QStringLiteral("OK"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setFont(SansFont(11, true));
    SpeedButton1->setToolTip(QStringLiteral("Fermer cette fenêtre"));
    SetTextColour(SpeedButton1, Maroon);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton1Click(); }); });
}

void TAP::SpeedButton1Click()
{
    accept();
}

void TAP::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}
