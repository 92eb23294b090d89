#include "recording/ui/Unit2.h"

#include "platform/ui/Dialogs.h"

TFenr::TFenr(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Fenr"));
    setWindowTitle(QStringLiteral("Enregistrement"));
    setFixedSize(288, 144);
}

void TFenr::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}
