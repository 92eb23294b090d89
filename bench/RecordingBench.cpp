// Recording as the recording window does it (mono, 16 bits, 22050 Hz, buffers of 100 ms, into a file):
// the CPU it costs, and a long recording that must lose no buffer.
//   bench_recording DATA_FOLDER
//   SONALTO_BENCH_RECORD_SECONDS   length of the long recording (default 600)
// The CPU is the process's (user + system) over the wall time, in percent of one core. ALSA's "null"
// device delivers sound as fast as it is read, so there the figure is CPU per second of sound, for us
// and for arecord alike. The PulseAudio row needs a sound server (bench/run.sh starts a private one).
#include "bench/BenchUtils.h"
#include "devices/WaveRecorders.h"
#include "platform/sound/Backends.h"
#include "platform/sound/VirtualClock.h"
#include "platform/sound/virtual/VirtualWaveIn.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::uint32_t kRate = 22050;
constexpr double kTargetPercent = 2.0;

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs the event loop for a while, sleeping between events as the program does.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The signal the virtual device records: frame i holds ((i * 37) mod 65536) - 32768.
int signalAt(std::uint64_t frame)
{
    return static_cast<int>((frame * 37) % 65536) - 32768;
}

// Runs a command, its output thrown away, and returns the CPU it used (user + system, seconds) and its
// wall time; negative CPU when it could not run or failed.
double childCpuSeconds(const std::vector<std::string>& argv, double& wall)
{
    double cpu = 0;
    wall = RunCommandSeconds(argv, &cpu);
    return wall < 0 ? -1 : cpu;
}

void printCpuRow(const std::string& what, double percent, double reference, const std::string& referenceName)
{
    const char* verdict = percent < kTargetPercent ? "ok" : "MISSED";
    if (reference > 0)
        std::printf("%-46s %7.3f %% of one core   %-16s %7.3f %%   ratio %6.1fx  (target < 2 %%: %s)\n",
                    what.c_str(), percent, referenceName.c_str(), reference, percent / reference, verdict);
    else if (!referenceName.empty())
        std::printf("%-46s %7.3f %% of one core   %-16s unavailable  (target < 2 %%: %s)\n", what.c_str(),
                    percent, referenceName.c_str(), verdict);
    else
        std::printf("%-46s %7.3f %% of one core   %-41s  (target < 2 %%: %s)\n", what.c_str(), percent, "",
                    verdict);
}

void setUp(TStockAudioRecorder& recorder)
{
    recorder.SetPCMFormat(Mono16bit22050Hz);
    recorder.SetBufferLength(100);
}

