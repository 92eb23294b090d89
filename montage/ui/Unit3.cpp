#include "montage/ui/Unit3.h"

#include "platform/ui/Dialogs.h"

TFedit::TFedit(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Fedit"));
    setFixedSize(273, 91);
}

void TFedit::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}
