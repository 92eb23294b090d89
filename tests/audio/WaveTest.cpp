// The in-memory wave: its details and how they follow the content, the change event, comparisons,
// trimming, and loading and saving files.
#include "audio/TestWaves.h"
#include "platform/io/LocaleSeparators.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>

namespace {

const TWaveFormatEx Mono16At8000 = PcmFormat(1, 8000, 16);

Bytes Text(const std::string& text)
{
    Bytes out;
    AppendText(out, text);
    return out;
}

// A LIST/INFO chunk body holding one comment.
Bytes InfoList(const std::string& comment)
{
    Bytes out = Text("INFOICMT");
    AppendLE32(out, static_cast<std::uint32_t>(comment.size()));
    AppendText(out, comment);
    if (comment.size() & 1U)
        out.push_back(0);
    return out;
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory under the test temp dir, removed with the object.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = testing::TempDir() + "sonalto-wave-XXXXXX";
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

struct ChangeCounter
{
    explicit ChangeCounter(TWave& wave)
    {
        wave.OnChange = [this](TWave* sender) {
            ++count;
            lastSender = sender;
        };
    }
    int count = 0;
    TWave* lastSender = nullptr;
};

// Runs action and returns the message of the exception of type E it throws (nullopt when none).
template <typename E> std::optional<std::string> MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

class LocaleSeparatorsGuard
{
public:
    explicit LocaleSeparatorsGuard(LocaleSeparators separators) { SetLocaleSeparatorsOverride(separators); }
    ~LocaleSeparatorsGuard() { SetLocaleSeparatorsOverride(std::nullopt); }
    LocaleSeparatorsGuard(const LocaleSeparatorsGuard&) = delete;
    LocaleSeparatorsGuard& operator=(const LocaleSeparatorsGuard&) = delete;
};

// ---- Details ----------------------------------------------------------------------------------------

TEST(Wave, NewWave_HasNoDetails)
{
    const TWave wave;
    EXPECT_FALSE(wave.Valid());
    EXPECT_EQ(wave.WaveFormat(), nullptr);
    EXPECT_EQ(wave.Data(), nullptr);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.DataOffset(), 0u);
    EXPECT_EQ(wave.Duration(), 0u);
    EXPECT_EQ(wave.BitRate(), 0);
    EXPECT_EQ(wave.FormatDescription(), "");
    EXPECT_EQ(wave.PCMFormat(), nonePCM);
}

TEST(Wave, CanonicalFile_DetailsPointIntoTheImage)
{
    const TWaveFormatEx format = PcmFormat(2, 44100, 16);
    const Bytes samples = Staircase16(441, 2); // 1764 bytes, 10 ms
    TWave wave;
    LoadBytes(wave, CanonicalWave(format, samples));

    ASSERT_TRUE(wave.Valid());
    ASSERT_NE(wave.WaveFormat(), nullptr);
    EXPECT_EQ(FormatBytes(*wave.WaveFormat(), 18), FormatBytes(format, 18));
    EXPECT_EQ(wave.DataOffset(), 44u);
    EXPECT_EQ(wave.Data(), wave.Memory() + 44);
    EXPECT_EQ(wave.DataSize(), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), wave.Data()));
    EXPECT_EQ(wave.Duration(), 10u);
}

struct DetailsRow
{
    std::string name;
    TWaveFormatEx format;
    std::size_t dataBytes;
    std::uint32_t duration;
    std::int32_t bitRate;
    std::string description;
    TPCMFormat pcm;
};

void PrintTo(const DetailsRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveDetailsTest : public testing::TestWithParam<DetailsRow>
{
};

TEST_P(WaveDetailsTest, LengthRateAndNames)
{
    const DetailsRow& row = GetParam();
    LocaleSeparatorsGuard separators(LocaleSeparators{".", ":"});
    TWave wave;
    LoadBytes(wave, CanonicalWave(row.format, Bytes(row.dataBytes, 0x80)));
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), row.dataBytes);
    EXPECT_EQ(wave.Duration(), row.duration);
    EXPECT_EQ(wave.BitRate(), row.bitRate);
    EXPECT_EQ(wave.FormatDescription(), row.description);
    EXPECT_EQ(wave.PCMFormat(), row.pcm);
}

