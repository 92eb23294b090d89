// The progress of a long decode (a recording, or the sources of a montage): a modal dialog that appears once
// the work has lasted about half a second, keeps the windows drawn meanwhile, and whose "Annuler" button
// stops the decode. The decode runs on the GUI thread; this object is its progress callback.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

class TDecodeProgressDialog
{
public:
    TDecodeProgressDialog(QWidget* parent, QString label);
    ~TDecodeProgressDialog();
    TDecodeProgressDialog(const TDecodeProgressDialog&) = delete;
    TDecodeProgressDialog& operator=(const TDecodeProgressDialog&) = delete;

    // done: the share of the work done, 0 to 1. False once the user has cancelled.
    bool operator()(double done);
    bool Shown() const { return m_dialog != nullptr; }

    // How long a decode runs before the dialog appears; tests shorten it.
    static inline int ShowAfterMs = 500;
    // Told when the dialog appears (tests answer it there).
    static inline std::function<void(QProgressDialog& dialog)> OnShown;

private:
    QWidget* m_parent;
    QString m_label;
    QElapsedTimer m_running;
    QElapsedTimer m_sinceEvents;
    std::unique_ptr<QProgressDialog> m_dialog;
    bool m_cancelled = false;
};
