#include "montage/ui/Tcalcul.h"

#include <QMetaObject>
#include <QSemaphore>
#include <memory>

Tcalcul::Tcalcul(QObject* receiver, std::function<void()> step, int intervalMs)
    : m_receiver(receiver), m_step(std::move(step)), m_intervalMs(intervalMs)
{
}

Tcalcul::~Tcalcul()
{
    requestInterruption();
    wait();
}

void Tcalcul::run()
{
    while (!isInterruptionRequested()) {
        auto done = std::make_shared<QSemaphore>();
        const std::function<void()> step = m_step;
        QMetaObject::invokeMethod(
            m_receiver,
            [step, done] {
                step();
                done->release();
            },
            Qt::QueuedConnection);
        // Waiting in short slices: a stop asked meanwhile is seen at once, even if the GUI thread is busy.
        while (!done->tryAcquire(1, 10))
            if (isInterruptionRequested())
                return;
        for (int slept = 0; slept < m_intervalMs && !isInterruptionRequested(); slept += 10)
            msleep(10);
    }
}