INSTANTIATE_TEST_SUITE_P(Rows, WaveDetailsTest,
                         testing::Values(
                             // 16000 bytes per second: 8 bytes are 0.5 ms, rounded up; 6 bytes are 0.375 ms.
                             DetailsRow{"HalfMillisecondRoundsUp", PcmFormat(1, 8000, 16), 8, 1, 128,
                                        "PCM 8.000 kHz, 16 Bit, Mono", Mono16bit8000Hz},
                             DetailsRow{"OneAndAHalfMillisecondsRoundUp", PcmFormat(1, 8000, 16), 24, 2, 128,
                                        "PCM 8.000 kHz, 16 Bit, Mono", Mono16bit8000Hz},
                             DetailsRow{"BelowHalfMillisecondRoundsDown", PcmFormat(1, 8000, 16), 6, 0, 128,
                                        "PCM 8.000 kHz, 16 Bit, Mono", Mono16bit8000Hz},
                             // 88.2 kbps.
                             DetailsRow{"Mono8At11025", PcmFormat(1, 11025, 8), 11025, 1000, 88,
                                        "PCM 11.025 kHz, 8 Bit, Mono", Mono8bit11025Hz},
                             // 352.8 kbps rounds to 353.
                             DetailsRow{"Stereo16At11025", PcmFormat(2, 11025, 16), 44100, 1000, 353,
                                        "PCM 11.025 kHz, 16 Bit, Stereo", Stereo16bit11025Hz},
                             // 352.8 kbps; 4410 bytes at 44100 bytes per second.
                             DetailsRow{"Stereo8At22050", PcmFormat(2, 22050, 8), 4410, 100, 353,
                                        "PCM 22.050 kHz, 8 Bit, Stereo", Stereo8bit22050Hz},
                             // 1411.2 kbps; 1764 bytes at 176400 bytes per second.
                             DetailsRow{"Stereo16At44100", PcmFormat(2, 44100, 16), 1764, 10, 1411,
                                        "PCM 44.100 kHz, 16 Bit, Stereo", Stereo16bit44100Hz},
                             // 1000 bytes at 96000 bytes per second: 10.42 ms.
                             DetailsRow{"Mono16At48000", PcmFormat(1, 48000, 16), 1000, 10, 768,
                                        "PCM 48.000 kHz, 16 Bit, Mono", Mono16bit48000Hz},
                             // A PCM rate outside the table of formats.
                             DetailsRow{"Mono16At16000OutsideTable", PcmFormat(1, 16000, 16), 320, 10, 256,
                                        "PCM 16.000 kHz, 16 Bit, Mono", nonePCM}),
                         [](const testing::TestParamInfo<DetailsRow>& info) { return info.param.name; });

TEST(Wave, DescriptionFollowsLocaleDecimalSeparator)
{
    TWave wave;
    LoadBytes(wave, CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(4, 2)));
    {
        LocaleSeparatorsGuard separators(LocaleSeparators{",", ":"});
        EXPECT_EQ(wave.FormatDescription(), "PCM 44,100 kHz, 16 Bit, Stereo");
    }
    LocaleSeparatorsGuard separators(LocaleSeparators{".", ":"});
    EXPECT_EQ(wave.FormatDescription(), "PCM 44.100 kHz, 16 Bit, Stereo");
}

TEST(Wave, ZeroByteRate_GivesZeroDuration)
{
    TWaveFormatEx format = Mono16At8000;
    format.nAvgBytesPerSec = 0;
    TWave wave;
    LoadBytes(wave, CanonicalWave(format, Staircase16(8000, 1)));
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 16000u);
    EXPECT_EQ(wave.Duration(), 0u);
}

TEST(Wave, FloatFormat_IsValidButNotPcm)
{
    TWaveFormatEx format = PcmFormat(1, 8000, 32);
    format.wFormatTag = 3;
    TWave wave;
    LoadBytes(wave, RiffBuilder().fmt(format, 18).data(Bytes(3200, 0)).build());
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.PCMFormat(), nonePCM);
    EXPECT_EQ(wave.Duration(), 100u);
    EXPECT_EQ(wave.BitRate(), 256);
}

// ---- MsToBytes --------------------------------------------------------------------------------------

