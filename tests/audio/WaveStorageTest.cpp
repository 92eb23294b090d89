// The holders of a wave: the storage placed on windows and clips, and the named item of a collection.
#include "audio/TestWaves.h"
#include "platform/io/LocaleSeparators.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

const TWaveFormatEx Mono16At8000 = PcmFormat(1, 8000, 16);

Bytes Text(const std::string& text)
{
    Bytes out;
    AppendText(out, text);
    return out;
}

Bytes StreamBytes(const TMemoryStream& stream)
{
    return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

// 100 frames of 16-bit mono 8000 Hz, with a LIST chunk before the data.
Bytes SomeImage()
{
    Bytes list = Text("INFOICMT");
    AppendLE32(list, 6);
    AppendText(list, "classe");
    return RiffBuilder().fmt(Mono16At8000).chunk("LIST", list).data(Staircase16(100, 1)).build();
}

Bytes OtherImage()
{
    return CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(441, 2));
}

// Any other kind of object.
class TOtherPersistent : public TPersistent
{
public:
    std::string ClassName() const override { return "TOtherPersistent"; }
};

// Another holder that owns a wave too, but is not a TWaveStorage.
class TOtherWaveStorage : public TCustomWaveStorage
{
public:
    std::string ClassName() const override { return "TOtherWaveStorage"; }
    TStream* GetWaveStream(int) override { return &wave; }
    bool SameContent(const TCustomWaveStorage&) const override { return false; }
    TWave wave;
};

struct ChangeCounter
{
    explicit ChangeCounter(TWave& wave)
    {
        wave.OnChange = [this](TWave*) { ++count; };
    }
    int count = 0;
};

class LocaleSeparatorsGuard
{
public:
    explicit LocaleSeparatorsGuard(LocaleSeparators separators) { SetLocaleSeparatorsOverride(separators); }
    ~LocaleSeparatorsGuard() { SetLocaleSeparatorsOverride(std::nullopt); }
    LocaleSeparatorsGuard(const LocaleSeparatorsGuard&) = delete;
    LocaleSeparatorsGuard& operator=(const LocaleSeparatorsGuard&) = delete;
};

// ---- TWaveStorage -----------------------------------------------------------------------------------

TEST(WaveStorage, SetWave_CopiesBytesIntoTheOwnedWave)
{
    TWaveStorage storage;
    TWave* const owned = &storage.Wave();
    TWave source;
    LoadBytes(source, SomeImage());

    storage.SetWave(&source);
    EXPECT_EQ(&storage.Wave(), owned);
    EXPECT_EQ(WaveBytes(storage.Wave()), SomeImage());
    EXPECT_TRUE(storage.Wave().Valid());

    // Later changes to the source stay there.
    LoadBytes(source, OtherImage());
    EXPECT_EQ(WaveBytes(storage.Wave()), SomeImage());
    // And changes to the copy do not reach the source.
    storage.Wave().Clear();
    EXPECT_EQ(WaveBytes(source), OtherImage());
}

TEST(WaveStorage, SetWaveNull_Empties)
{
    TWaveStorage storage;
    LoadBytes(storage.Wave(), SomeImage());
    TWave* const owned = &storage.Wave();
    storage.SetWave(nullptr);
    EXPECT_EQ(&storage.Wave(), owned);
    EXPECT_EQ(storage.Wave().Size(), 0u);
    EXPECT_FALSE(storage.Wave().Valid());
    EXPECT_FALSE(storage.HasData());
}

TEST(WaveStorage, SetWaveToItsOwnWave_DoesNothing)
{
    TWaveStorage storage;
    LoadBytes(storage.Wave(), SomeImage());
    ASSERT_TRUE(storage.Wave().Valid());
    ChangeCounter changes(storage.Wave());
    storage.SetWave(&storage.Wave());
    EXPECT_EQ(WaveBytes(storage.Wave()), SomeImage());
    EXPECT_EQ(changes.count, 0);
}

TEST(WaveStorage, GetWaveStream_IsTheOwnedWaveForAnyIndex)
{
    TWaveStorage storage;
    LoadBytes(storage.Wave(), SomeImage());
    for (int index : {0, 1, 7, -1}) {
        EXPECT_EQ(storage.GetWaveStream(index), static_cast<TStream*>(&storage.Wave())) << index;
    }
}

TEST(WaveStorage, SameContent_ComparesTheWaves)
{
    TWaveStorage storage;
    TWaveStorage sameSound;
    TWaveStorage otherSound;
    TWaveStorage empty;
    TWaveStorage alsoEmpty;
    LoadBytes(storage.Wave(), SomeImage());
    // The same samples and format without the LIST chunk: the same sound.
    LoadBytes(sameSound.Wave(), CanonicalWave(Mono16At8000, Staircase16(100, 1)));
    LoadBytes(otherSound.Wave(), CanonicalWave(Mono16At8000, Staircase16(101, 1)));

    EXPECT_TRUE(storage.SameContent(sameSound));
    EXPECT_TRUE(sameSound.SameContent(storage));
    EXPECT_FALSE(storage.SameContent(otherSound));
    EXPECT_FALSE(storage.SameContent(empty));
    EXPECT_FALSE(empty.SameContent(storage));
    EXPECT_TRUE(empty.SameContent(alsoEmpty));
}

