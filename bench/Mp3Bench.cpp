// The MP3 export of a 30-minute montage as the dialog and the command-line exporter run it (the copy of the
// rendered montage converted to stereo 16-bit 44 100 Hz, the temporary WAV file, the encoding at 320 kbit/s
// in quality "Normal", the rename), against the lame command at the same encoder level on the
// same WAV file, in the same run. The export encodes plain stereo, so the fair reference is lame in plain
// stereo (-m s); its default, joint stereo, is printed beside it for information only.
//   bench_mp3 DATA_FOLDER
#include "bench/BenchUtils.h"
#include "montage/Montage.h"
#include "mp3/Mp3Export.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int Runs = 3;
constexpr int Clips = 60;
constexpr int ClipSeconds = 30;

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A voice-like clip: a fundamental and its harmonics under a syllable rhythm, with some hiss, so that the
// encoder has real work on every frame.
void fillClip(TWave& wave, int index)
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, MontageFormat);
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(wave, format, riff, data);
    const std::size_t count = std::size_t{22050} * ClipSeconds;
    std::vector<std::int16_t> samples(count);
    const double f0 = 110.0 + 7.0 * index;
    std::uint32_t noise = 12345U + static_cast<std::uint32_t>(index);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 22050.0;
        double v = 0;
        for (int k = 1; k <= 6; ++k)
            v += std::sin(2 * M_PI * f0 * k * t) / k;
        noise = noise * 1664525U + 1013904223U;
        const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.05;
        const double syllables = 0.2 + 0.8 * std::fabs(std::sin(2 * M_PI * 2.5 * t));
        samples[i] = static_cast<std::int16_t>(9000 * (syllables * v * 0.5 + hiss));
    }
    handle->Write(samples.data(), samples.size() * 2);
    EndWaveWriting(std::move(handle), riff, data);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::filesystem::absolute(argv[1]).string();
    // The export's temporary file goes under the data folder, not into the user's cache.
    ::setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);

    TMontage montage;
    for (int c = 0; c < Clips; ++c) {
        Tsample& clip =
            montage.Create("Extrait " + std::to_string(c + 1), "bench.wav", 0, ClipSeconds * 1000, c);
        fillClip(clip.Storage.Wave(), c);
    }
    montage.RelayoutStrip();
    montage.RestartRender();
    montage.CompleteRender();

    // The WAV file the export writes for its encoder, kept for the lame command.
    const std::string wave = folder + "/mp3-montage-44100.wav";
    const std::string lameOut = folder + "/mp3-montage-lame.mp3";
    const std::string ours = folder + "/mp3-montage.mp3";
    double conversion = 0;
    double writing = 0;
    {
        TWaveStorage copy;
        conversion = seconds([&] {
            copy.SetWave(&montage.WT.Wave());
            copy.Wave().ConvertToPCM(Stereo16bit44100Hz);
        });
        writing = seconds([&] { copy.Wave().SaveToFile(wave); });
    }

    TWaveStorage work;
    TLameCoder coder;
    const std::string level = std::to_string(BE_QUALITY_LEVELS[BE_QUALITY_NORMAL]);
    const std::vector<std::string> command{"lame", "-m",  "s",       "-b", "320",
                                           "-q",   level, "--quiet", wave, lameOut};
    const std::vector<std::string> joint{"lame", "-m",  "j",       "-b", "320",
                                         "-q",   level, "--quiet", wave, lameOut};
    const bool lameThere = ToolAvailable("lame");

    std::vector<double> exportTimes;
    std::vector<double> lameTimes;
    std::vector<double> jointTimes;
    for (int run = 0; run < Runs; ++run) {
        exportTimes.push_back(
            seconds([&] { ExportWaveAsMp3(montage.RenderedMontage(), ours, {}, work, coder); }));
        if (lameThere) {
            jointTimes.push_back(RunCommandSeconds(joint));
            lameTimes.push_back(RunCommandSeconds(command)); // last: its file is the one measured below
        }
    }
    std::sort(exportTimes.begin(), exportTimes.end());
    std::sort(lameTimes.begin(), lameTimes.end());
    std::sort(jointTimes.begin(), jointTimes.end());
    const double oursMedian = exportTimes[Runs / 2];
    const double lameMedian = lameThere ? lameTimes[Runs / 2] : -1;

    std::printf(
        "\n== MP3 export of a %d-minute montage (stereo 44.1 kHz, 320 kbit/s, \"Normal\" = level %s) ==\n",
        Clips * ClipSeconds / 60, level.c_str());
    std::printf("%-44s %8.3f s\n", "  of which: copy and conversion", conversion);
    std::printf("%-44s %8.3f s\n", "  of which: temporary WAV file", writing);
    PrintRow("ExportWaveAsMp3 (the dialog's export)", oursMedian, lameMedian, "lame -m s -b 320 -q " + level,
             1.15);
    if (lameThere)
        std::printf("%-44s %8.3f s   (joint stereo, for information: ratio %.2fx)\n",
                    "  lame -m j (its default)", jointTimes[Runs / 2], oursMedian / jointTimes[Runs / 2]);
    std::printf("%-44s %8.1f MB   lame's %8.1f MB\n", "MP3 file size",
                static_cast<double>(std::filesystem::file_size(ours)) / 1e6,
                lameThere ? static_cast<double>(std::filesystem::file_size(lameOut)) / 1e6 : 0.0);
    std::filesystem::remove(lameOut);
    std::filesystem::remove(ours);
    return 0;
}