struct MsToBytesRow
{
    std::string name;
    TWaveFormatEx format;
    std::uint32_t ms;
    std::uint32_t bytes;
};

void PrintTo(const MsToBytesRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveMsToBytesTest : public testing::TestWithParam<MsToBytesRow>
{
};

TEST_P(WaveMsToBytesTest, NearestByteThenUpToWholeFrame)
{
    const MsToBytesRow& row = GetParam();
    TWave wave;
    LoadBytes(wave, CanonicalWave(row.format, {}));
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.MsToBytes(row.ms), row.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaveMsToBytesTest,
    testing::Values(MsToBytesRow{"Mono16At8000_Zero", PcmFormat(1, 8000, 16), 0, 0},
                    MsToBytesRow{"Mono16At8000_OneMs", PcmFormat(1, 8000, 16), 1, 16},
                    MsToBytesRow{"Mono16At8000_OneSecond", PcmFormat(1, 8000, 16), 1000, 16000},
                    // 176.4 -> 176, already four-byte frames.
                    MsToBytesRow{"Stereo16At44100_OneMs", PcmFormat(2, 44100, 16), 1, 176},
                    // 529.2 -> 529 -> 532.
                    MsToBytesRow{"Stereo16At44100_ThreeMs", PcmFormat(2, 44100, 16), 3, 532},
                    // 1764 exactly.
                    MsToBytesRow{"Stereo16At44100_TenMs", PcmFormat(2, 44100, 16), 10, 1764},
                    // 11.025 -> 11 -> 12: one-byte frames still give an even count.
                    MsToBytesRow{"Mono8At11025_OneMs", PcmFormat(1, 11025, 8), 1, 12},
                    // 44.1 -> 44: to the nearest byte, not up.
                    MsToBytesRow{"Mono8At11025_FourMs", PcmFormat(1, 11025, 8), 4, 44},
                    // 33.075 -> 33 -> 34.
                    MsToBytesRow{"Mono8At11025_ThreeMs", PcmFormat(1, 11025, 8), 3, 34},
                    // 220.5 -> 221 (halves up) -> 222.
                    MsToBytesRow{"Mono8At22050_HalfByteRoundsUp", PcmFormat(1, 22050, 8), 10, 222},
                    MsToBytesRow{"Stereo8At22050_HalfByteRoundsUp", PcmFormat(2, 22050, 8), 5, 222},
                    // 132.3 -> 132, a whole number of four-byte frames.
                    MsToBytesRow{"Stereo16At11025_ThreeMs", PcmFormat(2, 11025, 16), 3, 132},
                    // 48 ms at 192000 bytes per second: 9216.
                    MsToBytesRow{"Stereo16At48000", PcmFormat(2, 48000, 16), 48, 9216},
                    // One hour at 192000 bytes per second.
                    MsToBytesRow{"Stereo16At48000_OneHour", PcmFormat(2, 48000, 16), 3600000, 691200000}),
    [](const testing::TestParamInfo<MsToBytesRow>& info) { return info.param.name; });

// ---- Lazy parsing and the change event ---------------------------------------------------------------

// A valid 16-bit mono 8000 Hz wave of 100 frames (200 data bytes, header of 44 bytes).
Bytes BaseImage()
{
    return CanonicalWave(Mono16At8000, Staircase16(100, 1));
}

// The image every replacing modification brings in: 150 frames, 300 data bytes.
Bytes OtherImage()
{
    return CanonicalWave(Mono16At8000, Staircase16(150, 1));
}

struct ModificationRow
{
    std::string name;
    std::function<void(TWave&)> modify;
    bool valid;
    std::uint32_t dataSize;
};

void PrintTo(const ModificationRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveModificationTest : public testing::TestWithParam<ModificationRow>
{
};

TEST_P(WaveModificationTest, DetailsFollowAndEventFiresOnce)
{
    const ModificationRow& row = GetParam();
    TWave wave;
    LoadBytes(wave, BaseImage());
    ASSERT_EQ(wave.DataSize(), 200u); // parsed: the next modification must be told
    ChangeCounter changes(wave);

    row.modify(wave);

    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(changes.lastSender, &wave);
    EXPECT_EQ(wave.Valid(), row.valid);
    EXPECT_EQ(wave.DataSize(), row.dataSize);
}

// A handler that shows the wave's details reads them while the modification is under way; once it is
// over, the details must still describe the final content.
TEST_P(WaveModificationTest, HandlerReadingDetails_LeavesThemCurrent)
{
    const ModificationRow& row = GetParam();
    TWave wave;
    LoadBytes(wave, BaseImage());
    ASSERT_TRUE(wave.Valid());
    int calls = 0;
    wave.OnChange = [&calls](TWave* sender) {
        ++calls;
        static_cast<void>(sender->Duration());
    };

    row.modify(wave);

    EXPECT_GE(calls, 1);
    EXPECT_EQ(wave.Valid(), row.valid);
    EXPECT_EQ(wave.DataSize(), row.dataSize);
}

INSTANTIATE_TEST_SUITE_P(
    Modifications, WaveModificationTest,
    testing::Values(ModificationRow{"WriteDataSizeField",
                                    [](TWave& w) {
                                        Bytes size;
                                        AppendLE32(size, 100);
                                        w.Seek(40, SeekOrigin::Beginning);
                                        w.Write(size.data(), size.size());
                                    },
                                    true, 100},
                    ModificationRow{"SetSizeShorter", [](TWave& w) { w.SetSize(44 + 50); }, true, 50},
                    ModificationRow{"SetSizeZero", [](TWave& w) { w.SetSize(0); }, false, 0},
                    ModificationRow{"Clear", [](TWave& w) { w.Clear(); }, false, 0},
                    ModificationRow{"LoadFromBytesView",
                                    [](TWave& w) {
                                        const Bytes other = OtherImage();
                                        TBytesView view(other.data(), other.size());
                                        w.LoadFromStream(view);
                                    },
                                    true, 300},
                    ModificationRow{"LoadFromMemoryStream",
                                    [](TWave& w) {
                                        const Bytes other = OtherImage();
                                        TMemoryStream source;
                                        source.Write(other.data(), other.size());
                                        w.LoadFromStream(source);
                                    },
                                    true, 300},
                    ModificationRow{"CopyContentFrom",
                                    [](TWave& w) {
                                        const Bytes other = OtherImage();
                                        TMemoryStream source;
                                        source.Write(other.data(), other.size());
                                        w.CopyContentFrom(source);
                                    },
                                    true, 300},
                    ModificationRow{"AdoptBlock",
                                    [](TWave& w) {
                                        const Bytes other = OtherImage();
                                        HeapBlock block(other.size());
                                        std::copy(other.begin(), other.end(), block.data());
                                        w.AdoptBlock(std::move(block));
                                    },
                                    true, 300},
                    ModificationRow{"SwapContent",
                                    [](TWave& w) {
                                        const Bytes other = OtherImage();
                                        TMemoryStream source;
                                        source.Write(other.data(), other.size());
                                        w.SwapContent(source);
                                    },
                                    true, 300},
                    ModificationRow{"LoadFromFile",
                                    [](TWave& w) {
                                        TempDir dir;
                                        ASSERT_TRUE(dir.ok());
                                        WriteFileBytes(dir.file("autre.wav"), OtherImage());
                                        w.LoadFromFile(dir.file("autre.wav"));
                                    },
                                    true, 300}),
    [](const testing::TestParamInfo<ModificationRow>& info) { return info.param.name; });

TEST(WaveOnChange, BurstOfWrites_FiresOnce)
{
    const Bytes image = BaseImage();
    TWave wave;
    ChangeCounter changes(wave);
    wave.Write(image.data(), 10);
    wave.Write(image.data() + 10, 30);
    wave.Write(image.data() + 40, image.size() - 40);
    wave.SetSize(image.size() - 2);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(changes.lastSender, &wave);
}

TEST(WaveOnChange, DetailAccessRearmsTheEvent)
{
    const Bytes image = BaseImage();
    TWave wave;
    ChangeCounter changes(wave);
    wave.Write(image.data(), 30);
    EXPECT_FALSE(wave.Valid()); // no "data" chunk yet
    wave.Write(image.data() + 30, image.size() - 30);
    EXPECT_EQ(changes.count, 2);
    EXPECT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 200u);
    wave.Write(image.data(), 1);
    wave.Write(image.data(), 1);
    EXPECT_EQ(changes.count, 3);
}

TEST(WaveOnChange, WritesThroughDataPointerAreNotSeen)
{
    TWave wave;
    LoadBytes(wave, BaseImage());
    ASSERT_TRUE(wave.Valid());
    ChangeCounter changes(wave);
    wave.Data()[0] = 0x55;
    wave.Data()[1] = 0x66;
    EXPECT_EQ(changes.count, 0);
    // The owner says so itself when it is done.
    wave.Changed();
    EXPECT_EQ(changes.count, 1);
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(Samples16(wave.Data(), 2)[0], 0x6655);
}

TEST(Wave, SwapContent_BothWavesTakeTheOthersDetails)
{
    TWave first;
    TWave second;
    LoadBytes(first, BaseImage());
    LoadBytes(second, CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(441, 2)));
    ASSERT_EQ(first.Duration(), 13u);  // 200 bytes at 16000 bytes per second: 12.5 ms
    ASSERT_EQ(second.Duration(), 10u); // 1764 bytes at 176400
    ChangeCounter firstChanges(first);
    ChangeCounter secondChanges(second);

    first.SwapContent(second);

    EXPECT_EQ(firstChanges.count, 1);
    EXPECT_EQ(secondChanges.count, 1);
    EXPECT_EQ(first.Duration(), 10u);
    EXPECT_EQ(first.PCMFormat(), Stereo16bit44100Hz);
    EXPECT_EQ(second.Duration(), 13u);
    EXPECT_EQ(second.PCMFormat(), Mono16bit8000Hz);
}