TEST(WaveStorage, SameContent_FalseForAnotherKindOfStorage)
{
    TWaveStorage storage;
    TOtherWaveStorage other;
    LoadBytes(storage.Wave(), SomeImage());
    LoadBytes(other.wave, SomeImage());
    EXPECT_FALSE(storage.SameContent(other));

    TWaveStorage empty;
    TOtherWaveStorage otherEmpty;
    EXPECT_FALSE(empty.SameContent(otherEmpty));
}

TEST(WaveStorage, Assign_FromStorageOrItem_CopiesTheWave)
{
    TWaveStorage source;
    LoadBytes(source.Wave(), SomeImage());
    TWaveItem item;
    LoadBytes(item.Wave(), OtherImage());
    item.Name = "Piano";
    item.Tag = 3;

    TWaveStorage storage;
    TWave* const owned = &storage.Wave();
    storage.Assign(source);
    EXPECT_EQ(WaveBytes(storage.Wave()), SomeImage());
    EXPECT_EQ(&storage.Wave(), owned);

    storage.Assign(item);
    EXPECT_EQ(WaveBytes(storage.Wave()), OtherImage());
    EXPECT_EQ(&storage.Wave(), owned);
    EXPECT_EQ(storage.Wave().PCMFormat(), Stereo16bit44100Hz);
}

TEST(WaveStorage, Assign_FromAnythingElse_ThrowsAndKeepsTheWave)
{
    TWaveStorage storage;
    LoadBytes(storage.Wave(), SomeImage());
    TOtherPersistent other;
    TOtherWaveStorage otherStorage;
    LoadBytes(otherStorage.wave, OtherImage());
    EXPECT_THROW(storage.Assign(other), EConvertError);
    EXPECT_THROW(storage.Assign(otherStorage), EConvertError);
    EXPECT_EQ(WaveBytes(storage.Wave()), SomeImage());
}

TEST(WaveStorage, Data_RoundTripsTheWholeImage)
{
    TWaveStorage storage;
    EXPECT_FALSE(storage.HasData());
    // Even an image that is not a sound is kept as it is.
    for (const Bytes& image : {SomeImage(), Text("pas un son")}) {
        LoadBytes(storage.Wave(), image);
        EXPECT_TRUE(storage.HasData());
        TMemoryStream stream;
        storage.WriteData(stream);
        EXPECT_EQ(StreamBytes(stream), image);

        TWaveStorage copy;
        LoadBytes(copy.Wave(), OtherImage());
        copy.ReadData(stream);
        EXPECT_EQ(WaveBytes(copy.Wave()), image);
        EXPECT_EQ(copy.Wave().Valid(), storage.Wave().Valid());
        EXPECT_TRUE(copy.SameContent(storage));
    }
}

TEST(WaveStorage, EmptyWave_WritesNothing)
{
    TWaveStorage storage;
    TMemoryStream stream;
    storage.WriteData(stream);
    EXPECT_EQ(stream.Size(), 0u);
}

// ---- TWaveItem --------------------------------------------------------------------------------------

TEST(WaveItem, NewItem_HasNoNameTagOrWave)
{
    const TWaveItem item;
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Tag, 0);
    EXPECT_EQ(item.Wave().Size(), 0u);
    EXPECT_FALSE(item.HasData());
}

TEST(WaveItem, Assign_FromItem_CopiesWaveNameAndTag)
{
    TWaveItem source;
    LoadBytes(source.Wave(), SomeImage());
    source.Name = "Voix";
    source.Tag = 42;

    TWaveItem item;
    TWave* const owned = &item.Wave();
    item.Assign(source);
    EXPECT_EQ(WaveBytes(item.Wave()), SomeImage());
    EXPECT_EQ(&item.Wave(), owned);
    EXPECT_EQ(item.Name, "Voix");
    EXPECT_EQ(item.Tag, 42);

    // The copy is independent.
    LoadBytes(source.Wave(), OtherImage());
    EXPECT_EQ(WaveBytes(item.Wave()), SomeImage());
}

TEST(WaveItem, Assign_FromStorage_CopiesOnlyTheWave)
{
    TWaveStorage storage;
    LoadBytes(storage.Wave(), OtherImage());
    TWaveItem item;
    LoadBytes(item.Wave(), SomeImage());
    item.Name = "Voix";
    item.Tag = 42;

    item.Assign(storage);
    EXPECT_EQ(WaveBytes(item.Wave()), OtherImage());
    EXPECT_EQ(item.Name, "Voix");
    EXPECT_EQ(item.Tag, 42);
}

