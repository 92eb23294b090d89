// Recordings in other formats than WAV, through the editor's load: the decoded format on the label, the
// stereo fold, and the previous recording kept whenever nothing new can be shown.
#include "audio/SoundFiles.h"
#include "editor/Editor.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct LoadRow
{
    std::string name;
    unsigned sourceRate;
    unsigned sourceChannels;
    std::vector<std::string> ffmpegArgs;
    std::string label; // Label11
    unsigned rate;     // of WS1
    std::size_t frameTolerance;
    int amplitude; // of the folded sine
};

std::ostream& operator<<(std::ostream& out, const LoadRow& row)
{
    return out << row.name;
}

class LoadDecoded : public testing::TestWithParam<LoadRow>
{
};

TEST_P(LoadDecoded, ShowsTheDecodedFormatFoldedToMono)
{
    const LoadRow& row = GetParam();
    const std::string wav = WriteOnsetSine(row.name + "-src.wav", row.sourceRate, row.sourceChannels, 2);
    const std::string file = Ffmpeg(wav, row.ffmpegArgs, row.name);
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(file), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.FormatText(), row.label);
    EXPECT_EQ(editor.SourceFileName, file);
    EXPECT_EQ(editor.WS1.Wave().WaveFormat()->nChannels, 1);
    EXPECT_EQ(editor.WS1.Wave().WaveFormat()->nSamplesPerSec, row.rate);
    EXPECT_EQ(editor.WStest.Wave().Size(), 0u);
    const std::size_t expected = 2 * row.rate;
    EXPECT_LE(std::max<std::size_t>(editor.SampleCount, expected) -
                  std::min<std::size_t>(editor.SampleCount, expected),
              row.frameTolerance);
    EXPECT_EQ(editor.SelStart, 0u);
    EXPECT_EQ(editor.SelEnd, editor.SampleCount - 1);
    if (row.frameTolerance <= 2) { // lossless: the length to the millisecond
        EXPECT_EQ(editor.DurationText(), " 00-02.000 ");
    }

    std::vector<std::int16_t> mono(editor.SampleCount);
    for (std::uint32_t i = 0; i < editor.SampleCount; ++i)
        mono[i] = editor.SampleAt(i);
    const SignalMeasure m = Measure(mono, 1, 0, row.rate, row.amplitude);
    EXPECT_NEAR(20 * std::log10(m.level / (row.amplitude / std::sqrt(2.0))), 0, 1.0);
    EXPECT_NEAR(m.frequency, OnsetHz, OnsetHz * 0.01);
}

// The fold averages the two channels: (16384 + 8192) / 2.
constexpr int StereoFold = (FirstAmplitude + SecondAmplitude) / 2;

INSTANTIATE_TEST_SUITE_P(
    Formats, LoadDecoded,
    testing::Values(
        LoadRow{"stereo.mp3",
                44100,
                2,
                {"-c:a", "libmp3lame", "-b:a", "192k"},
                "44100 Hz 16 B",
                44100,
                1152,
                StereoFold},
        LoadRow{"stereo.opus", 48000, 2, {"-c:a", "libopus"}, "48000 Hz 16 B", 48000, 960, StereoFold},
        LoadRow{"mono16000.flac", 16000, 1, {"-c:a", "flac"}, "22050 Hz 16 B", 22050, 2, FirstAmplitude},
        LoadRow{"mono.m4a", 11025, 1, {"-c:a", "aac"}, "11025 Hz 16 B", 11025, 1024, FirstAmplitude}),
    [](const testing::TestParamInfo<LoadRow>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST(LoadDecodedRecording, RefusedOrCancelledLoadsKeepThePreviousRecording)
{
    TEditor editor;
    const std::string good = WriteOnsetSine("bon.wav", 22050, 1, 0.5);
    ASSERT_EQ(editor.LoadRecording(good), TEditor::LoadResult::Loaded);
    editor.SelStart = 100;
    const Bytes before = WaveBytes(editor.WS1.Wave());

    const std::string mp3 = Lame(WriteOnsetSine("long.wav", 44100, 2, 3), {"-b", "128"}, "long.mp3");
    Bytes noise(20000);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((i * 2654435761U) >> 13);
    const std::string random = WriteBytes("bruit.mp3", noise);
    const std::string empty = WriteBytes("rien.ogg", {});

    int calls = 0;
    editor.OnDecodeProgress = [&](double) { return ++calls < 5; };
    EXPECT_EQ(editor.LoadRecording(mp3), TEditor::LoadResult::Cancelled);
    EXPECT_EQ(calls, 5);
    editor.OnDecodeProgress = {};
    EXPECT_EQ(editor.LoadRecording(random), TEditor::LoadResult::Refused);
    EXPECT_EQ(editor.LoadRecording(empty), TEditor::LoadResult::Refused);
    EXPECT_THROW(editor.LoadRecording(SoundPath("absent.mp3")), EFOpenError);

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
