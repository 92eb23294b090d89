// The render ticker: a thread that, about every 50 ms, has one render step run on the GUI thread and
// waits for it. It does no work itself.
//
// Threads: the step is queued to the receiver's thread (the GUI thread) and signals a semaphore shared
// with this thread; nothing else is shared. A step still queued when the receiver is destroyed is dropped
// by Qt with it, and the thread stops within a few milliseconds of being asked, even while a step waits.
#pragma once

#include <QThread>
#include <functional>

class Tcalcul : public QThread
{
public:
    Tcalcul(QObject* receiver, std::function<void()> step, int intervalMs = 50);
    // Asks the loop to end and waits for it.
    ~Tcalcul() override;

protected:
    void run() override;

private:
    QObject* m_receiver;
    std::function<void()> m_step;
    int m_intervalMs;
};
