// The editor's rules without a window: loading, the label texts, zoom and scroll arithmetic, and what
// the waveform box draws.
#include "editor/Editor.h"

#include "audio/TestWaves.h"

#include <climits>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

std::string tempFolder()
{
    static const std::string folder = [] {
        std::string pattern = testing::TempDir() + "sonalto-editor-XXXXXX";
        return std::string(mkdtemp(pattern.data())) + "/";
    }();
    return folder;
}

std::string writeFile(const std::string& name, const Bytes& bytes)
{
    const std::string path = tempFolder() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Mono 16-bit: sample i is i * step (wrapping in 16 bits).
std::string monoRamp(const std::string& name, unsigned rate, std::size_t count, int step = 1)
{
    std::vector<std::int16_t> s(count);
    for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int16_t>(static_cast<int>(i) * step);
    return writeFile(name, CanonicalWave(PcmFormat(1, rate, 16), Pcm16(s)));
}

TEST(FormatTime, MinutesSecondsMilliseconds)
{
    EXPECT_EQ(FormatTime(0), " 00-00.000 ");
    EXPECT_EQ(FormatTime(61500), " 01-01.500 ");
    EXPECT_EQ(FormatTime(999), " 00-00.999 ");
    EXPECT_EQ(FormatTime(3600000), " 60-00.000 ");
    EXPECT_EQ(FormatTime(6000000), " 100-00.000 ");
    EXPECT_EQ(FormatTime(4294967295u), " 71582-47.295 ");
}

TEST(LoadRecording, StereoSixteenBitIsFoldedToMono)
{
    // Left 2i, right 2i + 2: the fold gives 2i + 1.
    std::vector<std::int16_t> s;
    for (int i = 0; i < 1000; ++i) {
        s.push_back(static_cast<std::int16_t>(2 * i));
        s.push_back(static_cast<std::int16_t>(2 * i + 2));
    }
    const std::string path = writeFile("stereo44.wav", CanonicalWave(PcmFormat(2, 44100, 16), Pcm16(s)));
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(path), TEditor::LoadResult::Loaded);
    EXPECT_TRUE(editor.RecordingLoaded);
    EXPECT_EQ(editor.SourceFileName, path);
    EXPECT_EQ(editor.FormatText(), "44100 Hz 16 B");
    ASSERT_EQ(editor.SampleCount, 1000u);
    for (std::uint32_t i = 0; i < 1000; ++i)
        ASSERT_EQ(editor.SampleAt(i), static_cast<int>(2 * i + 1)) << i;
    EXPECT_EQ(editor.WS1.Wave().PCMFormat(), Mono16bit44100Hz);
    EXPECT_EQ(editor.WStest.Wave().Size(), 0u);
    EXPECT_EQ(editor.DurationText(), " 00-00.023 "); // 1000 / 44100 s = 22.68 ms
}

