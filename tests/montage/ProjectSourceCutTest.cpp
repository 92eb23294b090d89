// Opening a project reads only each clip's own bytes of a wave source. The clips must be byte for byte what
// cutting them from the whole file gave: that way is kept here as the reference.
#include "audio/TestWaves.h"
#include "montage/ProjectFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>

namespace fs = std::filesystem;

namespace {

// The clip as loading a project cut it when it read the whole source.
Bytes WholeFileClip(const std::string& path, std::int32_t startMs, std::int32_t lengthMs)
{
    constexpr auto everything = std::numeric_limits<std::uint32_t>::max();
    TWave wave;
    wave.LoadFromFile(path);
    wave.RepairPCMFormat();
    const std::int64_t duration = wave.Duration();
    const std::int64_t start = std::clamp<std::int64_t>(startMs, 0, duration);
    const std::int64_t end = std::clamp<std::int64_t>(std::int64_t{startMs} + lengthMs, start, duration);
    if (end < duration)
        wave.Delete(static_cast<std::uint32_t>(end), everything);
    if (start == duration) {
        if (wave.Duration() > 0)
            wave.Delete(0, everything);
    } else if (start > 0) {
        wave.Delete(0, static_cast<std::uint32_t>(start));
    }
    EXPECT_TRUE(wave.ConvertToPCM(MontageFormat));
    wave.TrimToData();
    return WaveBytes(wave);
}

struct Source
{
    const char* name;
    unsigned channels;
    unsigned rate;
    unsigned bits;
    std::size_t frames;
    // How the file differs from a plain one.
    enum Shape
    {
        Plain,
        ListBeforeData,      // a chunk between "fmt " and "data", and an 18-byte "fmt "
        ClaimsMore,          // the data chunk declares more bytes than the file holds
        WrongByteRate,       // byte rate and block alignment to be repaired from channels, bits and rate
        AlreadyMontageFormat // a 16-byte "fmt " in the montage's own format: a clip of it all is the file
    } shape;
};

std::string WriteSource(const fs::path& folder, const Source& s)
{
    const TWaveFormatEx format = PcmFormat(s.channels, s.rate, s.bits);
    const Bytes samples = Ramp(s.frames, s.channels, s.bits);
    Bytes bytes;
    switch (s.shape) {
    case Source::ListBeforeData:
        bytes = RiffBuilder().fmt(format, 18).chunk("LIST", Bytes(37, 'x')).data(samples).build();
        break;
    case Source::ClaimsMore:
        bytes =
            RiffBuilder().fmt(format).data(samples, static_cast<std::int64_t>(samples.size()) + 999).build();
        break;
    case Source::WrongByteRate: {
        TWaveFormatEx wrong = format;
        wrong.nAvgBytesPerSec = 0;
        wrong.nBlockAlign = 7;
        bytes = RiffBuilder().fmt(wrong).data(samples).chunk("LIST", Bytes(8, 'y')).build();
        break;
    }
    case Source::Plain:
    case Source::AlreadyMontageFormat:
        bytes = CanonicalWave(format, samples);
        break;
    }
    const fs::path path = folder / s.name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

class ProjectSourceCut : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("sonalto-cut-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Saves one record per stretch, opens the project and compares every clip with the reference.
    void ExpectClipsAsWholeFileCutThem(const std::string& path,
                                       const std::vector<std::pair<std::int32_t, std::int32_t>>& stretches)
    {
        Bytes project;
        for (const auto& [start, length] : stretches) {
            const auto record = EncodeClipRecord({"c", path, start, length, 0, 0, 0, 0, 0});
            project.insert(project.end(), record.begin(), record.end());
        }
        std::vector<Bytes> expected;
        for (const auto& [start, length] : stretches)
            expected.push_back(WholeFileClip(path, start, length));

        TMemoryStream stream;
        stream.Write(project.data(), project.size());
        stream.SetPosition(0);
        TMontage montage;
        std::vector<std::string> told;
        LoadProjectFromStream(montage, stream, [&](const std::string& text) { told.push_back(text); });
        EXPECT_TRUE(told.empty()) << told.front();
        ASSERT_EQ(montage.ClipCount, static_cast<int>(stretches.size()));
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            SCOPED_TRACE("from " + std::to_string(stretches[k].first) + " ms for " +
                         std::to_string(stretches[k].second) + " ms");
            EXPECT_EQ(WaveBytes(montage.ClipAt(static_cast<int>(k))->Storage.Wave()), expected[k]);
        }
    }

    fs::path m_folder;
};

TEST_F(ProjectSourceCut, ClipsAreTheBytesTheWholeFileGave)
{
    const std::vector<Source> sources = {
        {"stereo16-44100.wav", 2, 44100, 16, 44100 + 37, Source::Plain},
        {"mono8-11025.wav", 1, 11025, 8, 11025 + 3, Source::ListBeforeData},
        {"stereo8-8000.wav", 2, 8000, 8, 8000 + 1, Source::ClaimsMore},
        {"mono16-48000.wav", 1, 48000, 16, 24000 + 5, Source::WrongByteRate},
        {"montage-format.wav", 1, 22050, 16, 22050, Source::AlreadyMontageFormat},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        const std::string path = WriteSource(m_folder, s);
        TWave whole;
        whole.LoadFromFile(path);
        whole.RepairPCMFormat();
        const auto duration = static_cast<std::int32_t>(whole.Duration());
        ExpectClipsAsWholeFileCutThem(path, {
                                                {0, 250},              // from the start
                                                {333, 457},            // odd milliseconds
                                                {1, 1},                // a millisecond
                                                {duration - 300, 300}, // to the end
                                                {duration - 10, 5000}, // past the end
                                                {duration, 100},       // where the source ends
                                                {duration + 700, 100}, // after it
                                                {0, duration},         // all of it
                                                {0, 0},                // nothing
                                                {-50, 200},            // before the start
                                                {duration / 2, 0},     // nothing, in the middle
                                                {123, std::numeric_limits<std::int32_t>::max()},
                                            });
    }
}

// Long clips are cut two at a time, the next one on a thread of its own: the same bytes, in the same order,
// whatever comes between them.
TEST_F(ProjectSourceCut, LongClipsCutTwoAtATimeAreTheBytesTheWholeFileGave)
{
    const std::string path = WriteSource(m_folder, {"long.wav", 2, 44100, 16, 44100 * 8 + 11, Source::Plain});
    ExpectClipsAsWholeFileCutThem(path, {{0, 7000},
                                         {500, 6500},
                                         {1000, 100},
                                         {211, 7500},
                                         {333, 6999},
                                         {0, 8001},
                                         {-10, 7000},
                                         {1234, 6000},
                                         {7000, 5000}});
}

// A source made shorter since the project was saved: the clips are cut from what is there, as before.
TEST_F(ProjectSourceCut, SourceShortenedSinceTheProjectWasSavedIsCutFromWhatRemains)
{
    const std::string path = WriteSource(m_folder, {"raccourci.wav", 2, 22050, 16, 22050 * 2, Source::Plain});
    fs::resize_file(path, 44 + 4 * 22050 + 6); // a second and a frame and a half left of two
    ExpectClipsAsWholeFileCutThem(path, {{500, 300}, {900, 400}, {1500, 1000}, {0, 2000}});
}

} // namespace
