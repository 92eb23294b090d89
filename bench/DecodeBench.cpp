// Opening an hour-long recording in the compressed formats teachers bring (MP3 at 320 kbit/s, FLAC, Opus) in
// the editor (decode, fold, show) against ffmpeg decoding the same file to mono, and the peak memory of that
// load in a fresh process against the decoded stereo wave plus the mono one.
//   bench_decode DATA_FOLDER             makes the files once with sox, lame and ffmpeg, then prints the rows
//   bench_decode --memory load FILE      (internal) one load in a fresh process
#include "bench/BenchUtils.h"
#include "editor/Editor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Runs = 5;

bool exists(const std::string& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

long long fileSize(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Made once and kept: written under a temporary name, so that an interrupted run leaves nothing half made.
bool make(const std::string& path, const std::vector<std::string>& command)
{
    if (exists(path))
        return true;
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    if (RunCommandSeconds(command) < 0) {
        std::fprintf(stderr, "failed: %s\n", command.front().c_str());
        return false;
    }
    return std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    // A failed reference run counts as missing.
    return values.front() < 0 ? -1 : values[values.size() / 2];
}

void load(TEditor& editor, const std::string& path)
{
    editor.BoxWidth = 1900;
    editor.BoxHeight = 145;
    if (editor.LoadRecording(path) != TEditor::LoadResult::Loaded)
        std::abort();
    // What the window shows first: the whole recording in the waveform box.
    static_cast<void>(editor.Picture());
}

int memoryMode(const std::string& path)
{
    const long long base = ResidentBytes();
    TEditor editor;
    load(editor, path);
    const auto mono = static_cast<long long>(editor.WS1.Wave().Size());
    const long long stereo = 2 * static_cast<long long>(editor.WS1.Wave().DataSize()) + 46;
    std::printf("%lld %lld %lld\n", PeakResidentBytes() - base, stereo, mono);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--memory") == 0)
        return memoryMode(argv[3]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    for (const char* tool : {"sox", "lame", "ffmpeg"})
        if (!ToolAvailable(tool)) {
            std::fprintf(stderr, "%s is missing: run scripts/setup.sh\n", tool);
            return 1;
        }
    const std::string folder = argv[1];
    // A sweep on the left, pink noise on the right: nothing a codec could take a shortcut on.
    const std::string source = folder + "/decode-hour-44100.wav";
    const std::string mp3 = folder + "/decode-hour-320k.mp3";
    const std::string flac = folder + "/decode-hour.flac";
    const std::string opus = folder + "/decode-hour.opus";
    const bool made =
        make(source, {"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", "-t", "wav", source + ".part",
                      "synth", "3600", "sine", "220-880", "pinknoise", "vol", "0.4"}) &&
        make(mp3, {"lame", "--quiet", "-b", "320", source, mp3 + ".part"}) &&
        make(flac, {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-c:a", "flac", "-f", "flac",
                    flac + ".part"}) &&
        make(opus, {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-c:a", "libopus", "-b:a",
                    "128k", "-f", "ogg", opus + ".part"});
    if (!made)
        return 1;

    std::printf("\n== Opening a 60-minute stereo recording in the editor (median of %d runs) ==\n", Runs);
    struct Row
    {
        const char* name;
        std::string path;
    };
    for (const Row& row : {Row{"MP3 320 kbit/s", mp3}, Row{"FLAC", flac}, Row{"Opus 128 kbit/s", opus}}) {
        // Turn about, so that whatever else the machine does weighs on both alike.
        std::vector<double> ours;
        std::vector<double> reference;
        for (int run = 0; run < Runs; ++run) {
            ours.push_back(MedianSeconds(1, [&] {
                TEditor editor;
                load(editor, row.path);
            }));
            reference.push_back(RunCommandSeconds(
                {"ffmpeg", "-nostdin", "-v", "error", "-i", row.path, "-f", "s16le", "-ac", "1", "-"}));
        }
        std::printf("%s: %.1f MB\n", row.name, static_cast<double>(fileSize(row.path)) / 1e6);
        PrintRow(std::string("LoadRecording, ") + row.name, median(ours), median(reference),
                 "ffmpeg -ac 1 to null", 1.0);
        PrintMemoryOf(argv[0], "load", row.path, std::string("LoadRecording, ") + row.name);
    }
    return 0;
}