// A stereo or 8-bit file is folded and widened as it is read, in blocks: the recording must be byte for
// byte what folding the whole file gave, with the same label, across block boundaries and odd endings.
TEST(LoadRecording, FoldedAsReadIsWhatTheWholeFileGave)
{
    struct Row
    {
        const char* name;
        unsigned channels, rate, bits;
        std::size_t frames;
        Bytes (*build)(const TWaveFormatEx& format, const Bytes& samples);
    };
    const auto plain = [](const TWaveFormatEx& f, const Bytes& s) { return CanonicalWave(f, s); };
    const auto oddEnd = [](const TWaveFormatEx& f, const Bytes& s) { // half a frame after the last
        Bytes cut(s.begin(), s.end() - f.nBlockAlign / 2);
        return RiffBuilder().fmt(f, 18).chunk("LIST", Bytes(9, 'z')).data(cut).build();
    };
    const auto claimsMore = [](const TWaveFormatEx& f, const Bytes& s) {
        return RiffBuilder().fmt(f).data(s, static_cast<std::int64_t>(s.size()) * 2).build();
    };
    const auto wrongRate = [](const TWaveFormatEx& f, const Bytes& s) {
        TWaveFormatEx wrong = f;
        wrong.nAvgBytesPerSec = 1;
        wrong.nBlockAlign = 3;
        return RiffBuilder().fmt(wrong).data(s).chunk("LIST", Bytes(4, 'w')).build();
    };
    const std::vector<Row> rows = {
        {"stereo16.wav", 2, 44100, 16, 300007, plain},        // two blocks and a bit
        {"stereo16-long.wav", 2, 48000, 16, 2100003, oddEnd}, // long enough to fold in two halves at once
        {"stereo16-odd.wav", 2, 22050, 16, 4001, oddEnd},
        {"stereo8.wav", 2, 8000, 8, 600003, plain},
        {"stereo8-more.wav", 2, 11025, 8, 5001, claimsMore},
        {"mono8.wav", 1, 11025, 8, 1100001, oddEnd},
        {"mono8-repaired.wav", 1, 48000, 8, 4801, wrongRate},
        {"stereo16-repaired.wav", 2, 48000, 16, 4801, wrongRate},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TWaveFormatEx format = PcmFormat(row.channels, row.rate, row.bits);
        const std::string path =
            writeFile(row.name, row.build(format, Ramp(row.frames, row.channels, row.bits)));
        TEditor whole;
        whole.WStest.Wave().LoadFromFile(path);
        ASSERT_TRUE(whole.AcceptFormat());
        TEditor editor;
        ASSERT_EQ(editor.LoadRecording(path), TEditor::LoadResult::Loaded);
        EXPECT_EQ(WaveBytes(editor.WS1.Wave()), WaveBytes(whole.WStest.Wave()));
        EXPECT_EQ(editor.FormatText(), std::to_string(row.rate) + " Hz " + std::to_string(row.bits) + " B");
    }
    // Less than a frame of stereo: nothing to show, and the recording on screen stays.
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(monoRamp("avant.wav", 22050, 100)), TEditor::LoadResult::Loaded);
    const Bytes before = WaveBytes(editor.WS1.Wave());
    EXPECT_EQ(
        editor.LoadRecording(writeFile("demi.wav", CanonicalWave(PcmFormat(2, 22050, 16), Bytes(2, 1)))),
        TEditor::LoadResult::Refused);
    EXPECT_EQ(WaveBytes(editor.WS1.Wave()), before);
}

TEST(LoadRecording, LabelsShowTheFoldedFileFormat)
{
    TEditor editor;
    const std::string stereo11 =
        writeFile("stereo11.wav", CanonicalWave(PcmFormat(2, 11025, 16), Staircase16(50, 2)));
    ASSERT_EQ(editor.LoadRecording(stereo11), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.FormatText(), "11025 Hz 16 B");

    // 8-bit files are shown as they were recorded, but held as 16-bit samples.
    Bytes eight;
    for (int i = 0; i < 40; ++i) {
        eight.push_back(static_cast<std::uint8_t>(100 + i));
        eight.push_back(static_cast<std::uint8_t>(102 + i));
    }
    const std::string stereo8 = writeFile("stereo8.wav", CanonicalWave(PcmFormat(2, 22050, 8), eight));
    ASSERT_EQ(editor.LoadRecording(stereo8), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.FormatText(), "22050 Hz 8 B");
    ASSERT_EQ(editor.SampleCount, 40u);
    EXPECT_EQ(editor.WS1.Wave().PCMFormat(), Mono16bit22050Hz);
    for (std::uint32_t i = 0; i < 40; ++i)
        ASSERT_EQ(editor.SampleAt(i), (101 + static_cast<int>(i) - 128) * 256) << i;
}