// ---- TrimToData -------------------------------------------------------------------------------------

TEST(WaveTrim, DropsTrailingChunksAndPad)
{
    const TWaveFormatEx format = PcmFormat(1, 8000, 8);
    const Bytes samples = Staircase8(7, 1);
    const Bytes image = RiffBuilder()
                            .fmt(format)
                            .chunk("LIST", InfoList("avant"))
                            .data(samples)
                            .chunk("LIST", InfoList("apres"))
                            .build();
    // 12 + fmt (8 + 16) + LIST (8 + 18) + data header (8).
    const std::size_t offset = 12 + 24 + 26 + 8;
    TWave wave;
    LoadBytes(wave, image);
    ASSERT_TRUE(wave.Valid());
    ASSERT_EQ(wave.DataOffset(), offset);

    wave.TrimToData();

    ASSERT_EQ(wave.Size(), offset + samples.size()); // neither the pad byte nor the last chunk
    EXPECT_TRUE(std::equal(wave.Memory(), wave.Memory() + wave.Size(), image.begin()));
    EXPECT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), samples.size());
}

TEST(WaveTrim, InvalidWaveBecomesEmpty)
{
    TWave wave;
    LoadBytes(wave, Text("pas un son"));
    wave.TrimToData();
    EXPECT_EQ(wave.Size(), 0u);
    EXPECT_FALSE(wave.Valid());
}

