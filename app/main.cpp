// Program entry: the application, then its six windows, created once in this order and kept to the end. They
// are destroyed in the reverse order once the event loop returns: the recording window completes a recording
// still under way before the main window goes. The one argument is a file to open.
#include "app/Unit1.h"
#include "help/ui/Unit4.h"
#include "help/ui/apr.h"
#include "montage/ui/Unit3.h"
#include "mp3/ui/Unit6.h"
#include "recording/ui/Unit2.h"
#include "widgets/Application.h"
#include "widgets/Dialogs.h"

#include <QLabel>
#include <QTimer>

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TDepart Depart;
    TFenr Fenr(&Depart);
    TFedit Fedit(&Depart);
    TFaide Faide(&Depart);
    TFmp3 Fmp3(&Depart);
    TAP AP(&Faide);
    Depart.SetRecordingWindow(&Fenr);
    Fenr.showHint = [&Depart](const QString& hint) { Depart.Laide->setText(hint); };
    Fenr.loadRecording = [&Depart](const QString& fileName) { return Depart.LoadRecording(fileName); };
    Depart.SetHelpWindow(&Faide);
    Depart.SetTitleDialog(&Fedit);
    Depart.SetMp3Dialog(&Fmp3);
    Depart.show();
    // "sonalto FILE", as the desktop's file manager starts it: a sound file or a project, opened once the
    // window is on screen.
    if (const QString file = TDepart::CommandLineFile(QCoreApplication::arguments()); !file.isEmpty())
        QTimer::singleShot(0, &Depart, [&Depart, file] { Guarded([&] { Depart.OpenFile(file); }); });
    return TApplication::exec();
}