TEST(LoadRecording, StartsWithTheWholeRecordingShownAndSelected)
{
    TEditor editor;
    editor.BoxWidth = 620;
    ASSERT_EQ(editor.LoadRecording(monoRamp("ramp.wav", 8000, 8000)), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.SelStart, 0u);
    EXPECT_EQ(editor.SelEnd, 7999u);
    EXPECT_FLOAT_EQ(editor.Scale, 620.0F / 8000);
    EXPECT_EQ(editor.FullViewScale, editor.Scale);
    EXPECT_EQ(editor.FirstVisibleSample, 0);
    EXPECT_EQ(editor.SB.Min, 0);
    EXPECT_EQ(editor.SB.Max, 0);
    EXPECT_EQ(editor.SB.Position, 0);
    // The last sample, 7999, is at 999.875 ms.
    EXPECT_EQ(editor.SelectionText(), "de  00-00.000  à  00-01.000  =  00-01.000 ");
    EXPECT_EQ(editor.DurationText(), " 00-01.000 ");
}

TEST(LoadRecording, RefusedFilesKeepThePreviousRecording)
{
    TEditor editor;
    const std::string good = monoRamp("good.wav", 22050, 300);
    ASSERT_EQ(editor.LoadRecording(good), TEditor::LoadResult::Loaded);
    editor.SelStart = 10;
    ASSERT_TRUE(editor.ZoomIn());
    const Bytes before = WaveBytes(editor.WS1.Wave());
    const float scale = editor.Scale;

    Bytes text;
    AppendText(text, "Ceci est un texte, pas un son.");
    const Bytes oneByte = CanonicalWave(PcmFormat(1, 22050, 8), Bytes{128});
    const Bytes oneByteSixteen = CanonicalWave(PcmFormat(1, 22050, 16), Bytes{1});
    const Bytes halfFrame = CanonicalWave(PcmFormat(2, 22050, 16), Bytes{1, 2});
    const Bytes oddRate = CanonicalWave(PcmFormat(1, 32000, 16), Staircase16(10, 1));
    TWaveFormatEx floatFormat = PcmFormat(1, 44100, 16);
    floatFormat.wFormatTag = 3;
    const Bytes notPcm = CanonicalWave(floatFormat, Staircase16(10, 1));
    for (const auto& [name, bytes] :
         {std::pair{"texte.wav", text}, std::pair{"un-octet.wav", oneByte},
          std::pair{"un-octet-16.wav", oneByteSixteen}, std::pair{"demi-trame.wav", halfFrame},
          std::pair{"32000.wav", oddRate}, std::pair{"float.wav", notPcm}, std::pair{"vide.wav", Bytes{}}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(editor.LoadRecording(writeFile(name, bytes)), TEditor::LoadResult::Refused);
        EXPECT_EQ(editor.SourceFileName, good);
        EXPECT_EQ(WaveBytes(editor.WS1.Wave()), before);
        EXPECT_EQ(editor.SampleCount, 300u);
        EXPECT_EQ(editor.SelStart, 10u);
        EXPECT_EQ(editor.Scale, scale);
        EXPECT_EQ(editor.WStest.Wave().Size(), 0u);
    }
    EXPECT_THROW(editor.LoadRecording(tempFolder() + "absent.wav"), EFOpenError);
    EXPECT_EQ(WaveBytes(editor.WS1.Wave()), before);
    EXPECT_EQ(editor.SourceFileName, good);
}

TEST(LoadRecording, TruncatedRecordingLoadsWhatIsThere)
{
    Bytes image = RiffBuilder().fmt(PcmFormat(1, 8000, 16)).data(Staircase16(100, 1), 1000000).build();
    image.resize(image.size() - 20); // the last ten samples never reached the disk
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(writeFile("coupe.wav", image)), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.SampleCount, 90u);
    EXPECT_EQ(editor.SampleAt(89), 89);
}

TEST(LoadRecording, TwoByteRecordingIsOneSample)
{
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(monoRamp("un.wav", 8000, 1)), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.SampleCount, 1u);
    EXPECT_EQ(editor.SelEnd, 0u);
    EXPECT_FLOAT_EQ(editor.Scale, 620.0F);
    const TWaveformPicture picture = editor.Picture();
    ASSERT_EQ(picture.TraceY.size(), 620u);
}

