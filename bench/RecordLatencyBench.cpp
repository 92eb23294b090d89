// How much sound a recording loses at its two ends, on the sound server: between the click on "Démarrer
// l'enregistrement" (after the file choice) and the first sample in the file, and between the stop click and
// the last one. The program plays a known signal into the server's null sink and records its monitor as the
// recording window does (mono, 16 bits, 22050 Hz, buffers of 100 ms, into a file).
//
// The signal tells its own time: a tone sweeping from 300 to 1800 Hz every two seconds, so the frequency of
// a few milliseconds of the file says which moment of the signal they hold, whatever the server's
// resampling and mixing did to the samples. The moment heard at each click is the player's position (what
// the sink is playing, its latency counted). A negative loss means the file starts before the click.
//   bench_record_latency DATA_FOLDER [SERVER_NAME]
#include "devices/WavePlayers.h"
#include "devices/WaveRecorders.h"
#include "platform/sound/CaptureSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kPlayRate = 44100;
constexpr double kRecordRate = 22050;
constexpr double kLowHz = 300;
constexpr double kSpanHz = 1500;
constexpr double kPeriodMs = 2000;
constexpr double kWindowMs = 40;
constexpr int kRuns = 5;
constexpr double kTargetMs = 100;

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double frequencyAt(double ms)
{
    const double phase = std::fmod(ms, kPeriodMs) / kPeriodMs;
    return kLowHz + kSpanHz * phase;
}

// The sweep, phase-continuous, at half of full scale.
std::unique_ptr<TWave> sweep(double seconds)
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, Mono16bit44100Hz);
    auto wave = std::make_unique<TWave>();
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(*wave, format, riff, data);
    const auto count = static_cast<std::size_t>(seconds * kPlayRate);
    std::vector<std::int16_t> samples(count);
    double phase = 0;
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(16000 * std::sin(phase));
        phase += 2 * M_PI * frequencyAt(static_cast<double>(i) * 1000 / kPlayRate) / kPlayRate;
    }
    handle->Write(samples.data(), samples.size() * 2);
    EndWaveWriting(std::move(handle), riff, data);
    return wave;
}

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

// The mean frequency of the samples [from, from + window), from their rising zero crossings.
std::optional<double> frequencyOf(const std::vector<std::int16_t>& s, std::size_t from)
{
    const auto window = static_cast<std::size_t>(kWindowMs * kRecordRate / 1000);
    if (from + window > s.size())
        return std::nullopt;
    std::vector<double> rising;
    for (std::size_t i = from + 1; i < from + window; ++i)
        if (s[i - 1] < 0 && s[i] >= 0)
            rising.push_back(static_cast<double>(i - 1) +
                             static_cast<double>(-s[i - 1]) / static_cast<double>(s[i] - s[i - 1]));
    if (rising.size() < 3)
        return std::nullopt;
    return static_cast<double>(rising.size() - 1) * kRecordRate / (rising.back() - rising.front());
}

// The moment of the signal (ms) that sample `at` of the file holds, the one nearest to `guess`; nullopt when
// the samples there are not the sweep (silence, or the sweep's jump back to its low end).
std::optional<double> signalTimeOf(const std::vector<std::int16_t>& s, std::size_t at, double guess,
                                   bool forward)
{
    const auto window = static_cast<std::size_t>(kWindowMs * kRecordRate / 1000);
    // Look a little further in when the window falls on the jump (at most twice).
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::size_t shift = static_cast<std::size_t>(attempt) * window;
        if (!forward && at < shift + window)
            return std::nullopt;
        const std::size_t from = forward ? at + shift : at - shift - window + 1;
        const std::optional<double> f = frequencyOf(s, from);
        if (!f || *f < kLowHz + 30 || *f > kLowHz + kSpanHz - 30)
            continue;
        // The window's mean frequency is the one at its middle; back to the sample asked for.
        const double middle = (*f - kLowHz) / kSpanHz * kPeriodMs;
        const double offset =
            (static_cast<double>(from) + static_cast<double>(window) / 2 - static_cast<double>(at)) * 1000 /
            kRecordRate;
        const double phase = middle - offset;
        const double k = std::round((guess - phase) / kPeriodMs);
        return phase + k * kPeriodMs;
    }
    return std::nullopt;
}

struct Run
{
    double lostStart = 0;
    double lostStop = 0;
    double leadingSilenceMs = 0;
};

