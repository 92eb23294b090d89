#include "widgets/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <new>

namespace {

DialogHook& hook()
{
    static DialogHook h;
    return h;
}

} // namespace

void SetDialogHook(DialogHook h)
{
    hook() = std::move(h);
}

void ShowMessage(const QString& text)
{
    const QString caption = QApplication::applicationName();
    if (hook()) {
        hook()(DialogKind::Message, caption, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void ShowErrorBox(const QString& text)
{
    const QString caption = QApplication::applicationName();
    if (hook()) {
        hook()(DialogKind::Error, caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool AskYesNo(const QString& caption, const QString& text)
{
    if (hook())
        return hook()(DialogKind::Question, caption, text);
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Oui"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Non"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString ExceptionText(const std::exception& e)
{
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return QStringLiteral("Mémoire insuffisante pour cette opération.");
    return QString::fromUtf8(e.what());
}

BusyCursor::BusyCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

void CenterOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

bool TSaveDialog::Execute(QWidget* parent)
{
    if (OnExecute)
        return OnExecute(*this);
    QFileDialog dialog(parent, Title, InitialDir, Filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(DefaultExt);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}
