#include "editor/ui/DecodeProgress.h"

#include <QApplication>
#include <QProgressDialog>
#include <algorithm>
#include <cmath>

namespace {

// Events are let through at this pace: often enough for the window to follow, seldom enough to cost the
// decode nothing.
constexpr int EventsEveryMs = 40;
constexpr int Steps = 1000;

} // namespace

TDecodeProgressDialog::TDecodeProgressDialog(QWidget* parent, QString label)
    : m_parent(parent), m_label(std::move(label))
{
    m_running.start();
    m_sinceEvents.start();
}

TDecodeProgressDialog::~TDecodeProgressDialog()
{
    if (m_dialog)
        QApplication::restoreOverrideCursor();
}

bool TDecodeProgressDialog::operator()(double done)
{
    if (m_cancelled)
        return false;
    bool appeared = false;
    if (!m_dialog && m_running.elapsed() >= ShowAfterMs) {
        appeared = true;
        m_dialog = std::make_unique<QProgressDialog>(m_label, QStringLiteral("Annuler"), 0, Steps, m_parent);
        m_dialog->setWindowTitle(QApplication::applicationName());
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setValue(0);
        m_dialog->show();
        // The busy pointer of the load would hide that the dialog answers.
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        if (OnShown)
            OnShown(*m_dialog);
    }
    if (appeared || m_sinceEvents.elapsed() >= EventsEveryMs) {
        if (m_dialog)
            m_dialog->setValue(static_cast<int>(std::lround(std::clamp(done, 0.0, 1.0) * Steps)));
        // Until the dialog blocks the other windows, the user's clicks and keys wait for the end of the load:
        // a command started in the middle of it would find the editor half-way.
        QApplication::processEvents(m_dialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        m_sinceEvents.restart();
    }
    if (m_dialog && m_dialog->wasCanceled())
        m_cancelled = true;
    return !m_cancelled;
}
