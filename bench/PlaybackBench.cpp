// Playing an hour-long recording: the CPU it costs, and how long "stop" takes to return.
//   bench_playback DATA_FOLDER   (the recording is the one bench_audio generates there)
// Plays on the program's own choice of sound output (a sound server, else ALSA).
#include "bench/BenchUtils.h"
#include "devices/WavePlayers.h"
#include "platform/sound/WaveOutService.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for a while, sleeping between events as the program does.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string input = std::string(argv[1]) + "/hour-stereo-44100.wav";
    TWaveStorage storage;
    storage.Wave().LoadFromFile(input);
    std::printf("\n== Playing a 60-minute stereo recording on \"%s\" ==\n",
                CurrentWaveOutBackend().Name().c_str());

    TStockAudioPlayer player;
    player.SetStock(&storage);
    try {
        player.Play(0);
    } catch (const std::exception& e) {
        std::printf("playback unavailable here: %s\n", e.what());
        return 0;
    }
    runFor(1000);
    const double before = cpuSeconds();
    runFor(10000);
    const double cpu = (cpuSeconds() - before) / 10.0 * 100;
    std::printf("%-44s %8.2f %% of one core  (target < 2 %%: %s)\n", "CPU while playing (10 s)", cpu,
                cpu < 2 ? "ok" : "MISSED");

    const double stop = MedianSeconds(
        5, [&] { player.SetActive(false); },
        [&] {
            if (!player.Active())
                player.Play(0);
            runFor(1500);
        });
    std::printf("%-44s %8.1f ms  (target < 100 ms: %s)\n", "Active := false while playing", stop * 1000,
                stop < 0.1 ? "ok" : "MISSED");
    return 0;
}