TEST(WaveTrim, TruncatedDataIsNotGrown)
{
    const Bytes image = RiffBuilder().fmt(Mono16At8000).data(Staircase16(100, 1), 100000).build();
    TWave wave;
    LoadBytes(wave, image);
    ASSERT_EQ(wave.DataSize(), 200u);
    wave.TrimToData();
    EXPECT_EQ(WaveBytes(wave), image);
}

// ---- Comparisons ------------------------------------------------------------------------------------

TEST(WaveCompare, OtherChunksAndFmtLayout_DoNotMatter)
{
    const Bytes samples = Staircase16(100, 1);
    TWave plain;
    TWave decorated;
    LoadBytes(plain, CanonicalWave(Mono16At8000, samples));
    LoadBytes(
        decorated,
        RiffBuilder().fmt(Mono16At8000, 18).chunk("LIST", InfoList("commentaire")).data(samples).build());
    EXPECT_TRUE(plain.SameFormat(decorated));
    EXPECT_TRUE(plain.IsEqual(decorated));
    EXPECT_TRUE(decorated.IsEqual(plain));
}

TEST(WaveCompare, DifferentSamples_NotEqual)
{
    const Bytes samples = Staircase16(100, 1);
    Bytes changed = samples;
    changed[151] ^= 0x01;
    TWave wave;
    TWave other;
    TWave shorter;
    LoadBytes(wave, CanonicalWave(Mono16At8000, samples));
    LoadBytes(other, CanonicalWave(Mono16At8000, changed));
    LoadBytes(shorter, CanonicalWave(Mono16At8000, Bytes(samples.begin(), samples.end() - 2)));
    EXPECT_FALSE(wave.IsEqual(other));
    EXPECT_FALSE(other.IsEqual(wave));
    EXPECT_FALSE(wave.IsEqual(shorter));
    EXPECT_FALSE(shorter.IsEqual(wave));
    EXPECT_TRUE(wave.SameFormat(shorter));
}

