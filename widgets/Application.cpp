#include "widgets/Application.h"

#include "platform/io/ExceptionHandler.h"
#include "widgets/Dialogs.h"

#include <QLibraryInfo>
#include <QTranslator>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    SetApplicationExceptionHandler([](const std::exception& e) { ShowErrorBox(ExceptionText(e)); });
    // The name only: a display name would be appended by Qt to every window's caption.
    setApplicationName(QStringLiteral("Sonalto"));
    // Qt's own dialogs (files, printing, the edit fields' menu) speak French like the rest, whatever the
    // desktop's language.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}
