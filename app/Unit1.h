// The main window: the editor band (toolbar, time labels, waveform box, scroll bar), the montage band
// (toolbar, clip strip, montage view), the menu and the status line that shows the hints.
#pragma once

#include "devices/WavePlayers.h"
#include "editor/Editor.h"
#include "montage/Montage.h"

#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QScrollArea;
class QScrollBar;
class QTimer;
class QToolButton;
class TWaveformBox;
class TFedit;
class TFmp3;
class TOverviewBox;
class Tcalcul;

class TDepart : public QMainWindow
{
    Q_OBJECT
    // First, so that they outlive the players that read their waves.
    TEditor m_editor;
    TMontage m_montage;

public:
    explicit TDepart(QWidget* parent = nullptr);
    ~TDepart() override;

    // Sizes the window to the desktop work area and lays the controls out for that size.
    void FormCreate(const QRect& workArea);
    // The recording and help windows, shown modally by their commands.
    void SetRecordingWindow(QWidget* window) { m_recordingWindow = window; }
    void SetHelpWindow(QWidget* window) { m_helpWindow = window; }
    void SetTitleDialog(TFedit* dialog) { m_titleDialog = dialog; }
    void SetMp3Dialog(TFmp3* dialog);

    // Commands, named after the control and event that start them.
    void ChargeTSAClick();
    // False when the file was refused (after telling why) or its decode cancelled.
    bool LoadRecording(const QString& fileName);
    // A file named on the command line or dropped on the window: a project (.snt) opens as the project
    // command opens one, after the unsaved question; any other file as a recording.
    void OpenFile(const QString& fileName);
    // The file the command line names (the first argument, a path or a file: URL, made absolute), or
    // nothing (no argument, or an option).
    static QString CommandLineFile(const QStringList& arguments);
    // The open dialog's filters: waves first, as they always were, then every sound file.
    static QStringList RecordingFilters();
    void SpeedButton7Click();
    void BaideClick();
    void Button2Click();
    void Button3Click();
    void SpeedButton8Click();
    void SpeedButton9Click();
    void SBChange(int position);
    void PBPaint();
    void ShowSelection();
    void PBMouseDown(Qt::MouseButton button, int x);
    void PBMouseMove(int x);
    void PBMouseUp(Qt::MouseButton button, int x);
    void TdecalTimer();
    void BjoueBClick();
    void BjoueVClick();
    void APDeactivate();
    void APSDeactivate();
    void FormClose();

    // The playing flag of a play button: 1 while its player plays.
    static int Tag(const QWidget* button);
    static void SetTag(QWidget* button, int tag);

    TEditor& Editor() { return m_editor; }
    const TEditor& Editor() const { return m_editor; }
    TMontage& Montage() { return m_montage; }

    // Montage editing.
    void BajouteClick();
    void TitleDblClick(int position);
    void DeleteClick(int position);
    void TdelTimer();
    void BwaveClick();
    void BjTClick();
    void AproposdeSonalto1Click();
    void Bmp3Click();
    void AP3Deactivate();
    void PlayClick(int position);
    void AP2Deactivate();
    void BnewClick();
    void SpeedButton1Click();
    void BsauverClick();
    // The unsaved question; true when the command may go on.
    bool ConfirmUnsaved(const QString& text);
    // Opens a project file (after the unsaved question and the dialog).
    void OpenProject(const QString& fileName);
    void SaveProjectAs(const QString& fileName);
    // Runs the title dialog on text; the text entered when accepted, else nothing.
    std::optional<QString> AskTitle(const QString& text);
    // The panel of the clip at a position (for tests and the montage's own handlers).
    QWidget* PanelAt(int position);

    // Controls of the editor band.
    QToolButton* SpeedButton7;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton6;
    QToolButton* BjoueB;
    QToolButton* SpeedButton9;
    QToolButton* BjoueV;
    QToolButton* SpeedButton8;
    QToolButton* Baide;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label11;
    TWaveformBox* PB;
    QScrollBar* SB;
    QWidget* Bevel1;
    QLabel* Laide;

    // Controls of the montage band.
    QToolButton* Bmp3;
    QToolButton* Bnew;
    QToolButton* SpeedButton1;
    QToolButton* Bsauver;
    QToolButton* Bwave;
    QToolButton* Bajoute;
    QToolButton* BjT;
    QLabel* Label12;
    QWidget* SSgauche;
    QWidget* Sgauche;
    QScrollArea* SB1;
    QWidget* Sdroite;
    QWidget* SSdroite;
    TOverviewBox* PB2;

    // Glyph sources.
    QIcon joueB, joueV, Pause, Ijjaune, ipausej, Icible;
    QIcon env1, env2, env3, env4, env5, env6;

    // Menu items.
    QAction* Nouveauprojet1;
    QAction* Ouvrirunprojet1;
    QAction* Sauvergarderunprojet1;
    QAction* Exporterlemontageauformatwave1;
    QAction* Exporterlemontageauformatmp31;
    QAction* Quitter1;
    QAction* Ouvrirunenregistrement1;
    QAction* Transfrerdepuislesonalto1;
    QAction* Lierenentier1;
    QAction* Lirelaslection1;
    QAction* Zoomavant1;
    QAction* Zoomarrire1;
    QAction* Vueentire1;
    QAction* Zoomsurlaslection1;
    QAction* Sommairedelaide1;
    QAction* AproposdeSonalto1;
    QAction* Quitter2;

    // Players of the recording (AP reads WS1), of the selection (APS plays its own cut copy), of one clip
    // (AP2) and of the whole montage (AP3); the last three play copies of their own.
    TStockAudioPlayer AP;
    TAudioPlayer APS;
    TAudioPlayer AP2;
    TAudioPlayer AP3;
    QTimer* Tdecal;
    QTimer* Tdel;
    std::unique_ptr<Tcalcul> TcalculThread;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createEditorBand(QWidget* surface);
    void createMontageBand(QWidget* surface);
    void createMenu();
    QToolButton* toolButton(QWidget* parent, const char* name, QRect bounds, const QString& hint,
                            const QIcon& glyph = QIcon());
    QLabel* infoLabel(QWidget* parent, const char* name, QRect bounds, const QColor& back,
                      const QString& hint);
    void setHint(QWidget* control, const QString& hint);
    void syncScrollBar();

    // Status line handlers.
    void SpeedButton4MouseMove(QObject* button);
    void Label1MouseMove(QObject* label);
    void FormMouseMove();
    void syncTimer();
    // Stops a player started by a play button whose flag is up, and gives the button its play glyph.
    void stopPlayer(QToolButton* button, TWaveAudioIO& player, const QIcon& glyph);
    void setupMontage();
    void montageControlsEnabled(bool enabled);
    void resizeStrip();
    // Stops the montage's players and frees every clip; the band then shows an empty montage.
    void clearMontage();
    void showEmptyMontage();
    void fitFrame();

    QWidget* m_recordingWindow = nullptr;
    QWidget* m_helpWindow = nullptr;
    TFedit* m_titleDialog = nullptr;
    TFmp3* m_mp3Dialog = nullptr;
    bool m_syncingScrollBar = false;
    QString m_recordingFilter; // the open dialog's filter last used, for the rest of the run
    QSize m_outerSize;
};
