// Recordings in other formats than WAV, through the editor's load: the decoded format on the label, the
// stereo fold, and the previous recording kept whenever nothing new can be shown.
#include "audio/SoundFiles.h"
#include "editor/Editor.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(LoadDecodedRecording, ShowsTheDecodedFormatFoldedToMono)
{
    struct Row
    {
        std::string file;
        unsigned sourceRate, sourceChannels;
        std::vector<std::string> encoder;
        std::string label; // Label11
        unsigned rate;     // of WS1
        std::size_t tolerance;
        int amplitude; // of the folded sine
    };
    const std::vector<Row> rows = {
        // The fold averages the channels: (16384 + 8192) / 2.
        {"stereo.mp3", 44100, 2, {"-c:a", "libmp3lame"}, "44100 Hz 16 B", 44100, 1152, 12288},
        {"stereo.opus", 48000, 2, {"-c:a", "libopus"}, "48000 Hz 16 B", 48000, 960, 12288},
        {"mono16000.flac", 16000, 1, {"-c:a", "flac"}, "22050 Hz 16 B", 22050, 1, FirstAmplitude}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string file = Ffmpeg(
            WriteOnsetSine(row.file + ".wav", row.sourceRate, row.sourceChannels, 2), row.encoder, row.file);
        TEditor editor;
        ASSERT_EQ(editor.LoadRecording(file), TEditor::LoadResult::Loaded);
        EXPECT_EQ(editor.FormatText(), row.label);
        EXPECT_EQ(editor.SourceFileName, file);
        EXPECT_EQ(editor.WS1.Wave().WaveFormat()->nChannels, 1);
        EXPECT_EQ(editor.WS1.Wave().WaveFormat()->nSamplesPerSec, row.rate);
        EXPECT_EQ(editor.WStest.Wave().Size(), 0u);
        EXPECT_LE(std::abs(static_cast<long>(editor.SampleCount) - 2L * row.rate),
                  static_cast<long>(row.tolerance));
        EXPECT_EQ(editor.SelEnd, editor.SampleCount - 1);
        SampleVector mono(editor.SampleCount);
        for (std::uint32_t i = 0; i < editor.SampleCount; ++i)
            mono[i] = editor.SampleAt(i);
        const SignalMeasure m = Measure(mono, 1, 0, row.rate, row.amplitude);
        EXPECT_NEAR(20 * std::log10(m.level * std::sqrt(2.0) / row.amplitude), 0, 1.0);
        EXPECT_NEAR(m.frequency, OnsetHz, OnsetHz * 0.01);
    }
}

TEST(LoadDecodedRecording, RefusedOrCancelledLoadsKeepThePreviousRecording)
{
    TEditor editor;
    const std::string good = WriteOnsetSine("bon.wav", 22050, 1, 0.5);
    ASSERT_EQ(editor.LoadRecording(good), TEditor::LoadResult::Loaded);
    editor.SelStart = 100;
    const Bytes before = WaveBytes(editor.WS1.Wave());
    const std::string mp3 = Lame(WriteOnsetSine("long.wav", 44100, 2, 3), {"-b", "128"}, "long.mp3");

    int calls = 0;
    editor.OnDecodeProgress = [&](double) { return ++calls < 5; };
    EXPECT_EQ(editor.LoadRecording(mp3), TEditor::LoadResult::Cancelled);
    EXPECT_EQ(calls, 5);
    editor.OnDecodeProgress = {};
    EXPECT_EQ(editor.LoadRecording(WriteBytes("bruit.mp3", Bytes(20000, 0x5A))),
              TEditor::LoadResult::Refused);
    EXPECT_EQ(editor.LoadRecording(WriteBytes("rien.ogg", {})), TEditor::LoadResult::Refused);
    EXPECT_EQ(editor.SourceFileName, good);
    EXPECT_EQ(WaveBytes(editor.WS1.Wave()), before);
    EXPECT_EQ(editor.SelStart, 100u);
    EXPECT_EQ(editor.FormatText(), "22050 Hz 16 B");
    EXPECT_EQ(editor.WStest.Wave().Size(), 0u);

    // Nothing was left half-done: the same file loads once the progress lets it.
    ASSERT_EQ(editor.LoadRecording(mp3), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.SampleCount, 3u * 44100);
}

} // namespace
