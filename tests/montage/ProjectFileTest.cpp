// The project file: records built here byte by byte from the file's layout are compared with what is
// saved, and read back into a montage without views. Source WAV files are written into a folder of the
// test's own; each clip's audio is checked against the stretch of its source it must hold.
#include "montage/ProjectFile.h"

#include "audio/TestWaves.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const TWaveFormatEx Mono22050 = PcmFormat(1, 22050, 16);
const TWaveFormatEx Stereo44100 = PcmFormat(2, 44100, 16);

using Samples = std::vector<std::int16_t>;

// Sample i holds from + i, wrapped to 16 bits.
Samples Staircase(std::size_t count, std::size_t from = 0)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(from + i));
    return out;
}

Samples Wavy(std::size_t count, int seed)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(
            static_cast<long long>((i * 7919 + static_cast<std::size_t>(seed) * 104729) % 60001) - 30000);
    return out;
}

Samples Slice(const Samples& samples, std::size_t from, std::size_t to)
{
    return Samples(samples.begin() + static_cast<std::ptrdiff_t>(from),
                   samples.begin() + static_cast<std::ptrdiff_t>(to));
}

Samples SamplesOf(const TWave& wave)
{
    return Samples16(wave.Data(), wave.DataSize());
}

Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// ---- Records by hand ------------------------------------------------------------------------------

struct Raw
{
    Bytes title;
    Bytes source;
    std::int32_t startMs = 0;
    std::int32_t lengthMs = 0;
    std::int32_t fadeInKind = 1;
    std::int32_t fadeOutKind = 1;
    std::int32_t fadeInMs = 1000;
    std::int32_t fadeOutMs = 1000;
    std::int32_t position = 0;
    int titleLength = -1;  // the length byte; -1: the title's size
    int sourceLength = -1; // the same for the path
};

