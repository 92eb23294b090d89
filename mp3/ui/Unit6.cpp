#include "mp3/ui/Unit6.h"

#include "platform/ui/Dialogs.h"

TFmp3::TFmp3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Fmp3"));
    setWindowTitle(QStringLiteral("Sauvegarde mp3"));
    setFixedSize(217, 168);
}

void TFmp3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}
