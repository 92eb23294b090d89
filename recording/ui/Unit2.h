// The recording window: choose the source and the volume, record into a WAV file, hand it to the editor.
//
// The window is created once, hidden, and keeps its state between showings. Closing it does not stop a
// recording: the recorder goes on writing while the window is hidden, and the recording is stopped by Benr
// once the window is shown again, or completed when the window is destroyed at the end of the program.
#pragma once

#include "audio/WaveStorage.h"
#include "devices/WaveMixer.h"
#include "devices/WaveRecorders.h"
#include "widgets/Dialogs.h"

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QSlider;
class QToolButton;
class TStxVumeter;

class TFenr : public QDialog
{
    Q_OBJECT
public:
    explicit TFenr(QWidget* parent = nullptr);
    ~TFenr() override;

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QComboBox* CB; // the recording destination's source lines, in line order
    QLabel* Label2;
    QSlider* VOl; // the selected source's volume in percent
    TStxVumeter* VM;
    QLabel* Label3;          // the level as a number
    QToolButton* Benr;       // starts and stops the recording; its "Tag" is 1 while recording
    QToolButton* btransfert; // hands the recording to the editor
    QLabel* Pause;           // hidden: the picture Benr shows while recording
    QLabel* Image1;          // hidden: the picture Benr shows once a recording has been stopped
    TSaveDialog SD;          // the file recorded into, and the one the transfer loads
    TAudioMixer AM;
    TWaveStorage WSE;
    TStockAudioRecorder AR; // last: destroyed first, while the rest of the window is whole

    // Writes a hint into the main window's status line.
    std::function<void(const QString& hint)> showHint;
    // The main window's loading of a recording file (the transfer).
    std::function<bool(const QString& fileName)> loadRecording;

    // Handlers, named after the control and the event.
    void FormCreate();
    // Starts a recording (after the questions and the file choice) or stops the one under way. A recorder
    // that cannot start leaves the window idle and raises its error to the caller.
    void BenrClick();
    void ARLevel(int level);
    void CBChange();
    void VOlChange();
    void btransfertClick();
    void BenrMouseMove(QObject* sender);
    void FormMouseMove();
    void GroupBox1MouseMove();

    // Benr's tag: 0 idle, 1 recording.
    int Tag() const;
    // Set when a recording is stopped, never cleared.
    bool RecordingMade() const { return m_recordingMade; }

protected:
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setGlyph(const QPixmap& picture);
    void setTag(int tag);
    void setHint(QWidget* control, const QString& hint);
    void backToIdle();

    QPixmap m_startGlyph;
    bool m_recordingMade = false;
};