TEST(Selection, MillisecondsRoundHalvesToEven)
{
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(monoRamp("ms.wav", 8000, 100)), TEditor::LoadResult::Loaded);
    EXPECT_EQ(editor.SampleToMs(1), 0u);  // 0.125
    EXPECT_EQ(editor.SampleToMs(4), 0u);  // 0.5
    EXPECT_EQ(editor.SampleToMs(12), 2u); // 1.5
    EXPECT_EQ(editor.SampleToMs(20), 2u); // 2.5
    EXPECT_EQ(editor.SampleToMs(28), 4u); // 3.5
}

TEST(Selection, InvertedSelectionText)
{
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(monoRamp("inv.wav", 1000 * 8, 80000)), TEditor::LoadResult::Loaded);
    editor.SelStart = 16000; // 2 s
    editor.SelEnd = 8000;    // 1 s
    editor.DragMode = 0;
    EXPECT_EQ(editor.SelectionText(), "de  00-02.000  à  00-01.000  =  00-00.000 ");
    editor.DragMode = 2;
    EXPECT_EQ(editor.SelectionText(), "de  00-02.000  à  00-02.000  =  00-00.000 ");
    editor.DragMode = 1;
    EXPECT_EQ(editor.SelectionText(), "de  00-01.000  à  00-01.000  =  00-00.000 ");
    editor.SelStart = 10000;
    editor.SelEnd = 29600;
    EXPECT_EQ(editor.SelectionText(), "de  00-01.250  à  00-03.700  =  00-02.450 ");
}

TEST(View, NothingHappensBeforeALoad)
{
    TEditor editor;
    EXPECT_FALSE(editor.ZoomIn());
    EXPECT_FALSE(editor.ZoomOut());
    EXPECT_FALSE(editor.ZoomOnSelection());
    EXPECT_FALSE(editor.FullView());
    editor.ScrollTo(50);
    EXPECT_EQ(editor.FirstVisibleSample, 0);
    EXPECT_FALSE(editor.Picture().Loaded);
    EXPECT_EQ(editor.SelectionText(), "");
    EXPECT_EQ(editor.DurationText(), "");
    EXPECT_EQ(editor.FormatText(), "");
}

TEST(View, ZoomInThreeTimesThenScrollToTheEnd)
{
    TEditor editor;
    editor.BoxWidth = 600;
    ASSERT_EQ(editor.LoadRecording(monoRamp("zoom.wav", 8000, 6000)), TEditor::LoadResult::Loaded);
    EXPECT_FALSE(editor.ZoomOut()); // already the full view
    EXPECT_FLOAT_EQ(editor.Scale, 0.1F);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(editor.ZoomIn());
    EXPECT_FLOAT_EQ(editor.Scale, 0.8F);
    EXPECT_NEAR(editor.SB.Max, 7 * 600, 1);
    editor.ScrollTo(editor.SB.Max);
    EXPECT_EQ(editor.SB.Position, editor.SB.Max);
    const TWaveformPicture picture = editor.Picture();
    // Position 4200 at 0.8 px per sample: the first column shows sample 5250, the last one 5250 + 749,
    // the very last sample (the ramp's value is its index).
    EXPECT_EQ(editor.FirstVisibleSample, 5250);
    const float k = static_cast<float>(editor.BoxHeight / 32768.0L / 2);
    EXPECT_EQ(picture.TraceY.back(), picture.Middle + static_cast<int>(std::nearbyintl(5999.0L * k)));
    EXPECT_EQ(picture.TraceY.front(), picture.Middle + static_cast<int>(std::nearbyintl(5250.0L * k)));
}

