// Loading an hour-long stereo recording into the editor (read, fold, show) against sox folding it, and
// one redraw of the waveform box 1900 pixels wide.
//   bench_editor DATA_FOLDER          (the recording is the one bench_audio generates there)
//   bench_editor --open FILE          (internal) one open in a fresh process: "SECONDS PEAK MONO_BYTES"
//   bench_editor --open-whole FILE    (internal) the same, the way files were opened before
#include "bench/BenchUtils.h"
#include "editor/Editor.h"
#include "editor/ui/WaveformBox.h"
#include "montage/Montage.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Runs = 3;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One open in a fresh process: "SECONDS PEAK MONO_BYTES". whole: as the editor opened files before, the
// whole file read, then folded and widened beside it.
int openMode(const std::string& path, bool whole)
{
    const long long base = ResidentBytes();
    const double start = now();
    TEditor editor;
    editor.BoxWidth = 1900;
    if (whole) {
        editor.WStest.Wave().LoadFromFile(path);
        if (!editor.AcceptFormat())
            return 1;
        editor.WS1.Wave().SwapContent(editor.WStest.Wave());
    } else if (editor.LoadRecording(path) != TEditor::LoadResult::Loaded) {
        return 1;
    }
    const double seconds = now() - start;
    PrintFreshOpen(seconds, PeakResidentBytes() - base, static_cast<long long>(editor.WS1.Wave().Size()));
    return 0;
}

// Both ways, each in fresh processes taken in turn, so that whatever the machine does meanwhile weighs on
// both alike: the medians of each.
std::pair<FreshOpen, FreshOpen> openInFreshProcesses(const std::string& self, const std::string& file,
                                                     int runs)
{
    std::vector<FreshOpen> streamed;
    std::vector<FreshOpen> whole;
    for (int i = 0; i < runs; ++i) {
        streamed.push_back(OpenInFreshProcess(self, "--open", file));
        whole.push_back(OpenInFreshProcess(self, "--open-whole", file));
    }
    return {MedianOpen(streamed), MedianOpen(whole)};
}

double paintMs(TEditor& editor, QImage& image)
{
    const double seconds = MedianSeconds(101, [&] {
        QPainter painter(&image);
        DrawWaveform(painter, editor.Picture(), image.width(), image.height());
    });
    return seconds * 1000;
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string folder = argv[1];
    const std::string input = folder + "/hour-stereo-44100.wav";
    if (::access(input.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "%s is missing: run bench_audio first\n", input.c_str());
        return 1;
    }

    std::printf("\n== The editor with a 60-minute stereo recording (median of %d runs) ==\n", Runs);
    const double load = MedianSeconds(Runs, [&] {
        TEditor editor;
        editor.BoxWidth = 1900;
        if (editor.LoadRecording(input) != TEditor::LoadResult::Loaded)
            std::abort();
    });
    const double sox = ToolAvailable("sox")
                           ? MedianCommandSeconds(Runs, {"sox", input, "-c", "1", folder + "/sox-fold.wav"})
                           : -1;
    PrintRow("LoadRecording (read, fold, show)", load, sox, "sox -c 1", 0.5);

    TEditor editor;
    editor.BoxWidth = 1900;
    editor.BoxHeight = 145;
    editor.LoadRecording(input);
    QImage image(1900, 145, QImage::Format_RGB32);
    const double full = paintMs(editor, image);
    for (int i = 0; i < 6; ++i)
        editor.ZoomIn();
    editor.ScrollTo(editor.SB.Max / 2);
    const double zoomed = paintMs(editor, image);
    std::printf("%-44s %8.3f ms  (target < 2 ms: %s)\n", "PBPaint, 1900 px, full view", full,
                full < 2 ? "ok" : "MISSED");
    std::printf("%-44s %8.3f ms  (target < 2 ms: %s)\n", "PBPaint, 1900 px, zoomed 64x", zoomed,
                zoomed < 2 ? "ok" : "MISSED");

    // An extract of 30 s from the middle of the hour, as "Ajouter la sélection au montage" adds it (the
    // stretch copied, converted to the montage's format), and the selection handed to its player.
    TMontage montage;
    const std::uint32_t middle = editor.WS1.Wave().Duration() / 2;
    const double add = MedianSeconds(11, [&] {
        montage.AddClip("Extrait", editor.WS1.Wave(), input, middle, middle + 30000);
        montage.FreeAllClips();
    });
    std::printf("%-44s %8.3f ms  (target < 20 ms: %s)\n", "AddClip, 30 s of the hour", add * 1000,
                add < 0.020 ? "ok" : "MISSED");
    // What both did before: the whole recording copied, then cut down to the stretch.
    TWave whole;
    const double copied = MedianSeconds(3, [&] {
        whole.CopyContentFrom(editor.WS1.Wave());
        whole.Delete(middle + 30000, std::numeric_limits<std::uint32_t>::max() - middle - 30000);
        whole.Delete(0, middle);
    });
    std::printf("%-44s %8.3f ms  (the whole recording copied, then cut)\n", "  before: the same 30 s",
                copied * 1000);
    TWave selection;
    const double play =
        MedianSeconds(11, [&] { selection.CopyRange(editor.WS1.Wave(), middle, middle + 30000); });
    std::printf("%-44s %8.3f ms  (target < 20 ms: %s)\n", "the selection's copy for its player, 30 s",
                play * 1000, play < 0.020 ? "ok" : "MISSED");

    // Opening the file as a user does, in a fresh process where every page touched is a new one, beside the
    // way the editor opened files before (read whole, then folded beside it).
    const auto [opened, before] = openInFreshProcesses(argv[0], input, 5);
    if (opened.seconds < 0 || before.seconds < 0) {
        std::printf("LoadRecording in a fresh process: failed\n");
        return 1;
    }
    PrintRow("LoadRecording, in a fresh process", opened.seconds, before.seconds, "before: whole, then fold",
             0.5);
    PrintMemoryRow("  its peak memory against the mono wave", opened.peak, opened.bytes);
    std::printf("%-44s peak %7.1f MB   ratio %5.2fx  (the file and the mono wave together)\n",
                "  before: its peak memory", static_cast<double>(before.peak) / 1e6,
                static_cast<double>(before.peak) / static_cast<double>(before.bytes));
    return 0;
}