TEST(WaveItem, Assign_FromAnythingElse_ThrowsAndKeepsEverything)
{
    TWaveItem item;
    LoadBytes(item.Wave(), SomeImage());
    item.Name = "Voix";
    item.Tag = 42;
    TOtherPersistent other;
    EXPECT_THROW(item.Assign(other), EConvertError);
    EXPECT_EQ(WaveBytes(item.Wave()), SomeImage());
    EXPECT_EQ(item.Name, "Voix");
    EXPECT_EQ(item.Tag, 42);
}

TEST(WaveItem, SetWave_CopiesOrEmpties)
{
    TWave source;
    LoadBytes(source, SomeImage());
    TWaveItem item;
    TWave* const owned = &item.Wave();
    item.SetWave(&source);
    EXPECT_EQ(WaveBytes(item.Wave()), SomeImage());
    EXPECT_EQ(&item.Wave(), owned);
    item.SetWave(&item.Wave());
    EXPECT_EQ(WaveBytes(item.Wave()), SomeImage());
    item.SetWave(nullptr);
    EXPECT_EQ(item.Wave().Size(), 0u);
    EXPECT_EQ(&item.Wave(), owned);
}

TEST(WaveItem, Data_RoundTripsTheWholeImage)
{
    TWaveItem item;
    LoadBytes(item.Wave(), SomeImage());
    ASSERT_TRUE(item.HasData());
    TMemoryStream stream;
    item.WriteData(stream);
    EXPECT_EQ(StreamBytes(stream), SomeImage());
    TWaveItem copy;
    copy.ReadData(stream);
    EXPECT_EQ(WaveBytes(copy.Wave()), SomeImage());
    EXPECT_TRUE(copy.Wave().Valid());
}

struct DisplayNameRow
{
    std::string name;
    Bytes image;
    std::string itemName;
    std::string expected;
};

void PrintTo(const DisplayNameRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveItemDisplayNameTest : public testing::TestWithParam<DisplayNameRow>
{
};

TEST_P(WaveItemDisplayNameTest, TellsFormatRateAndLength)
{
    const DisplayNameRow& row = GetParam();
    LocaleSeparatorsGuard separators(LocaleSeparators{".", ":"});
    TWaveItem item;
    LoadBytes(item.Wave(), row.image);
    item.Name = row.itemName;
    EXPECT_EQ(item.GetDisplayName(), row.expected);
}

// 8-bit mono 8000 Hz: 8000 bytes per second, 64 kbps.
Bytes Mono8At8000(std::size_t bytes)
{
    return CanonicalWave(PcmFormat(1, 8000, 8), Bytes(bytes, 0x80));
}

Bytes Prefix(const Bytes& bytes, std::size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaveItemDisplayNameTest,
    testing::Values(
        DisplayNameRow{"Empty", {}, "Cloche", "Cloche (Empty)"},
        DisplayNameRow{"NotASound", Text("pas un son"), "Cloche", "Cloche (Invalid Content)"},
        // A header cut before its data chunk: there are bytes, but no sound.
        DisplayNameRow{"CutHeader", Prefix(Mono8At8000(10), 30), "Cloche", "Cloche (Invalid Content)"},
        DisplayNameRow{"OneAndAHalfSeconds", Mono8At8000(12000), "Cloche",
                       "Cloche (PCM 8.000 kHz, 8 Bit, Mono, 64 kbps, 1.50 sec.)"},
        DisplayNameRow{"TenMilliseconds", Mono8At8000(80), "Cloche",
                       "Cloche (PCM 8.000 kHz, 8 Bit, Mono, 64 kbps, 0.01 sec.)"},
        // 61.23 s.
        DisplayNameRow{"OverAMinute", Mono8At8000(489840), "Cloche",
                       "Cloche (PCM 8.000 kHz, 8 Bit, Mono, 64 kbps, 1:01.23 sec.)"},
        // 352800 bytes at 176400 bytes per second: 2 s; 1411.2 kbps.
        DisplayNameRow{"Stereo16At44100", CanonicalWave(PcmFormat(2, 44100, 16), Bytes(352800, 0)),
                       "Orchestre", "Orchestre (PCM 44.100 kHz, 16 Bit, Stereo, 1411 kbps, 2.00 sec.)"},
        DisplayNameRow{"NoName", Mono8At8000(12000), "",
                       " (PCM 8.000 kHz, 8 Bit, Mono, 64 kbps, 1.50 sec.)"}),
    [](const testing::TestParamInfo<DisplayNameRow>& info) { return info.param.name; });

TEST(WaveItem, DisplayName_UsesLocaleSeparators)
{
    LocaleSeparatorsGuard separators(LocaleSeparators{",", "."});
    TWaveItem item;
    item.Name = "Cloche";
    LoadBytes(item.Wave(), Mono8At8000(489840));
    EXPECT_EQ(item.GetDisplayName(), "Cloche (PCM 8,000 kHz, 8 Bit, Mono, 64 kbps, 1.01,23 sec.)");
}

} // namespace
