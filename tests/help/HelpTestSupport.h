// What the help tests share: readable QStrings in failure messages, and modal windows answered by the test.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Answers a modal window that a command shows: once it is on screen, check runs on it, and the window
// is closed afterwards if check left it open, so that a test never waits for a user.
inline void WhenModalShown(std::function<void(QWidget*)> check)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check = std::move(check), tries = 0]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            // Five seconds without a modal window: the command showed none, and the test says so.
            if (++tries > 500)
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        check(modal);
        if (QApplication::activeModalWidget() == modal)
            modal->close();
    });
    timer->start();
}
