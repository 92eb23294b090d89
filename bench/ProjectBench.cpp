// Opening projects whose clips come from an hour-long stereo recording, each open in a fresh process so that
// first-touch costs count: against reading the clips' bytes alone with dd, and beside the way projects were
// opened before (every clip cut from the whole source, read again each time).
//   bench_project DATA_FOLDER               (the recording is the one bench_audio generates there)
//   bench_project --open PROJECT            (internal) one open: "SECONDS PEAK CLIP_BYTES"
//   bench_project --open-whole PROJECT      (internal) the same, each clip cut from the whole file
#include "audio/PcmWaveFile.h"
#include "bench/BenchUtils.h"
#include "montage/ProjectFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <unistd.h>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A clip as projects were opened before: the whole source read, then cut down and converted.
void cutFromWholeFile(TWave& wave, const std::string& path, std::int32_t startMs, std::int32_t lengthMs)
{
    constexpr auto everything = std::numeric_limits<std::uint32_t>::max();
    wave.LoadFromFile(path);
    wave.RepairPCMFormat();
    const std::int64_t duration = wave.Duration();
    const std::int64_t start = std::clamp<std::int64_t>(startMs, 0, duration);
    const std::int64_t end = std::clamp<std::int64_t>(std::int64_t{startMs} + lengthMs, start, duration);
    if (end < duration)
        wave.Delete(static_cast<std::uint32_t>(end), everything);
    if (start > 0 && start < duration)
        wave.Delete(0, static_cast<std::uint32_t>(start));
    wave.ConvertToPCM(MontageFormat);
    wave.TrimToData();
}

int openMode(const std::string& project, bool whole)
{
    const long long base = ResidentBytes();
    long long clipBytes = 0;
    const double start = now();
    TMontage montage;
    std::vector<std::unique_ptr<TWave>> clips;
    if (whole) {
        TMemoryStream file;
        ReadProjectFile(project, file);
        const auto* records = file.Memory();
        clips.resize(file.Size() / ClipRecordSize);
        for (std::size_t k = 0; k < clips.size(); ++k) {
            const TClipRecord record = DecodeClipRecord(records + k * ClipRecordSize);
            clips[k] = std::make_unique<TWave>();
            cutFromWholeFile(*clips[k], record.SourceFile, record.StartMs, record.LengthMs);
            clipBytes += static_cast<long long>(clips[k]->Size());
        }
    } else {
        LoadProject(montage, project,
                    [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
        for (int p = 0; p < montage.ClipCount; ++p)
            clipBytes += static_cast<long long>(montage.ClipAt(p)->Storage.Wave().Size());
    }
    const double seconds = now() - start;
    PrintFreshOpen(seconds, PeakResidentBytes() - base, clipBytes);
    return 0;
}

// A project of count clips of lengthMs each, spread over the recording at odd milliseconds, and the shell
// command that reads the same bytes with dd, one dd per clip.
std::string makeProject(const std::string& folder, const std::string& source, int count,
                        std::int32_t lengthMs, std::string& ddScript)
{
    TPcmWaveFile file;
    if (!file.Open(source))
        std::abort();
    const TWaveFormatEx& format = file.Format();
    const std::uint32_t duration = WaveDuration(&format, file.DataSize());
    const std::uint32_t step =
        (duration - static_cast<std::uint32_t>(lengthMs)) / static_cast<std::uint32_t>(count);
    std::string project =
        folder + "/project-" + std::to_string(count) + "x" + std::to_string(lengthMs / 1000) + "s.snt";
    std::vector<std::uint8_t> bytes;
    ddScript.clear();
    for (int k = 0; k < count; ++k) {
        const auto startMs = static_cast<std::int32_t>(step * static_cast<std::uint32_t>(k) +
                                                       17 * static_cast<std::uint32_t>(k % 7) + 3);
        const auto record =
            EncodeClipRecord({"Extrait " + std::to_string(k + 1), source, startMs, lengthMs, 1, 1, 0, 0, k});
        bytes.insert(bytes.end(), record.begin(), record.end());
        const std::uint64_t first = WaveMsToBytes(format, static_cast<std::uint32_t>(startMs));
        const std::uint64_t last = WaveMsToBytes(format, static_cast<std::uint32_t>(startMs + lengthMs));
        ddScript +=
            "dd if='" + source + "' of=/dev/null bs=1M iflag=skip_bytes,count_bytes status=none skip=" +
            std::to_string(file.DataOffset() + first) + " count=" + std::to_string(last - first) + "\n";
    }
    TMemoryStream out;
    out.Write(bytes.data(), bytes.size());
    out.SaveToFile(project);
    return project;
}

void benchProject(const std::string& self, const std::string& folder, const std::string& source, int count,
                  std::int32_t lengthMs, bool withBefore)
{
    std::string ddScript;
    const std::string project = makeProject(folder, source, count, lengthMs, ddScript);
    const std::string what = std::to_string(count) + " clips of " + std::to_string(lengthMs / 1000) + " s";
    const double dd = MedianCommandSeconds(5, {"sh", "-c", ddScript});
    std::vector<FreshOpen> runs;
    for (int i = 0; i < 5; ++i)
        runs.push_back(OpenInFreshProcess(self, "--open", project));
    const FreshOpen opened = MedianOpen(runs);
    if (opened.seconds < 0) {
        std::printf("%-44s failed\n", ("LoadProject, " + what).c_str());
        return;
    }
    PrintRow("LoadProject, " + what, opened.seconds, dd, "dd, each clip's bytes", 2.0);
    if (count == 20)
        std::printf("%-44s %8.3f s   (target < 0.5 s: %s)\n", "", opened.seconds,
                    opened.seconds < 0.5 ? "ok" : "MISSED");
    PrintMemoryRow("  its peak memory against the clips' waves", opened.peak, opened.bytes);
    if (withBefore) {
        const FreshOpen before = OpenInFreshProcess(self, "--open-whole", project);
        if (before.seconds >= 0)
            std::printf("%-44s %8.3f s   peak %7.1f MB   (each clip cut from the whole file)\n",
                        "  before: the same project", before.seconds, static_cast<double>(before.peak) / 1e6);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && (std::strcmp(argv[1], "--open") == 0 || std::strcmp(argv[1], "--open-whole") == 0))
        return openMode(argv[2], std::strcmp(argv[1], "--open-whole") == 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    // Stored whole in the projects, so that the program opens them from anywhere.
    const std::string input = std::filesystem::absolute(folder + "/hour-stereo-44100.wav").string();
    if (::access(input.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "%s is missing: run bench_audio first\n", input.c_str());
        return 1;
    }
    std::printf("\n== Projects cut from a 60-minute stereo recording, each opened in a fresh process ==\n");
    benchProject(argv[0], folder, input, 20, 30000, true);
    benchProject(argv[0], folder, input, 100, 5000, false);
    return 0;
}