void PutInt32(Bytes& out, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>((u >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((u >> 16) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 24));
}

// Length byte and 45 title bytes, length byte and 255 path bytes, two zero bytes, seven integers.
Bytes Record(const Raw& r)
{
    Bytes out;
    out.push_back(static_cast<std::uint8_t>(r.titleLength < 0 ? r.title.size() : r.titleLength));
    Bytes title = r.title;
    title.resize(45, 0);
    out.insert(out.end(), title.begin(), title.end());
    out.push_back(static_cast<std::uint8_t>(r.sourceLength < 0 ? r.source.size() : r.sourceLength));
    Bytes source = r.source;
    source.resize(255, 0);
    out.insert(out.end(), source.begin(), source.end());
    out.push_back(0);
    out.push_back(0);
    for (const std::int32_t v :
         {r.startMs, r.lengthMs, r.fadeInKind, r.fadeOutKind, r.fadeInMs, r.fadeOutMs, r.position})
        PutInt32(out, v);
    return out;
}

Bytes Part(const Bytes& bytes, std::size_t offset, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// ---- Fixture --------------------------------------------------------------------------------------

class ProjectFileTest : public testing::Test
{
protected:
    ProjectFileTest()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("sonalto-project-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        montage.OnRenderRestarted = [this] { ++restarted; };
        montage.OnClipsPresent = [this](bool present) { clipsPresent.push_back(present); };
    }
    ~ProjectFileTest() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    static void WriteFile(const std::string& path, const Bytes& bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }

    static Bytes ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // A source file in the montage's own format (mono, 16 bits, 22050 Hz).
    std::string Source(const std::string& name, const Samples& samples)
    {
        std::string path = Path(name);
        WriteFile(path, CanonicalWave(Mono22050, Pcm16(samples)));
        return path;
    }

    std::function<void(const std::string&)> Tell()
    {
        return [this](const std::string& text) { messages.push_back(text); };
    }

    // Writes the project file and loads it.
    void Load(const Bytes& project)
    {
        WriteFile(Path("projet.snt"), project);
        LoadProject(montage, Path("projet.snt"), Tell());
    }

    // What a load threw, as "type: text".
    std::string LoadError(const Bytes& project)
    {
        try {
            Load(project);
        } catch (const EReadPastEndError& error) {
            return std::string("EReadPastEndError: ") + error.what();
        } catch (const EFOpenError& error) {
            return std::string("EFOpenError: ") + error.what();
        } catch (const std::exception& error) {
            return std::string("other: ") + error.what();
        }
        return "no error";
    }

    std::string SaveError(const std::string& path)
    {
        try {
            SaveProject(montage, path);
        } catch (const EProjectError& error) {
            return std::string("EProjectError: ") + error.what();
        } catch (const EFCreateError& error) {
            return std::string("EFCreateError: ") + error.what();
        } catch (const std::exception& error) {
            return std::string("other: ") + error.what();
        }
        return "no error";
    }

    Tsample& At(int position)
    {
        Tsample* clip = montage.ClipAt(position);
        if (!clip)
            throw std::runtime_error("no clip at " + std::to_string(position));
        return *clip;
    }

    std::vector<std::string> Titles() const
    {
        std::vector<std::string> out;
        for (int p = 0; p < montage.ClipCount; ++p)
            out.push_back(montage.ClipAt(p)->Title);
        return out;
    }

    // Every clip sits at its place, in the slot of its place (clips are created in file order).
    void ExpectConsecutiveStrip()
    {
        for (int p = 0; p < montage.ClipCount; ++p) {
            const Tsample* clip = montage.ClipAt(p);
            ASSERT_NE(clip, nullptr) << p;
            EXPECT_EQ(clip->Position, p);
            EXPECT_EQ(clip->Slot, p);
        }
    }

    std::vector<fs::path> Entries() const
    {
        std::vector<fs::path> out;
        for (const auto& entry : fs::directory_iterator(dir))
            out.push_back(entry.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir;
    std::vector<std::string> messages;
    int restarted = 0;
    std::vector<bool> clipsPresent;
    TMontage montage;
};

std::string NotFound(const std::string& path)
{
    return "Le fichier " + path +
           " n'a pas été trouvé. Il a peut-être été effacé depuis la dernière sauvegarde.";
}

// ---- Round trip -----------------------------------------------------------------------------------

TEST_F(ProjectFileTest, SavedMontageLoadsAsTheSameStripAndRender)
{
    const Samples a = Staircase(22050);
    const Bytes stereo = Staircase16(22050, 2); // half a second at 44100 Hz
    const Samples c = Wavy(22050, 3);
    const std::string pathA = Source("a.wav", a);
    const std::string pathB = Path("b.wav");
    WriteFile(pathB, CanonicalWave(Stereo44100, stereo));
    const std::string pathC = Source("c.wav", c);

    const auto add = [&](const std::string& title, const std::string& path, std::uint32_t from,
                         std::uint32_t to) {
        TWave recording;
        LoadBytes(recording, ReadFile(path));
        ASSERT_TRUE(montage.AddClip(title, recording, path, from, to));
    };
    add("Ouverture", pathA, 100, 700);
    add("Thème", pathB, 0, 400);
    add("Coda", pathC, 200, 900);
    montage.HandleDragDrop(2, 0); // Coda, Ouverture, Thème: the first clip is in the last slot
    montage.CycleFadeIn(0);       // a fade
    montage.CycleFadeOut(0);      // a crossfade into Ouverture
    montage.SetFadeOutSeconds(0, 2);
    montage.CycleFadeOut(2);
    montage.SetFadeOutSeconds(2, 3);
    ASSERT_EQ(Titles(), (std::vector<std::string>{"Coda", "Ouverture", "Thème"}));
    ASSERT_EQ(At(0).Slot, 2);
    ASSERT_EQ(At(1).FadeInKind, 2);
    ASSERT_FALSE(montage.MontageSaved);

    const std::string project = Path("montage.snt");
    SaveProject(montage, project);
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_EQ(fs::file_size(project), 3 * 332U);
    montage.RestartRender();
    montage.CompleteRender();

    TMontage loaded;
    int loadedRestarts = 0;
    std::vector<bool> present;
    loaded.OnRenderRestarted = [&] { ++loadedRestarts; };
    loaded.OnClipsPresent = [&](bool p) { present.push_back(p); };
    loaded.MontageSaved = false;
    LoadProject(loaded, project, Tell());

    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(loaded.MontageSaved);
    EXPECT_EQ(loadedRestarts, 1);
    EXPECT_EQ(present, std::vector<bool>{true});
    ASSERT_EQ(loaded.ClipCount, 3);
    for (int p = 0; p < 3; ++p) {
        const Tsample& was = At(p);
        const Tsample& now = *loaded.ClipAt(p);
        SCOPED_TRACE(was.Title);
        EXPECT_EQ(now.Title, was.Title);
        EXPECT_EQ(now.SourceFile, was.SourceFile);
        EXPECT_EQ(now.StartMs, was.StartMs);
        EXPECT_EQ(now.LengthMs, was.LengthMs);
        EXPECT_EQ(now.FadeInKind, was.FadeInKind);
        EXPECT_EQ(now.FadeOutKind, was.FadeOutKind);
        EXPECT_EQ(now.FadeInMs, was.FadeInMs);
        EXPECT_EQ(now.FadeOutMs, was.FadeOutMs);
        EXPECT_EQ(now.Position, p);
        EXPECT_EQ(now.Slot, p);
        EXPECT_EQ(WaveBytes(now.Storage.Wave()), WaveBytes(was.Storage.Wave()));
    }
    // The stretches themselves, from the sources: 22.05 samples a millisecond.
    EXPECT_EQ(SamplesOf(loaded.ClipAt(0)->Storage.Wave()), Slice(c, 4410, 19845));
    EXPECT_EQ(SamplesOf(loaded.ClipAt(1)->Storage.Wave()), Slice(a, 2205, 15435));
    EXPECT_EQ(loaded.ClipAt(2)->Storage.Wave().DataSize(), 8820U * 2); // 400 ms of mono 22050 Hz
    EXPECT_EQ(loaded.ClipAt(1)->FadeInKind, 2);
    EXPECT_EQ(loaded.ClipAt(0)->FadeOutMs, 2000);
    EXPECT_EQ(loaded.ClipAt(2)->FadeOutMs, 3000);

    loaded.CompleteRender();
    ASSERT_TRUE(loaded.RenderFinished);
    EXPECT_GT(loaded.WT.Wave().DataSize(), 0U);
    EXPECT_EQ(WaveBytes(loaded.WT.Wave()), WaveBytes(montage.WT.Wave()));
}

TEST_F(ProjectFileTest, RecordsCarryEveryValueThroughEncodeAndDecode)
{
    const TClipRecord record{"Œuvre é", "/tmp/été/音声.wav", INT32_MIN, INT32_MAX, 2, 0, -5, 7000, 99};
    const std::array<std::uint8_t, ClipRecordSize> bytes = EncodeClipRecord(record);
    const TClipRecord back = DecodeClipRecord(bytes.data());
    EXPECT_EQ(back.Title, record.Title);
    EXPECT_EQ(back.SourceFile, record.SourceFile);
    EXPECT_EQ(back.StartMs, INT32_MIN);
    EXPECT_EQ(back.LengthMs, INT32_MAX);
    EXPECT_EQ(back.FadeInKind, 2);
    EXPECT_EQ(back.FadeOutKind, 0);
    EXPECT_EQ(back.FadeInMs, -5);
    EXPECT_EQ(back.FadeOutMs, 7000);
    EXPECT_EQ(back.Position, 99);
}

// ---- Layout ---------------------------------------------------------------------------------------

TEST_F(ProjectFileTest, ThreeClipsGiveThreeRecordsLaidOutByteForByte)
{
    Tsample& c0 = montage.Create("Préface", "/home/élève/son.wav", 0x01020304, 1500, 0);
    c0.SetFadeIn(0, 2000);
    c0.SetFadeOut(2, 3000);
    Tsample& c1 = montage.Create("Pont", "/classe/pont.wav", -2, INT32_MAX, 1);
    c1.SetFadeIn(2, 3000);
    c1.SetFadeOut(1, 1000);
    Tsample& c2 = montage.Create("Fin", "/classe/fin.wav", 250, 4000, 2);
    c2.SetFadeIn(1, 5000);
    c2.SetFadeOut(0, -1);
    montage.MontageSaved = false;

    const std::string project = Path("trois.snt");
    SaveProject(montage, project);
    const Bytes file = ReadFile(project);

    const Bytes expected = Concat({
        Record({{'P', 'r', 0xE9, 'f', 'a', 'c', 'e'},
                Concat({B("/home/"), {0xE9, 'l', 0xE8, 'v', 'e'}, B("/son.wav")}),
                0x01020304,
                1500,
                0,
                2,
                2000,
                3000,
                0}),
        Record({B("Pont"), B("/classe/pont.wav"), -2, INT32_MAX, 2, 1, 3000, 1000, 1}),
        Record({B("Fin"), B("/classe/fin.wav"), 250, 4000, 1, 0, 5000, -1, 2}),
    });
    ASSERT_EQ(file.size(), 996U);
    EXPECT_EQ(file, expected);
    EXPECT_TRUE(montage.MontageSaved);

    // The same, read at the offsets of the layout.
    EXPECT_EQ(file[0], 7);
    EXPECT_EQ(Part(file, 1, 8), (Bytes{'P', 'r', 0xE9, 'f', 'a', 'c', 'e', 0}));
    EXPECT_EQ(file[46], 19);
    EXPECT_EQ(Part(file, 300, 4), (Bytes{0, 0, 0, 0})); // the end of the path field and the padding
    EXPECT_EQ(Part(file, 304, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(Part(file, 308, 4), (Bytes{0xDC, 0x05, 0, 0}));
    EXPECT_EQ(Part(file, 312, 8), (Bytes{0, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(Part(file, 320, 8), (Bytes{0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0}));
    EXPECT_EQ(Part(file, 332 + 304, 8), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(Part(file, 332 + 328, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Part(file, 664 + 324, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}));
    EXPECT_TRUE(
        std::all_of(file.begin() + 332 + 1 + 4, file.begin() + 332 + 46, [](auto b) { return b == 0; }));
}

TEST_F(ProjectFileTest, RecordsFollowTheStripNotTheSlots)
{
    montage.Create("A", "/a.wav", 0, 10, 0);
    montage.Create("B", "/b.wav", 0, 20, 1);
    montage.Create("C", "/c.wav", 0, 30, 2);
    montage.SwapPositions(0, 2); // C, B, A

    SaveProject(montage, Path("ordre.snt"));

    EXPECT_EQ(ReadFile(Path("ordre.snt")),
              Concat({Record({B("C"), B("/c.wav"), 0, 30, 1, 1, 1000, 1000, 0}),
                      Record({B("B"), B("/b.wav"), 0, 20, 1, 1, 1000, 1000, 1}),
                      Record({B("A"), B("/a.wav"), 0, 10, 1, 1, 1000, 1000, 2})}));
}

TEST_F(ProjectFileTest, TitlesAreCutTo45Characters)
{
    const std::string fifty = "ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ";
    const std::string source = Source("s.wav", Staircase(2205));
    montage.Create(fifty, source, 0, 100, 0);
    SaveProject(montage, Path("long.snt"));
    const Bytes file = ReadFile(Path("long.snt"));
    EXPECT_EQ(file[0], 45);
    EXPECT_EQ(Part(file, 1, 45), B(fifty.substr(0, 45)));
    EXPECT_EQ(file[46], source.size());

    TMontage loaded;
    LoadProject(loaded, Path("long.snt"), Tell());
    ASSERT_EQ(loaded.ClipCount, 1);
    EXPECT_EQ(loaded.ClipAt(0)->Title, fifty.substr(0, 45));

    // Windows-1252: 45 characters are 45 bytes.
    std::string accents;
    for (int k = 0; k < 50; ++k)
        accents += "é";
    const auto ansi = EncodeClipRecord({accents, "/s.wav", 0, 0, 1, 1, 0, 0, 0});
    EXPECT_EQ(ansi[0], 45);
    EXPECT_TRUE(std::all_of(ansi.begin() + 1, ansi.begin() + 46, [](auto b) { return b == 0xE9; }));

    // UTF-8: whole characters within 45 bytes ("音" takes three).
    std::string wide = "a";
    for (int k = 0; k < 20; ++k)
        wide += "音";
    const auto utf8 = EncodeClipRecord({wide, "/s.wav", 0, 0, 1, 1, 0, 0, 0});
    EXPECT_EQ(utf8[0], 43);
    Bytes expected = B("a");
    for (int k = 0; k < 14; ++k)
        expected.insert(expected.end(), {0xE9, 0x9F, 0xB3});
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(Part(Bytes(utf8.begin(), utf8.end()), 1, 45), expected);
    EXPECT_EQ(DecodeClipRecord(utf8.data()).Title, wide.substr(0, 1 + 14 * 3));
}

// ---- Loading --------------------------------------------------------------------------------------

TEST_F(ProjectFileTest, FadeDurationsAreKeptAsStored)
{
    const Samples flat(132300, 10000); // six seconds
    const Samples s = Staircase(6615); // 300 ms
    const std::string longSource = Source("long.wav", flat);
    const std::string source = Source("s.wav", s);
    Load(Concat({
        Record({B("Long"), B(longSource), 0, 6000, 0, 1, 7000, 9000, 0}),
        Record({B("Nul"), B(source), 0, 300, 0, 0, 0, -5, 1}),
        Record({B("Negatif"), B(source), 0, 300, 0, 0, -5, 0, 2}),
    }));

    ASSERT_EQ(montage.ClipCount, 3);
    EXPECT_EQ(At(0).FadeInMs, 7000);
    EXPECT_EQ(At(0).FadeOutMs, 9000);
    EXPECT_EQ(At(1).FadeInMs, 0);
    EXPECT_EQ(At(1).FadeOutMs, -5);
    EXPECT_EQ(At(2).FadeInMs, -5);
    EXPECT_EQ(At(2).FadeOutMs, 0);

    montage.CompleteRender();
    ASSERT_TRUE(montage.RenderFinished);
    const Samples rendered = SamplesOf(montage.WT.Wave());
    ASSERT_EQ(rendered.size(), flat.size() + 2 * s.size());
    // The fade-in rises over the whole six seconds, not over the five a spinner can show.
    for (const std::size_t i : {0UL, 66150UL, 110250UL, 120000UL, 132299UL})
        EXPECT_NEAR(rendered[i], 10000.0 * static_cast<double>(i) / 132300, 1.0) << i;
    // Fades of no positive length leave the clips as they are.
    EXPECT_EQ(Slice(rendered, flat.size(), flat.size() + s.size()), s);
    EXPECT_EQ(Slice(rendered, flat.size() + s.size(), rendered.size()), s);

    // Saved again, the stored values come back unchanged.
    SaveProject(montage, Path("encore.snt"));
    const Bytes again = ReadFile(Path("encore.snt"));
    EXPECT_EQ(Part(again, 320, 8), (Bytes{0x58, 0x1B, 0, 0, 0x28, 0x23, 0, 0}));
    EXPECT_EQ(Part(again, 332 + 324, 4), (Bytes{0xFB, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ProjectFileTest, MissingSourceIsToldOnceAndLeftOut)
{
    const Samples one = Staircase(4410);
    const Samples three = Wavy(4410, 7);
    const std::string first = Source("un.wav", one);
    const std::string missing = Path("efface.wav");
    const std::string third = Source("trois.wav", three);
    montage.MontageSaved = false;

    Load(Concat({
        Record({B("Un"), B(first), 0, 200, 1, 1, 1000, 1000, 0}),
        Record({B("Deux"), B(missing), 0, 200, 1, 1, 1000, 1000, 1}),
        Record({B("Trois"), B(third), 100, 100, 1, 1, 1000, 1000, 2}),
    }));

    EXPECT_EQ(messages, std::vector<std::string>{NotFound(missing)});
    EXPECT_EQ(Titles(), (std::vector<std::string>{"Un", "Trois"}));
    ExpectConsecutiveStrip();
    EXPECT_EQ(SamplesOf(At(0).Storage.Wave()), one);
    EXPECT_EQ(SamplesOf(At(1).Storage.Wave()), Slice(three, 2205, 4410));
    EXPECT_EQ(At(1).SourceFile, third);
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_EQ(restarted, 1);
    EXPECT_EQ(clipsPresent, std::vector<bool>{true});
}

TEST_F(ProjectFileTest, StoredPositionsDoNotPlaceTheClips)
{
    const std::string source = Source("s.wav", Staircase(2205));
    Load(Concat({
        Record({B("X"), B(source), 0, 100, 1, 1, 1000, 1000, 7}),
        Record({B("Y"), B(source), 0, 100, 1, 1, 1000, 1000, -3}),
    }));
    EXPECT_EQ(Titles(), (std::vector<std::string>{"X", "Y"}));
    ExpectConsecutiveStrip();
}

TEST_F(ProjectFileTest, ProjectThatCannotBeOpenedChangesNothing)
{
    Tsample& kept = montage.Create("Garde", "/g.wav", 0, 100, 0);
    montage.MontageSaved = false;

    try {
        LoadProject(montage, Path("absent.snt"), Tell());
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()), "Impossible d'ouvrir le fichier " + Path("absent.snt"));
    }
    EXPECT_THROW(LoadProject(montage, dir.string(), Tell()), EFOpenError);

    EXPECT_EQ(montage.ClipCount, 1);
    EXPECT_EQ(montage.ClipAt(0), &kept);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(restarted, 0);
    EXPECT_TRUE(clipsPresent.empty());
    EXPECT_TRUE(messages.empty());
}

// ---- Windows-1252 and UTF-8 -----------------------------------------------------------------------

TEST_F(ProjectFileTest, Windows1252RecordWrittenByHandReadsAsUtf8)
{
    const Samples s = Staircase(4410);
    const std::string source = Source("chanson_été_à_ça.wav", s); // the UTF-8 name on disk
    const Bytes ansiPath =
        Concat({B(dir.string() + "/chanson_"), {0xE9, 't', 0xE9, '_', 0xE0, '_', 0xE7, 'a'}, B(".wav")});
    Load(Record(
        {{'C', 'a', 'f', 0xE9, ' ', 0xE0, ' ', 'l', 'a', ' ', 'f', 'r', 'a', 'n', 0xE7, 'a', 'i', 's', 'e'},
         ansiPath,
         0,
         200,
         1,
         1,
         1000,
         1000,
         0}));

    EXPECT_TRUE(messages.empty()) << (messages.empty() ? "" : messages[0]);
    ASSERT_EQ(montage.ClipCount, 1);
    EXPECT_EQ(At(0).Title, "Café à la française");
    EXPECT_EQ(At(0).SourceFile, source);
    EXPECT_EQ(SamplesOf(At(0).Storage.Wave()), s);
}

TEST_F(ProjectFileTest, Windows1252TableCoversTheWholeHighHalf)
{
    // The title field, by hand: € Œ œ, an unassigned byte, Ÿ, é, ÿ and the no-break space.
    const Bytes record =
        Record({{0x80, 0x8C, 0x9C, 0x81, 0x9F, 0xE9, 0xFF, 0xA0}, B("/s.wav"), 0, 0, 1, 1, 0, 0, 0});
    EXPECT_EQ(DecodeClipRecord(record.data()).Title, "€Œœ\u0081Ÿéÿ\u00A0");

    // Every byte but zero, in the path field: read as Windows-1252 and written back the same.
    Bytes all;
    for (int b = 1; b <= 255; ++b)
        all.push_back(static_cast<std::uint8_t>(b));
    const Bytes allRecord = Record({B("t"), all, 0, 0, 1, 1, 0, 0, 0});
    const TClipRecord decoded = DecodeClipRecord(allRecord.data());
    EXPECT_TRUE(IsValidUtf8(decoded.SourceFile));
    EXPECT_NE(decoded.SourceFile.find("‚ƒ„…†‡ˆ‰Š‹Œ"), std::string::npos);
    EXPECT_NE(decoded.SourceFile.find("‘’“”•–—˜™š›œ"), std::string::npos);
    const auto encoded = EncodeClipRecord(decoded);
    EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), allRecord);
}

TEST_F(ProjectFileTest, TitleWithEuroAndOeIsSavedInWindows1252)
{
    const std::string source = Source("oeuvre.wav", Staircase(2205));
    montage.Create("Œuvre €", source, 0, 100, 0);
    SaveProject(montage, Path("oeuvre.snt"));
    const Bytes file = ReadFile(Path("oeuvre.snt"));
    EXPECT_EQ(Part(file, 0, 9), (Bytes{7, 0x8C, 'u', 'v', 'r', 'e', ' ', 0x80, 0}));

    TMontage loaded;
    LoadProject(loaded, Path("oeuvre.snt"), Tell());
    ASSERT_EQ(loaded.ClipCount, 1);
    EXPECT_EQ(loaded.ClipAt(0)->Title, "Œuvre €");
}

TEST_F(ProjectFileTest, TextWhoseWindows1252BytesLookLikeUtf8IsWrittenAsUtf8)
{
    // "Ã©" is C3 A9 in Windows-1252, which UTF-8 would read as "é".
    const auto record = EncodeClipRecord({"Ã©tÃ©", "/s.wav", 0, 0, 1, 1, 0, 0, 0});
    EXPECT_EQ(record[0], 9);
    EXPECT_EQ(Part(Bytes(record.begin(), record.end()), 1, 9),
              (Bytes{0xC3, 0x83, 0xC2, 0xA9, 't', 0xC3, 0x83, 0xC2, 0xA9}));
    EXPECT_EQ(DecodeClipRecord(record.data()).Title, "Ã©tÃ©");
}

TEST_F(ProjectFileTest, PathsOutsideWindows1252AreWrittenInUtf8AndReopen)
{
    const Samples japanese = Staircase(2205, 100);
    const Samples russian = Wavy(2205, 2);
    const std::string pathJ = Source("音声.wav", japanese);
    const std::string pathR = Source("Запись.wav", russian);
    montage.Create("Voix", pathJ, 0, 100, 0);
    montage.Create("Запись", pathR, 0, 100, 1);
    SaveProject(montage, Path("monde.snt"));

    const Bytes file = ReadFile(Path("monde.snt"));
    const Bytes utf8J = Concat({B(dir.string() + "/"), {0xE9, 0x9F, 0xB3, 0xE5, 0xA3, 0xB0}, B(".wav")});
    EXPECT_EQ(file[46], utf8J.size());
    EXPECT_EQ(Part(file, 47, utf8J.size()), utf8J);
    EXPECT_EQ(Part(file, 332 + 1, 12),
              (Bytes{0xD0, 0x97, 0xD0, 0xB0, 0xD0, 0xBF, 0xD0, 0xB8, 0xD1, 0x81, 0xD1, 0x8C}));

    TMontage loaded;
    LoadProject(loaded, Path("monde.snt"), Tell());
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(loaded.ClipCount, 2);
    EXPECT_EQ(loaded.ClipAt(0)->SourceFile, pathJ);
    EXPECT_EQ(loaded.ClipAt(1)->SourceFile, pathR);
    EXPECT_EQ(loaded.ClipAt(1)->Title, "Запись");
    EXPECT_EQ(SamplesOf(loaded.ClipAt(0)->Storage.Wave()), japanese);
    EXPECT_EQ(SamplesOf(loaded.ClipAt(1)->Storage.Wave()), russian);
}

TEST_F(ProjectFileTest, PathOfNoKnownEncodingReopens)
{
    const Samples s = Staircase(2205, 7);
    const std::string path = Source("son\xFF\xFE.wav", s); // a name in no encoding at all
    montage.Create("Brut", path, 0, 100, 0);
    SaveProject(montage, Path("brut.snt"));
    const Bytes file = ReadFile(Path("brut.snt"));
    EXPECT_EQ(Part(file, 47, path.size()), B(path));

    TMontage loaded;
    LoadProject(loaded, Path("brut.snt"), Tell());
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(loaded.ClipCount, 1);
    EXPECT_EQ(loaded.ClipAt(0)->SourceFile, path);
    EXPECT_EQ(SamplesOf(loaded.ClipAt(0)->Storage.Wave()), s);
}

// ---- Saving failures ------------------------------------------------------------------------------

TEST_F(ProjectFileTest, PathOver255BytesRefusesTheWholeSave)
{
    const std::string project = Path("ancien.snt");
    WriteFile(project, B("ancien contenu"));

    std::string ansi255 = "/"; // 254 "é" are 254 bytes in Windows-1252 (508 in UTF-8)
    for (int k = 0; k < 254; ++k)
        ansi255 += "é";
    montage.Create("Intro", "/" + std::string(254, 'x'), 0, 100, 0);
    montage.Create("Accents", ansi255, 0, 100, 1);
    SaveProject(montage, project); // 255 bytes fit
    const Bytes saved = ReadFile(project);
    ASSERT_EQ(saved.size(), 664U);
    EXPECT_EQ(saved[46], 255);
    EXPECT_EQ(saved[332 + 46], 255);
    EXPECT_EQ(saved[332 + 48], 0xE9);

    std::string wide = "/"; // 85 characters of three bytes: 256 bytes
    for (int k = 0; k < 85; ++k)
        wide += "音";
    montage.Create("Trop long", wide, 0, 100, 2);
    montage.Create("Aussi", "/" + std::string(255, 'y'), 0, 100, 3);
    montage.MontageSaved = false;

    EXPECT_EQ(SaveError(project),
              "EProjectError: Le chemin du fichier source de l'extrait « Trop long » est trop "
              "long (plus de 255 caractères) : le montage n'a pas été enregistré.");
    EXPECT_EQ(ReadFile(project), saved);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(SaveError(Path("neuf.snt")).substr(0, 15), "EProjectError: ");
    EXPECT_EQ(Entries(), (std::vector<fs::path>{"ancien.snt"}));
}

TEST_F(ProjectFileTest, FailedSavesLeaveTheOldProjectAndTheFlag)
{
    montage.Create("Un", "/un.wav", 0, 100, 0);
    const std::string project = Path("projet.snt");
    WriteFile(project, Bytes(5000, 0x55));
    SaveProject(montage, project); // replaces a longer file whole
    const Bytes good = Record({B("Un"), B("/un.wav"), 0, 100, 1, 1, 1000, 1000, 0});
    EXPECT_EQ(ReadFile(project), good);

    montage.Create("Deux", "/deux.wav", 0, 100, 1);
    montage.MontageSaved = false;

    const std::string missingFolder = Path("absent/projet.snt");
    EXPECT_EQ(SaveError(missingFolder), "EFCreateError: Impossible de créer le fichier " + missingFolder);
    EXPECT_FALSE(fs::exists(dir / "absent"));

    const fs::path folder = dir / "dossier.snt";
    fs::create_directory(folder);
    WriteFile((folder / "notes.txt").string(), B("a garder"));
    EXPECT_EQ(SaveError(folder.string()), "EFCreateError: Impossible de créer le fichier " + folder.string());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ReadFile((folder / "notes.txt").string()), B("a garder"));

    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(ReadFile(project), good);
    EXPECT_EQ(Entries(), (std::vector<fs::path>{"dossier.snt", "projet.snt"})); // nothing left beside
}

TEST_F(ProjectFileTest, EmptyMontageWritesNothing)
{
    montage.MontageSaved = false;
    SaveProject(montage, Path("vide.snt"));
    EXPECT_FALSE(fs::exists(dir / "vide.snt"));
    EXPECT_FALSE(montage.MontageSaved);
}

// ---- Damaged and hostile projects -----------------------------------------------------------------

TEST_F(ProjectFileTest, ShortLastRecordKeepsTheClipsBeforeIt)
{
    const Samples s = Staircase(4410);
    const std::string source = Source("s.wav", s);
    const Bytes record = Record({B("Seul"), B(source), 0, 200, 1, 1, 1000, 1000, 0});
    montage.MontageSaved = false;

    EXPECT_EQ(LoadError(Part(record, 0, 331)), "EReadPastEndError: Lecture au-delà de la fin de fichier");
    EXPECT_EQ(montage.ClipCount, 0);

    EXPECT_EQ(LoadError(Concat({record, {0}})), "EReadPastEndError: Lecture au-delà de la fin de fichier");
    ASSERT_EQ(montage.ClipCount, 1);
    EXPECT_EQ(At(0).Title, "Seul");
    EXPECT_EQ(SamplesOf(At(0).Storage.Wave()), s);

    // Neither the render nor the commands were touched.
    EXPECT_EQ(restarted, 0);
    EXPECT_EQ(montage.RenderCursor, TMontage::RenderIdle);
    EXPECT_TRUE(clipsPresent.empty());
    EXPECT_FALSE(montage.MontageSaved);
}

TEST_F(ProjectFileTest, EmptyProjectGivesAnEmptyMontage)
{
    montage.MontageSaved = false;
    EXPECT_EQ(LoadError({}), "no error");
    EXPECT_EQ(montage.ClipCount, 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_EQ(montage.RenderCursor, TMontage::RenderIdle);
    EXPECT_EQ(clipsPresent, std::vector<bool>{false});
}

TEST_F(ProjectFileTest, LengthBytesBeyondTheirFieldsAreLimited)
{
    const std::string name(255 - dir.string().size() - 1, 'p');
    const std::string source = Source(name, Staircase(2205));
    ASSERT_EQ(source.size(), 255U);
    Raw raw{B(std::string(45, 'T')), B(source), 0, 100, 1, 1, 1000, 1000, 0};
    raw.titleLength = 255;
    raw.sourceLength = 255;
    Load(Record(raw));

    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(montage.ClipCount, 1);
    EXPECT_EQ(At(0).Title, std::string(45, 'T'));
    EXPECT_EQ(At(0).SourceFile, source);

    // A path field shorter than its length byte claims: the zeros after it are part of no file name.
    raw.source = B(source.substr(0, 250));
    raw.titleLength = 0;
    EXPECT_EQ(DecodeClipRecord(Record(raw).data()).Title, "");
    TMontage other;
    const Bytes padded = Record(raw);
    TBytesView view(padded.data(), padded.size());
    LoadProjectFromStream(other, view, Tell());
    EXPECT_EQ(other.ClipCount, 0);
    EXPECT_EQ(messages.size(), 1U);
}

TEST_F(ProjectFileTest, FadeKindsOutsideTheirRangeBecomeNone)
{
    const std::string source = Source("s.wav", Staircase(2205));
    Load(Concat({
        Record({B("a"), B(source), 0, 100, -1, 3, 1000, 1000, 0}),
        Record({B("b"), B(source), 0, 100, 1000, INT32_MIN, 1000, 1000, 1}),
        Record({B("c"), B(source), 0, 100, INT32_MAX, 0, 1000, 1000, 2}),
    }));
    ASSERT_EQ(montage.ClipCount, 3);
    EXPECT_EQ(At(0).FadeInKind, 1);
    EXPECT_EQ(At(0).FadeOutKind, 1);
    EXPECT_EQ(At(1).FadeInKind, 1);
    EXPECT_EQ(At(1).FadeOutKind, 1);
    EXPECT_EQ(At(2).FadeInKind, 1);
    EXPECT_EQ(At(2).FadeOutKind, 0); // a kind in range is kept
    montage.CompleteRender();
    EXPECT_TRUE(montage.RenderFinished);
}

TEST_F(ProjectFileTest, SourcesThatAreNotWavesAreToldAndLeftOut)
{
    const Samples s = Staircase(2205);
    const std::string text = Path("notes.txt");
    WriteFile(text, B("Ceci n'est pas un fichier son.\n"));
    const std::string folder = Path("dossier");
    fs::create_directory(folder);
    const std::string good = Source("bon.wav", s);
    const std::string missing = Path("parti.wav");

    Load(Concat({
        Record({B("Texte"), B(text), 0, 100, 1, 1, 1000, 1000, 0}),
        Record({B("Dossier"), B(folder), 0, 100, 1, 1, 1000, 1000, 1}),
        Record({B("Parti"), B(missing), 0, 100, 1, 1, 1000, 1000, 2}),
        Record({B("Bon"), B(good), 0, 100, 1, 1, 1000, 1000, 3}),
    }));

    const auto notASound = [](const std::string& title, const std::string& path) {
        return "L'extrait « " + title + " » n'a pas été chargé : le fichier " + path +
               " n'est pas un fichier son lisible.";
    };
    EXPECT_EQ(messages, (std::vector<std::string>{notASound("Texte", text), notASound("Dossier", folder),
                                                  NotFound(missing)}));
    ASSERT_EQ(Titles(), std::vector<std::string>{"Bon"});
    EXPECT_EQ(SamplesOf(At(0).Storage.Wave()), s);
    EXPECT_EQ(restarted, 1);
    montage.CompleteRender();
    EXPECT_TRUE(montage.RenderFinished);
}

TEST_F(ProjectFileTest, RecordsBeyondTheStripsCapacityAreLeftOutWithOneMessage)
{
    const std::string source = Source("s.wav", Staircase(441));
    Bytes project;
    for (int k = 0; k < 1000; ++k) {
        const Bytes record = Record({B("c" + std::to_string(k)), B(source), 0, 20, 1, 1, 1000, 1000, k});
        project.insert(project.end(), record.begin(), record.end());
    }
    Load(project);

    EXPECT_EQ(messages,
              std::vector<std::string>{
                  "Le montage contient plus de 100 extraits : les suivants n'ont pas été chargés."});
    ASSERT_EQ(montage.ClipCount, 100);
    EXPECT_EQ(At(99).Title, "c99");
    ExpectConsecutiveStrip();
    EXPECT_TRUE(montage.MontageSaved);

    // Exactly a full strip: no message.
    messages.clear();
    project.resize(std::size_t{100} * 332);
    TMontage hundred;
    WriteFile(Path("cent.snt"), project);
    LoadProject(hundred, Path("cent.snt"), Tell());
    EXPECT_EQ(hundred.ClipCount, 100);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ProjectFileTest, StretchesOutsideTheSourceGiveOnlyWhatItHolds)
{
    const Samples s = Staircase(22050); // one second
    const std::string source = Source("s.wav", s);
    struct Case
    {
        std::int32_t startMs;
        std::int32_t lengthMs;
        std::size_t from;
        std::size_t to;
    };
    const std::vector<Case> cases = {
        {-500, 1000, 0, 11025},             // starts before the source
        {800, 1000000000, 17640, 22050},    // ends far after it
        {-2000000000, 2000000300, 0, 6615}, // the sum is taken in full
        {INT32_MIN, INT32_MAX, 0, 0},       // ends before the start of the source
        {INT32_MAX, INT32_MAX, 0, 0},       // starts after its end
        {200, -100, 0, 0},                  // negative length
        {0, INT32_MIN, 0, 0},
        {1000, 500, 0, 0}, // starts at its very end
        {250, 0, 0, 0},    // empty stretch
    };
    Bytes project;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Bytes record = Record({B("c" + std::to_string(k)), B(source), cases[k].startMs,
                                     cases[k].lengthMs, 0, 0, 1000, 1000, static_cast<std::int32_t>(k)});
        project.insert(project.end(), record.begin(), record.end());
    }
    Load(project);

    ASSERT_EQ(montage.ClipCount, static_cast<int>(cases.size()));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Tsample& clip = At(static_cast<int>(k));
        EXPECT_EQ(SamplesOf(clip.Storage.Wave()), Slice(s, cases[k].from, cases[k].to))
            << cases[k].startMs << " " << cases[k].lengthMs;
        EXPECT_EQ(clip.StartMs, cases[k].startMs);
        EXPECT_EQ(clip.LengthMs, cases[k].lengthMs);
    }
    montage.CompleteRender();
    EXPECT_TRUE(montage.RenderFinished);
}

TEST_F(ProjectFileTest, SamplesPastTheLastWholeMillisecondBelongOnlyToStretchesReachingTheEnd)
{
    const Samples s = Staircase(22060); // 1000.45 ms: its duration reads 1000
    const std::string source = Source("s.wav", s);
    Load(Concat({
        Record({B("debut"), B(source), 0, 500, 1, 1, 1000, 1000, 0}),
        Record({B("vide"), B(source), 500, 0, 1, 1, 1000, 1000, 1}),
        Record({B("fin"), B(source), 900, 5000, 1, 1, 1000, 1000, 2}),
        Record({B("apres"), B(source), 1000, 100, 1, 1, 1000, 1000, 3}),
        Record({B("loin"), B(source), 2000, 100, 1, 1, 1000, 1000, 4}),
    }));
    ASSERT_EQ(montage.ClipCount, 5);
    EXPECT_EQ(SamplesOf(At(0).Storage.Wave()), Slice(s, 0, 11025));
    EXPECT_EQ(SamplesOf(At(1).Storage.Wave()), Samples{});
    EXPECT_EQ(SamplesOf(At(2).Storage.Wave()), Slice(s, 19845, 22060));
    EXPECT_EQ(SamplesOf(At(3).Storage.Wave()), Samples{});
    EXPECT_EQ(SamplesOf(At(4).Storage.Wave()), Samples{});
}

} // namespace
