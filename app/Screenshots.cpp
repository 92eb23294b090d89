// Pictures of the real windows for the help pages and the README, taken offscreen:
//   sonalto_screenshots FOLDER
// The main window is shown at 1280 x 800 with a generated recording loaded and part of it selected.
#include "app/Unit1.h"
#include "audio/WaveStorage.h"
#include "platform/ui/Application.h"

#include <QDir>
#include <QPixmap>
#include <cmath>
#include <cstdio>

namespace {

// Eight seconds of "speech": bursts of a few harmonics with a syllable-like envelope.
QString makeRecording(const QString& folder)
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, Mono16bit22050Hz);
    TWave wave;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(wave, format, riff, data);
    const int rate = 22050;
    for (int i = 0; i < rate * 8; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double syllable =
            std::pow(std::max(0.0, std::sin(M_PI * t * 2.3)), 2) * (0.5 + 0.5 * std::sin(t * 0.9));
        const double voice = std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * 360 * t + 1) +
                             0.3 * std::sin(2 * M_PI * 540 * t + 2);
        const auto v = static_cast<std::int16_t>(11000 * syllable * voice);
        handle->Write(&v, 2);
    }
    EndWaveWriting(std::move(handle), riff, data);
    const QString path = folder + QStringLiteral("/exemple.wav");
    wave.SaveToFile(QFile::encodeName(path).toStdString());
    return path;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    TApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    TDepart Depart;
    Depart.FormCreate(QRect(0, 0, 1280, 800));
    Depart.show();
    Depart.grab().save(folder + QStringLiteral("/fenetre-vide.png"));

    Depart.LoadRecording(makeRecording(folder));
    TEditor& editor = Depart.Editor();
    editor.SelStart = 22050 * 2;
    editor.SelEnd = 22050 * 4 + 11025;
    Depart.PBPaint();
    Depart.grab().save(folder + QStringLiteral("/fenetre-enregistrement.png"));
    Depart.SpeedButton8Click();
    Depart.grab().save(folder + QStringLiteral("/zoom-selection.png"));

    // A montage of three extracts, a fade at the start, a crossfade, a fade at the end.
    Depart.SpeedButton9Click();
    TMontage& montage = Depart.Montage();
    const std::string source = editor.SourceFileName;
    montage.AddClip("Bonjour", editor.WS1.Wave(), source, 0, 2300);
    montage.AddClip("La classe", editor.WS1.Wave(), source, 2300, 5200);
    montage.AddClip("Au revoir", editor.WS1.Wave(), source, 5200, 8000);
    montage.CycleFadeIn(0);  // 1 -> 0: from silence
    montage.CycleFadeOut(0); // 1 -> 2: crossfade into the second
    montage.CycleFadeOut(2); // 1 -> 2, refused at the end: 0, to silence
    montage.CompleteRender();
    QCoreApplication::processEvents();
    Depart.grab().save(folder + QStringLiteral("/montage.png"));
    return 0;
}