TEST(View, ZoomOutStopsAboveTheFullView)
{
    TEditor editor;
    editor.BoxWidth = 600;
    ASSERT_EQ(editor.LoadRecording(monoRamp("out.wav", 8000, 6000)), TEditor::LoadResult::Loaded);
    ASSERT_TRUE(editor.ZoomIn());
    ASSERT_TRUE(editor.ZoomOut());
    EXPECT_EQ(editor.Scale, editor.FullViewScale);
    // Between one and two times the full view, only the full view command goes back.
    editor.SelStart = 0;
    editor.SelEnd = 4000; // 1.5 times the full view
    ASSERT_TRUE(editor.ZoomOnSelection());
    EXPECT_FALSE(editor.ZoomOut());
    ASSERT_TRUE(editor.FullView());
    EXPECT_EQ(editor.Scale, editor.FullViewScale);
    EXPECT_EQ(editor.SB.Max, 0);
    EXPECT_EQ(editor.FirstVisibleSample, 0);
}

TEST(View, ZoomWhileScrolledKeepsThePixelPositionAndTheTraceFollowsIt)
{
    TEditor editor;
    editor.BoxWidth = 500;
    ASSERT_EQ(editor.LoadRecording(monoRamp("scroll.wav", 8000, 10000)), TEditor::LoadResult::Loaded);
    ASSERT_TRUE(editor.ZoomIn());
    ASSERT_TRUE(editor.ZoomIn()); // 0.2 px per sample, strip 2000 px
    editor.ScrollTo(400);
    EXPECT_EQ(editor.FirstVisibleSample, 2000);
    ASSERT_TRUE(editor.ZoomIn()); // 0.4 px per sample: position 400 stays, now sample 1000
    EXPECT_EQ(editor.SB.Position, 400);
    EXPECT_EQ(editor.FirstVisibleSample, 1000);
    ASSERT_TRUE(editor.ZoomOut());
    ASSERT_TRUE(editor.ZoomOut()); // 0.1: max 500, position 400 kept, sample 4000
    EXPECT_EQ(editor.SB.Max, 500);
    EXPECT_EQ(editor.SB.Position, 400);
    EXPECT_EQ(editor.FirstVisibleSample, 4000);
}

TEST(View, ZoomInStopsAtSixteenPixelsPerSample)
{
    TEditor editor;
    editor.BoxWidth = 640;
    ASSERT_EQ(editor.LoadRecording(monoRamp("short.wav", 8000, 320)), TEditor::LoadResult::Loaded);
    ASSERT_TRUE(editor.ZoomIn()); // 4
    ASSERT_TRUE(editor.ZoomIn()); // 8
    ASSERT_TRUE(editor.ZoomIn()); // 16
    EXPECT_FALSE(editor.ZoomIn());
    EXPECT_FLOAT_EQ(editor.Scale, 16.0F);
}

TEST(View, ZoomOnSelectionFillsTheBox)
{
    TEditor editor;
    editor.BoxWidth = 620;
    ASSERT_EQ(editor.LoadRecording(monoRamp("sel.wav", 8000, 62000)), TEditor::LoadResult::Loaded);
    editor.SelStart = 31000;
    editor.SelEnd = 30000;
    EXPECT_FALSE(editor.ZoomOnSelection()); // inverted
    editor.SelEnd = 31000;
    EXPECT_FALSE(editor.ZoomOnSelection()); // empty
    editor.SelStart = 6200;
    editor.SelEnd = 12400;
    ASSERT_TRUE(editor.ZoomOnSelection());
    EXPECT_FLOAT_EQ(editor.Scale, 0.1F);
    EXPECT_EQ(editor.SB.Position, 620);
    EXPECT_EQ(editor.FirstVisibleSample, 6200);
    const TWaveformPicture picture = editor.Picture();
    EXPECT_EQ(picture.SelectionLeft, 0);
    EXPECT_EQ(picture.SelectionRight, 620);
}

