// Rendering a montage of 100 clips of 30 s with fades and crossfades, step by step as the program does,
// and its WAV export against cp of a file of the same size.
//   bench_montage DATA_FOLDER
#include "bench/BenchUtils.h"
#include "montage/Montage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    TMontage montage;
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, MontageFormat);
    for (int c = 0; c < MaxClips; ++c) {
        Tsample& clip = montage.Create("Extrait " + std::to_string(c + 1), "bench.wav", 0, 30000, c);
        TWave& wave = clip.Storage.Wave();
        RiffChunkInfo riff;
        RiffChunkInfo data;
        auto handle = BeginStreamWave(wave, format, riff, data);
        std::vector<std::int16_t> samples(22050 * 30);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * (200 + 5 * c) * i / 22050.0));
        handle->Write(samples.data(), samples.size() * 2);
        EndWaveWriting(std::move(handle), riff, data);
        // A mix of fades, crossfades (the left clip's fade-out makes them) and plain joints.
        clip.FadeInKind = c % 5 == 0 ? 0 : 1;
        clip.FadeOutKind = c % 3 == 0 ? 2 : (c % 4 == 0 ? 0 : 1);
        clip.FadeInMs = 1000 * (1 + c % 5);
        clip.FadeOutMs = 1000 * (1 + (c + 2) % 5);
    }
    montage.RelayoutStrip();
    montage.RestartRender();

    std::printf("\n== Rendering 100 clips of 30 s (fades, crossfades), one clip per step ==\n");
    double total = 0;
    double longest = 0;
    int steps = 0;
    while (!montage.RenderFinished) {
        const auto start = std::chrono::steady_clock::now();
        montage.RenderStep();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        total += ms;
        longest = std::max(longest, ms);
        ++steps;
    }
    std::printf("%-44s %8.1f ms in %d steps  (target < 2000 ms: %s)\n", "GUI-thread work of the whole render",
                total, steps, total < 2000 ? "ok" : "MISSED");
    std::printf("%-44s %8.1f ms  (target < 50 ms: %s)\n", "longest single step", longest,
                longest < 50 ? "ok" : "MISSED");
    std::printf("%-44s %8.1f s (%u samples)\n", "montage length", montage.WT.Wave().Duration() / 1000.0,
                montage.WT.Wave().DataSize() / 2);

    const std::string exported = folder + "/montage.wav";
    const double export_ = MedianSeconds(5, [&] { montage.ExportWave(exported); });
    const double cp = MedianCommandSeconds(5, {"cp", exported, folder + "/montage-copie.wav"});
    PrintRow("ExportWave of the rendered montage", export_, cp, "cp of the same file", 2.0);
    return 0;
}
