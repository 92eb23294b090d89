#include "platform/ui/Application.h"

#include "platform/ExceptionHandler.h"
#include "platform/ui/Dialogs.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    SetApplicationExceptionHandler([](const std::exception& e) { ShowErrorBox(ExceptionText(e)); });
    setApplicationName(QStringLiteral("Sonalto"));
    setApplicationDisplayName(QStringLiteral("Sonalto"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}
