#include "help/ui/apr.h"

#include "platform/ui/Dialogs.h"

TAP::TAP(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("AP"));
    setFixedSize(211, 117);
}

void TAP::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}