TEST(WaveCompare, SameSamplesOtherFormat_NotEqual)
{
    const Bytes samples = Staircase16(100, 1);
    TWave wave;
    LoadBytes(wave, CanonicalWave(Mono16At8000, samples));
    for (const TWaveFormatEx& format :
         {PcmFormat(1, 11025, 16), PcmFormat(2, 8000, 16), PcmFormat(1, 16000, 8)}) {
        TWave other;
        LoadBytes(other, CanonicalWave(format, samples));
        EXPECT_FALSE(wave.SameFormat(other));
        EXPECT_FALSE(wave.IsEqual(other));
        EXPECT_FALSE(other.IsEqual(wave));
    }
}

TEST(WaveCompare, ValidAgainstInvalid_NotEqual)
{
    const Bytes image = BaseImage();
    TWave wave;
    TWave cut;
    TWave empty;
    LoadBytes(wave, image);
    LoadBytes(cut, Bytes(image.begin(), image.begin() + 30));
    EXPECT_FALSE(wave.IsEqual(cut));
    EXPECT_FALSE(cut.IsEqual(wave));
    EXPECT_FALSE(wave.IsEqual(empty));
    EXPECT_FALSE(empty.IsEqual(wave));
    EXPECT_FALSE(wave.SameFormat(cut));
    EXPECT_FALSE(cut.SameFormat(cut));
}

TEST(WaveCompare, BothInvalid_ComparedByteForByte)
{
    const auto load = [](TWave& wave, const std::string& text) { LoadBytes(wave, Text(text)); };
    TWave a;
    TWave same;
    TWave otherByte;
    TWave longer;
    TWave empty;
    TWave alsoEmpty;
    load(a, "pas un son");
    load(same, "pas un son");
    load(otherByte, "pas un sou");
    load(longer, "pas un son!");
    EXPECT_TRUE(a.IsEqual(same));
    EXPECT_FALSE(a.IsEqual(otherByte));
    EXPECT_FALSE(a.IsEqual(longer));
    EXPECT_FALSE(longer.IsEqual(a));
    EXPECT_FALSE(a.IsEqual(empty));
    EXPECT_FALSE(empty.IsEqual(a));
    EXPECT_TRUE(empty.IsEqual(alsoEmpty));
}

// A record with two extra bytes after cbSize, in a 20-byte "fmt " chunk.
Bytes ImageWithExtraBytes(std::uint8_t first, std::uint8_t second, const Bytes& samples)
{
    TWaveFormatEx format = Mono16At8000;
    format.cbSize = 2;
    Bytes record = FormatBytes(format, 20);
    record[18] = first;
    record[19] = second;
    return RiffBuilder().chunk("fmt ", record).data(samples).build();
}

TEST(WaveCompare, SameFormat_ComparesExtraBytesUpToTheirCount)
{
    const Bytes samples = Staircase16(20, 1);
    TWave ab;
    TWave ab2;
    TWave ac;
    TWave noExtra;
    TWave trailingGarbage;
    LoadBytes(ab, ImageWithExtraBytes('a', 'b', samples));
    LoadBytes(ab2, ImageWithExtraBytes('a', 'b', samples));
    LoadBytes(ac, ImageWithExtraBytes('a', 'c', samples));
    LoadBytes(noExtra, CanonicalWave(Mono16At8000, samples));
    // cbSize 0 in a 22-byte chunk: the four bytes after the record are not part of it.
    Bytes garbage = FormatBytes(Mono16At8000, 22);
    garbage[18] = 'x';
    garbage[21] = 'y';
    LoadBytes(trailingGarbage, RiffBuilder().chunk("fmt ", garbage).data(samples).build());
    ASSERT_TRUE(ab.Valid() && ab2.Valid() && ac.Valid() && noExtra.Valid() && trailingGarbage.Valid());

    EXPECT_TRUE(ab.SameFormat(ab2));
    EXPECT_TRUE(ab.IsEqual(ab2));
    EXPECT_FALSE(ab.SameFormat(ac));
    EXPECT_FALSE(ab.IsEqual(ac));
    EXPECT_FALSE(ab.SameFormat(noExtra));
    EXPECT_FALSE(noExtra.SameFormat(ab));
    EXPECT_TRUE(noExtra.SameFormat(trailingGarbage));
    EXPECT_TRUE(trailingGarbage.IsEqual(noExtra));
}

