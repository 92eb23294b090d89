// The MP3 save dialog: the output file, bit rate and quality of the montage's MP3 export, which it runs
// itself: the rendered montage, converted to stereo 16-bit 44 100 Hz, goes to a temporary WAV file that
// its encoder component turns into the MP3 file. ExportMp3 is the main window's command that opens it.
#pragma once

#include "audio/WaveStorage.h"
#include "mp3/LameCoder.h"
#include "mp3/Mp3Export.h"
#include "widgets/Dialogs.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class BusyCursor;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QToolButton;
class TMontage;

class TFmp3 : public QDialog
{
    Q_OBJECT
public:
    explicit TFmp3(QWidget* parent = nullptr);
    ~TFmp3() override;

    QLabel* Label1;
    QLabel* Lmp3; // the output file: the dialog's only record of it
    QToolButton* SpeedButton4;
    QGroupBox* GroupBox1;
    QLabel* Label3;
    QComboBox* CBoxBitRate;
    QLabel* Label2;
    QLabel* Label5;
    QComboBox* CBoxQuality;
    QToolButton* SpeedButton1;
    QProgressBar* ProgressBar1; // over SpeedButton1 while an export runs
    TSaveDialog SDM;
    TWaveStorage W3;
    TLameCoder Lame;

    // Writes a hint into the main window's status line.
    std::function<void(const QString& hint)> showHint;

    // The steps of ExportMp3 before the dialog shows: the output name proposed from the montage's last WAV
    // export. False, with nothing changed, for an empty montage.
    bool PrepareExport(TMontage& montage);

    // Handlers, named after the control and the event.
    void FormCreate();
    void SpeedButton4Click();
    void SpeedButton4MouseMove();
    // The export. Its failures are raised to the caller once the export's files are cleaned away; the
    // dialog then stays open.
    void SpeedButton1Click();
    // The end of a successful export: the cursor back, the dialog closed.
    void LameEndProcess();
    void LameProgress(std::uint16_t percent);

    // True from the start of an export to its end: the buttons are disabled and the dialog does not close.
    bool Exporting() const { return m_exporting; }
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setExporting(bool exporting);

    TMontage* m_montage = nullptr;
    std::unique_ptr<BusyCursor> m_busy;
    bool m_exporting = false;
};

// The main window's MP3 export (the button Bmp3 and the menu item "Exporter le montage au format mp3"):
// nothing for an empty montage, else the dialog proposes a name and shows modally.
void ExportMp3(TFmp3& dialog, TMontage& montage);