// Starts recording into the file and runs the events until the device records; false when it cannot.
bool start(TStockAudioRecorder& recorder, const std::string& file, std::string& why)
{
    bool started = false;
    recorder.OnActivate = [&started](TWaveAudioIO*) { started = true; };
    try {
        if (!recorder.RecordToFile(file)) {
            why = recorder.LastErrorText();
            return false;
        }
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
    for (int i = 0; i < 100 && !started; ++i)
        runFor(10);
    recorder.OnActivate = nullptr;
    if (!started)
        why = "le périphérique n'a pas confirmé l'ouverture";
    return started;
}

// Samples of the file, as the program reads it back; empty when it is not a valid mono 16-bit wave.
std::vector<std::int16_t> samplesOf(const std::string& file)
{
    TWave wave;
    wave.LoadFromFile(file);
    if (!wave.Valid() || wave.PCMFormat() != Mono16bit22050Hz)
        return {};
    std::vector<std::int16_t> samples(wave.DataSize() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(wave.Data()[2 * i] | wave.Data()[2 * i + 1] << 8);
    return samples;
}

struct VirtualRun
{
    bool ok = false;
    double wall = 0;
    double cpu = 0;             // the whole process
    double clockCpu = 0;        // of which the virtual device's clock thread, which stands for the sound card
    std::uint64_t produced = 0; // frames the device recorded
    std::vector<std::int16_t> samples;
};

// Records the virtual device at real time for the given time. The clock is driven here, so that what it
// produced is known to the frame.
VirtualRun recordVirtual(const std::string& file, int durationMs)
{
    VirtualRun run;
    auto device = std::make_shared<VirtualWaveInBackend>();
    device->SetSignal([](std::uint64_t frame, unsigned) { return signalAt(frame); });
    SetCurrentWaveInBackend(device);
    {
        TStockAudioRecorder recorder;
        setUp(recorder);
        std::string why;
        if (!start(recorder, file, why)) {
            std::printf("virtual device unavailable: %s\n", why.c_str());
            SetCurrentWaveInBackend(nullptr);
            return run;
        }
        std::atomic<std::uint64_t> producedMs{0};
        std::atomic<double> clockCpu{0};
        VirtualClock clock;
        const double cpu0 = processCpuSeconds();
        const double wall0 = wallSeconds();
        clock.Run(1.0, [&](std::uint32_t ms) {
            device->Advance(ms);
            producedMs += ms;
            clockCpu = threadCpuSeconds();
        });
        runFor(durationMs);
        clock.Stop();
        run.cpu = processCpuSeconds() - cpu0;
        run.wall = wallSeconds() - wall0;
        run.clockCpu = clockCpu;
        // The device started before the clock, so it recorded every millisecond the clock gave.
        run.produced = producedMs * kRate / 1000;
        recorder.Stop();
        run.ok = true;
    }
    SetCurrentWaveInBackend(nullptr);
    run.samples = samplesOf(file);
    return run;
}

// Records from a backend until the file holds soundMs of sound or wallMs went by; CPU and sound seconds.
bool recordBackend(std::shared_ptr<WaveInBackend> backend, const std::string& file, int soundMs, int wallMs,
                   double& cpu, double& wall, double& sound, std::string& why)
{
    SetCurrentWaveInBackend(std::move(backend));
    bool ok = false;
    {
        TStockAudioRecorder recorder;
        setUp(recorder);
        if (start(recorder, file, why)) {
            const double cpu0 = processCpuSeconds();
            const double wall0 = wallSeconds();
            while (recorder.Active() && recorder.Position() < static_cast<std::uint32_t>(soundMs) &&
                   wallSeconds() - wall0 < wallMs / 1000.0)
                runFor(20);
            const bool stillActive = recorder.Active();
            if (stillActive)
                recorder.Stop();
            cpu = processCpuSeconds() - cpu0;
            wall = wallSeconds() - wall0;
            ok = stillActive;
            if (!stillActive)
                why = "l'enregistrement s'est arrêté tout seul";
        }
    }
    SetCurrentWaveInBackend(nullptr);
    sound = static_cast<double>(samplesOf(file).size()) / kRate;
    return ok && sound > 0;
}

int recordSecondsFromEnvironment()
{
    const char* text = std::getenv("SONALTO_BENCH_RECORD_SECONDS");
    const int value = text ? std::atoi(text) : 600;
    return value > 0 ? value : 600;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each row as soon as it is measured: the run is long
    const std::string folder = argv[1];
    const std::string file = folder + "/recording.wav";
    const int longSeconds = recordSecondsFromEnvironment();
    std::printf("\n== Recording mono 16 bits 22050 Hz, buffers of 100 ms, into a file ==\n");

    // The reference: arecord on ALSA's null device, which it reads as fast as it can.
    constexpr int kNullSeconds = 120;
    double arecordPercent = -1;
    double arecordWall = 0;
    if (ToolAvailable("arecord")) {
        const double cpu =
            childCpuSeconds({"arecord", "-q", "-D", "null", "-f", "S16_LE", "-r", "22050", "-c", "1", "-d",
                             std::to_string(kNullSeconds), folder + "/arecord.wav"},
                            arecordWall);
        if (cpu >= 0)
            arecordPercent = cpu / kNullSeconds * 100;
        std::filesystem::remove(folder + "/arecord.wav");
    }
    const std::string referenceName = "arecord -D null";

    // (a) The CPU while recording at real time on the virtual device.
    {
        const VirtualRun run = recordVirtual(file, 10000);
        if (run.ok) {
            // The virtual device's clock thread stands for the sound card: it is counted apart.
            printCpuRow("CPU while recording, virtual device (10 s)",
                        (run.cpu - run.clockCpu) / run.wall * 100, arecordPercent, referenceName);
            printCpuRow("  the same with the device's clock thread", run.cpu / run.wall * 100, -1, "");
        }
    }

    // The same on ALSA's null device: per second of sound, since it delivers faster than real time.
    {
        double cpu = 0, wall = 0, sound = 0;
        std::string why;
        if (recordBackend(CreateAlsaWaveInBackend("null"), file, kNullSeconds * 1000, 120000, cpu, wall,
                          sound, why))
            printCpuRow("CPU per second of sound, ALSA null (" + std::to_string(kNullSeconds) + " s)",
                        cpu / sound * 100, arecordPercent, referenceName);
        else
            std::printf("%-46s unavailable: %s\n", "ALSA null device", why.c_str());
    }

    // On the sound server, when one answers: at real time, against arecord through the server too.
    if (auto pulse = CreatePulseWaveInBackend()) {
        double cpu = 0, wall = 0, sound = 0;
        std::string why;
        if (recordBackend(pulse, file, 10000, 15000, cpu, wall, sound, why)) {
            double referenceWall = 0;
            const double referenceCpu =
                ToolAvailable("arecord")
                    ? childCpuSeconds({"arecord", "-q", "-D", "pulse", "-f", "S16_LE", "-r", "22050", "-c",
                                       "1", "-d", "10", folder + "/arecord.wav"},
                                      referenceWall)
                    : -1;
            std::filesystem::remove(folder + "/arecord.wav");
            printCpuRow("CPU while recording, PulseAudio (10 s)", cpu / wall * 100,
                        referenceCpu >= 0 && referenceWall > 0 ? referenceCpu / referenceWall * 100 : -1,
                        "arecord -D pulse");
        } else {
            std::printf("%-46s unavailable: %s\n", "PulseAudio", why.c_str());
        }
    } else {
        std::printf("%-46s unavailable: no sound server answers\n", "PulseAudio");
    }

    // (b) A long recording at real time loses no buffer: the file holds every frame the device
    // recorded, in order.
    {
        const VirtualRun run = recordVirtual(file, longSeconds * 1000);
        if (run.ok) {
            std::size_t firstWrong = run.samples.size();
            for (std::size_t i = 0; i < run.samples.size(); ++i)
                if (run.samples[i] != signalAt(i)) {
                    firstWrong = i;
                    break;
                }
            const bool exact = run.samples.size() == run.produced && firstWrong == run.samples.size();
            const auto lost =
                static_cast<long long>(run.produced) - static_cast<long long>(run.samples.size());
            std::printf("%-46s %llu frames recorded, %zu in the file, %lld lost  (target 0 lost, "
                        "sample-exact: %s)\n",
                        ("Long recording, virtual device (" + std::to_string(longSeconds) + " s)").c_str(),
                        static_cast<unsigned long long>(run.produced), run.samples.size(), lost,
                        exact ? "ok" : "MISSED");
            if (firstWrong < run.samples.size())
                std::printf("%-46s first wrong sample at frame %zu\n", "", firstWrong);
            printCpuRow("  CPU over the long recording", (run.cpu - run.clockCpu) / run.wall * 100,
                        arecordPercent, referenceName);
        }
    }
    std::filesystem::remove(file);
    return 0;
}
