// The application object: its title, and the general error box for whatever a handler lets escape.
#pragma once

#include <QApplication>

class TApplication : public QApplication
{
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