std::optional<Run> measure(TAudioPlayer& player, const std::string& file, int recordMs)
{
    TStockAudioRecorder recorder;
    recorder.SetPCMFormat(Mono16bit22050Hz);
    recorder.SetBufferLength(100);
    const double heardAtStart = player.Position();
    if (!recorder.RecordToFile(file))
        return std::nullopt;
    runFor(recordMs);
    const double heardAtStop = player.Position();
    recorder.Stop();

    const std::vector<std::int16_t> s = samplesOf(file);
    // Leading samples without sound hold nothing that was heard: the loss counts from the first one that
    // has sound, and the silence is told apart.
    std::size_t first = 0;
    while (first < s.size() && std::abs(s[first]) < 2000)
        ++first;
    if (first >= s.size())
        return std::nullopt;
    const std::optional<double> start = signalTimeOf(s, first, heardAtStart, true);
    const std::optional<double> stop = signalTimeOf(s, s.size() - 1, heardAtStop, false);
    if (!start || !stop)
        return std::nullopt;
    return Run{*start - heardAtStart, heardAtStop - *stop, static_cast<double>(first) * 1000 / kRecordRate};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The line "Latency: N usec" of the null sink and of its monitor, as the server reports them.
std::string serverLatencies()
{
    std::string text;
    for (const char* command :
         {"pactl list sinks 2>/dev/null | awk '$1==\"Name:\"{o=($2==\"sonalto_null\")} "
          "o&&$1==\"Latency:\"{print $2; exit}'",
          "pactl list sources 2>/dev/null | awk '$1==\"Name:\"{o=($2==\"sonalto_null.monitor\")} "
          "o&&$1==\"Latency:\"{print $2; exit}'"}) {
        std::string value;
        if (FILE* pipe = ::popen(command, "r")) {
            char line[64] = {};
            if (std::fgets(line, sizeof line, pipe))
                value = line;
            ::pclose(pipe);
        }
        while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
            value.pop_back();
        text += (text.empty() ? "sink " : ", its monitor ") +
                (value.empty() ? std::string("?") : std::to_string(std::stol(value) / 1000) + " ms");
    }
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER [SERVER_NAME]\n", argv[0]);
        return 2;
    }
    const std::string folder = std::filesystem::absolute(argv[1]).string();
    const std::string server = argc > 2 ? argv[2] : "sound server";
    QCoreApplication app(argc, argv);

    std::printf("\n== Recording's ends on %s (mono 16-bit 22050 Hz, buffers of 100 ms) ==\n", server.c_str());
    SelectCaptureSource("sonalto_null.monitor");
    const std::unique_ptr<TWave> signal = sweep(kRuns * 5.0 + 10);
    TAudioPlayer player;
    player.SetWave(signal.get());
    try {
        player.SetActive(true);
    } catch (const std::exception& e) {
        std::printf("no sound output: %s\n", e.what());
        return 0;
    }
    runFor(1500); // the stream settles before the first click

    std::vector<double> starts;
    std::vector<double> stops;
    std::vector<double> silences;
    for (int run = 0; run < kRuns; ++run) {
        const std::string file = folder + "/latency-" + std::to_string(run) + ".wav";
        std::optional<Run> r;
        try {
            r = measure(player, file, 2500);
        } catch (const std::exception& e) {
            std::printf("run %d: %s\n", run + 1, e.what());
        }
        std::filesystem::remove(file);
        if (!r) {
            std::printf("run %d: the recording could not be read back as the signal\n", run + 1);
            continue;
        }
        starts.push_back(r->lostStart);
        stops.push_back(r->lostStop);
        silences.push_back(r->leadingSilenceMs);
        runFor(300);
    }
    player.SetActive(false);
    if (starts.empty())
        return 0;
    const auto row = [](const char* what, double ms) {
        std::printf("%-46s %7.1f ms   (target < %.0f ms: %s)\n", what, ms, kTargetMs,
                    ms < kTargetMs ? "ok" : "MISSED");
    };
    row("sound lost after the start click (median)", median(starts));
    row("sound lost before the stop click (median)", median(stops));
    std::printf("%-46s %7.1f ms   (added before the first sound, none of it missing)\n",
                "silence at the file's start (median)", median(silences));
    std::printf("%-46s %s   (the player's position already counts the sink's)\n", "server latencies",
                serverLatencies().c_str());
    std::printf("%-46s %zu of %d runs read back\n", "", starts.size(), kRuns);
    return 0;
}