TEST(View, ZoomOnATinySelectionOfALongRecordingStaysWithin32Bits)
{
    TEditor editor;
    editor.BoxWidth = 1900;
    // 4 million samples at 950 pixels each would make a strip of 3.8 billion pixels.
    const std::uint32_t count = 4000000;
    Bytes image = RiffBuilder().fmt(PcmFormat(1, 44100, 16)).data({}, 2LL * count).build();
    image.resize(image.size() + 2ULL * count, 0);
    ASSERT_EQ(editor.LoadRecording(writeFile("long.wav", image)), TEditor::LoadResult::Loaded);
    ASSERT_EQ(editor.SampleCount, count);
    editor.SelStart = 2000000;
    editor.SelEnd = 2000002;
    ASSERT_TRUE(editor.ZoomOnSelection());
    EXPECT_LE(std::llround(static_cast<long double>(count) * editor.Scale) - 1900, INT_MAX);
    EXPECT_GT(editor.Scale, 530.0F); // as far as 32 bits allow
    EXPECT_NEAR(editor.FirstVisibleSample, 2000000, 1);
    std::remove((tempFolder() + "long.wav").c_str());
}

TEST(Picture, BandsAndTraceFollowTheArithmetic)
{
    // Sample i = i * 64: full scale is reached at 512 samples.
    TEditor editor;
    editor.BoxWidth = 100;
    editor.BoxHeight = 145;
    ASSERT_EQ(editor.LoadRecording(monoRamp("pic.wav", 8000, 200, 64)), TEditor::LoadResult::Loaded);
    editor.SelStart = 50; // 0.5 px per sample: column 25
    editor.SelEnd = 120;  // column 60
    TWaveformPicture picture = editor.Picture();
    EXPECT_EQ(picture.SelectionLeft, 25);
    EXPECT_EQ(picture.SelectionRight, 60);
    EXPECT_TRUE(picture.SelectionShown);
    EXPECT_EQ(picture.Middle, 72);
    // Column x shows sample round(x / 0.5) = 2x, value 128x; k = 145 / 65536.
    const float k = static_cast<float>(145.0L / 32768 / 2);
    for (int x = 0; x < 100; ++x)
        ASSERT_EQ(picture.TraceY[static_cast<std::size_t>(x)],
                  72 + static_cast<int>(
                           std::nearbyintl(static_cast<long double>(static_cast<std::int16_t>(128 * x)) * k)))
            << x;
    editor.SelEnd = 50;
    EXPECT_FALSE(editor.Picture().SelectionShown);
}

TEST(Picture, ShortRecordingRepeatsSamplesAndEndsOnTheLast)
{
    TEditor editor;
    editor.BoxWidth = 100;
    ASSERT_EQ(editor.LoadRecording(monoRamp("steps.wav", 8000, 10, 1000)), TEditor::LoadResult::Loaded);
    const TWaveformPicture picture = editor.Picture();
    const float k = static_cast<float>(145.0L / 32768 / 2);
    const auto yOf = [&](int v) {
        return 72 + static_cast<int>(std::nearbyintl(static_cast<long double>(v) * k));
    };
    EXPECT_EQ(picture.TraceY[0], yOf(0));
    EXPECT_EQ(picture.TraceY[4], yOf(0));     // 4 / 10 = 0.4
    EXPECT_EQ(picture.TraceY[5], yOf(0));     // 0.5: half to even
    EXPECT_EQ(picture.TraceY[15], yOf(2000)); // 1.5 to 2
    EXPECT_EQ(picture.TraceY[99], yOf(9000)); // 9.9 to 10, held at the last sample
}

TEST(Picture, SelectionOutsideTheViewLeavesNoGreen)
{
    TEditor editor;
    editor.BoxWidth = 100;
    ASSERT_EQ(editor.LoadRecording(monoRamp("far.wav", 8000, 1000)), TEditor::LoadResult::Loaded);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(editor.ZoomIn()); // 0.8 px per sample, strip 800
    editor.SelStart = 10;
    editor.SelEnd = 50;
    editor.ScrollTo(500);
    const TWaveformPicture picture = editor.Picture();
    EXPECT_LT(picture.SelectionRight, 0);
}

} // namespace