// ---- Files ------------------------------------------------------------------------------------------

class WaveFile : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }
    TempDir dir;
};

TEST_F(WaveFile, SaveThenLoad_IsByteIdentical)
{
    // An odd data size with its pad byte and a chunk after the data: nothing is rewritten on the way.
    const Bytes image = RiffBuilder()
                            .fmt(PcmFormat(1, 11025, 8))
                            .data(Staircase8(301, 1))
                            .chunk("LIST", InfoList("fin"))
                            .build();
    TWave wave;
    LoadBytes(wave, image);
    const std::string name = dir.file("essai.wav");

    wave.SaveToFile(name);
    EXPECT_EQ(ReadFileBytes(name), image);

    TWave loaded;
    loaded.LoadFromFile(name);
    EXPECT_EQ(WaveBytes(loaded), image);
    EXPECT_TRUE(loaded.Valid());
    EXPECT_EQ(loaded.DataSize(), 301u);
}

TEST_F(WaveFile, SaveEmptyWave_GivesEmptyFile)
{
    const std::string name = dir.file("vide.wav");
    WriteFileBytes(name, Text("ancien contenu"));
    TWave wave;
    wave.SaveToFile(name);
    EXPECT_TRUE(ReadFileBytes(name).empty());
    TWave loaded;
    LoadBytes(loaded, BaseImage());
    loaded.LoadFromFile(name);
    EXPECT_EQ(loaded.Size(), 0u);
    EXPECT_FALSE(loaded.Valid());
}

TEST_F(WaveFile, TruncatedRecording_LoadsTheBytesPresent)
{
    const Bytes samples = Staircase16(150, 1);
    const std::string name = dir.file("coupe.wav");
    WriteFileBytes(name, RiffBuilder().fmt(Mono16At8000).data(samples, 100000).build(200000));
    TWave wave;
    wave.LoadFromFile(name);
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 300u);
    EXPECT_EQ(wave.Duration(), 19u); // 18.75 ms
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), wave.Data()));
}

TEST_F(WaveFile, LoadMissingOrDirectory_ThrowsOpenErrorAndKeepsContent)
{
    const Bytes image = BaseImage();
    for (const std::string& name : {dir.file("absent.wav"), dir.path()}) {
        TWave wave;
        LoadBytes(wave, image);
        ASSERT_TRUE(wave.Valid());
        ChangeCounter changes(wave);
        const auto message = MessageOf<EFOpenError>([&] { wave.LoadFromFile(name); });
        ASSERT_TRUE(message.has_value()) << name;
        EXPECT_EQ(*message, "Impossible d'ouvrir le fichier " + name);
        EXPECT_EQ(WaveBytes(wave), image);
        EXPECT_EQ(changes.count, 0);
        EXPECT_EQ(wave.DataSize(), 200u);
    }
}

TEST_F(WaveFile, SaveIntoMissingFolder_ThrowsCreateError)
{
    TWave wave;
    LoadBytes(wave, BaseImage());
    const std::string name = dir.file("pas/de/dossier.wav");
    const auto message = MessageOf<EFCreateError>([&] { wave.SaveToFile(name); });
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, "Impossible de créer le fichier " + name);
}

TEST_F(WaveFile, SaveToFullDisk_ThrowsWriteError)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    TWave wave;
    LoadBytes(wave, BaseImage());
    const auto message = MessageOf<EWriteError>([&] { wave.SaveToFile("/dev/full"); });
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, "Erreur d'écriture du fichier /dev/full");
}

} // namespace
