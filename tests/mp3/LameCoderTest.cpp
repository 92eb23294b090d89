// The encoder component: its settings, the files it writes (read back frame by frame and decoded with
// the library's own decoder), its events and progress, and each way a run fails.
#include "mp3/LameCoder.h"

#include "audio/TestWaves.h"
#include "mp3/Mp3Decode.h"
#include "platform/io/Stream.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const TWaveFormatEx Stereo44100 = PcmFormat(2, 44100, 16);
const TWaveFormatEx Mono44100 = PcmFormat(1, 44100, 16);

// MPEG-1 layer III: 1152 samples per channel in a frame, so a stereo WAVE chunk of 2304 samples of
// 4 bytes each.
constexpr std::size_t StereoWaveChunk = std::size_t{1152} * 2 * 4;

// ---- Settings -------------------------------------------------------------------------------------

TEST(LameCoderSettings, DefaultsAndTheRecordTheyFill)
{
    TLameCoder coder;
    EXPECT_EQ(coder.SampleRate(), 44100U);
    EXPECT_EQ(coder.Bitrate(), 128U);
    EXPECT_EQ(coder.MaxBitrate(), 320U);
    EXPECT_EQ(coder.Quality(), MPEG_QUALITY::NORMAL_QUALITY);
    EXPECT_EQ(coder.Mode(), TLameMode::STEREO);
    EXPECT_FALSE(coder.Private());
    EXPECT_TRUE(coder.CRC());
    EXPECT_FALSE(coder.Copyright());
    EXPECT_FALSE(coder.Original());
    EXPECT_FALSE(coder.WriteVBRHeader());
    EXPECT_FALSE(coder.EnableVBR());
    EXPECT_EQ(coder.VBRQuality(), 4);
    EXPECT_TRUE(coder.InputFiles().empty());
    EXPECT_TRUE(coder.OutputFiles().empty());
    EXPECT_EQ(coder.DefaultExt, ".mp3");
    EXPECT_EQ(coder.Mp3FileName, "");

    BE_CONFIG c = coder.Config();
    EXPECT_EQ(c.configKind, 256U);
    EXPECT_EQ(c.structVersion, 1U);
    EXPECT_EQ(c.structSize, 331U);
    EXPECT_EQ(c.sampleRate, 44100U);
    EXPECT_EQ(c.resampleRate, 0U);
    EXPECT_EQ(c.mode, 0);
    EXPECT_EQ(c.bitrate, 128U);
    EXPECT_EQ(c.maxBitrate, 320U);
    EXPECT_EQ(c.quality, 0);
    EXPECT_EQ(c.mpegVersion, 1U);
    EXPECT_EQ(c.psyModel, 0U);
    EXPECT_EQ(c.emphasis, 0U);
    EXPECT_EQ(c.crc, 0xFFFFFFFFU); // a true 32-bit boolean has all its bits set
    EXPECT_EQ(c.privateBit | c.copyright | c.original | c.writeVBRHeader | c.enableVBR, 0U);
    EXPECT_EQ(c.vbrQuality, 4);
    EXPECT_TRUE(
        std::all_of(std::begin(c.reserved), std::end(c.reserved), [](std::uint8_t b) { return b == 0; }));

    coder.SetSampleRate(22050);
    coder.SetMode(TLameMode::MONO);
    coder.SetBitrate(64);
    coder.SetMaxBitrate(160);
    coder.SetQuality(MPEG_QUALITY::VOICE_QUALITY);
    coder.SetPrivate(true);
    coder.SetCRC(false);
    coder.SetCopyright(true);
    coder.SetOriginal(true);
    coder.SetEnableVBR(true);
    coder.SetVBRQuality(7);
    c = coder.Config();
    EXPECT_EQ(c.sampleRate, 22050U);
    EXPECT_EQ(c.mode, 3);
    EXPECT_EQ(c.bitrate, 64U);
    EXPECT_EQ(c.maxBitrate, 160U);
    EXPECT_EQ(c.quality, 3);
    EXPECT_EQ(c.privateBit, 0xFFFFFFFFU);
    EXPECT_EQ(c.crc, 0U);
    EXPECT_EQ(c.copyright, 0xFFFFFFFFU);
    EXPECT_EQ(c.original, 0xFFFFFFFFU);
    EXPECT_EQ(c.enableVBR, 0xFFFFFFFFU);
    EXPECT_EQ(c.writeVBRHeader, 0xFFFFFFFFU);
    EXPECT_EQ(c.vbrQuality, 7);
}

TEST(LameCoderSettings, EnableVbrCarriesWriteVbrHeader)
{
    TLameCoder coder;
    coder.SetEnableVBR(true);
    EXPECT_TRUE(coder.EnableVBR());
    EXPECT_TRUE(coder.WriteVBRHeader());
    coder.SetWriteVBRHeader(false); // on its own, the header switch leaves VBR alone
    EXPECT_TRUE(coder.EnableVBR());
    coder.SetWriteVBRHeader(true);
    coder.SetEnableVBR(false);
    EXPECT_FALSE(coder.EnableVBR());
    EXPECT_FALSE(coder.WriteVBRHeader());
}

TEST(LameCoderSettings, InputFilesGiveOutputNames)
{
    TLameCoder coder;
    coder.SetInputFiles({"a.wav", "dir/b", "dossier.v2/c", "d.e.wav", "/abs/f.WAV"});
    EXPECT_EQ(coder.InputFiles(),
              (TLameCoder::TFileList{"a.wav", "dir/b", "dossier.v2/c", "d.e.wav", "/abs/f.WAV"}));
    EXPECT_EQ(coder.OutputFiles(),
              (TLameCoder::TFileList{"a.mp3", "dir/b.mp3", "dossier.v2/c.mp3", "d.e.mp3", "/abs/f.mp3"}));

    // Setting the inputs again starts the outputs afresh, with the extension of the moment.
    coder.DefaultExt = ".MP3";
    coder.SetInputFiles({"x.raw"});
    EXPECT_EQ(coder.OutputFiles(), (TLameCoder::TFileList{"x.MP3"}));

    // Set as a list, or edited in place, the outputs are taken as they are.
    coder.SetOutputFiles({"y.bin", "z"});
    EXPECT_EQ(coder.OutputFiles(), (TLameCoder::TFileList{"y.bin", "z"}));
    coder.InputFiles().clear();
    coder.OutputFiles().clear();
    coder.InputFiles().push_back("w.wav");
    coder.OutputFiles().push_back("elsewhere.mp3");
    EXPECT_EQ(coder.OutputFiles(), (TLameCoder::TFileList{"elsewhere.mp3"}));
}

TEST(LameCoderSettings, AssignCopiesTheEncoderSettingsOnly)
{
    TLameCoder source;
    source.SetSampleRate(48000);
    source.SetMode(TLameMode::JSTEREO);
    source.SetBitrate(192);
    source.SetMaxBitrate(256);
    source.SetQuality(MPEG_QUALITY::HIGH_QUALITY);
    source.SetPrivate(true);
    source.SetCRC(false);
    source.SetCopyright(true);
    source.SetOriginal(true);
    source.SetEnableVBR(true);
    source.SetWriteVBRHeader(false);
    source.SetVBRQuality(2);
    source.SetInputFiles({"a.wav"});
    source.DefaultExt = ".bin";
    source.Mp3FileName = "source.mp3";
    source.OnEndProcess = [](TLameCoder*) {};

    TLameCoder target;
    target.Mp3FileName = "mine.mp3";
    target.Assign(source);
    EXPECT_EQ(target.SampleRate(), 48000U);
    EXPECT_EQ(target.Mode(), TLameMode::JSTEREO);
    EXPECT_EQ(target.Bitrate(), 192U);
    EXPECT_EQ(target.MaxBitrate(), 256U);
    EXPECT_EQ(target.Quality(), MPEG_QUALITY::HIGH_QUALITY);
    EXPECT_TRUE(target.Private());
    EXPECT_FALSE(target.CRC());
    EXPECT_TRUE(target.Copyright());
    EXPECT_TRUE(target.Original());
    EXPECT_TRUE(target.EnableVBR());
    EXPECT_FALSE(target.WriteVBRHeader()); // copied as it stands, not derived from EnableVBR
    EXPECT_EQ(target.VBRQuality(), 2);
    EXPECT_TRUE(target.InputFiles().empty());
    EXPECT_TRUE(target.OutputFiles().empty());
    EXPECT_EQ(target.DefaultExt, ".mp3");
    EXPECT_EQ(target.Mp3FileName, "mine.mp3");
    EXPECT_FALSE(target.OnEndProcess);

    TLameVersion version;
    EXPECT_THROW(target.Assign(version), EConvertError);
}

TEST(LameCoderSettings, VersionIsTheLibrarys)
{
    const auto [major, minor] = LibraryVersion();
    TLameCoder coder;
    EXPECT_EQ(coder.LameVersion().MajorVersion(), major);
    EXPECT_EQ(coder.LameVersion().MinorVersion(), minor);
    EXPECT_EQ(coder.LameVersion().DLLMajorVersion(), major);
    EXPECT_EQ(coder.LameVersion().DLLMinorVersion(), minor);

    TLameVersion copy;
    copy.Assign(coder.LameVersion());
    EXPECT_EQ(copy.MinorVersion(), minor);
    EXPECT_THROW(copy.Assign(coder), EConvertError);
}

// ---- Encoding -------------------------------------------------------------------------------------

class LameCoderEncode : public testing::Test
{
protected:
    LameCoderEncode()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("sonalto-mp3-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        coder.OnBeginProcess = [this](TLameCoder* sender) {
            EXPECT_EQ(sender, &coder);
            log.push_back("begin process");
        };
        coder.OnBeginFile = [this](TLameCoder*, std::uint16_t num, const std::string& name) {
            log.push_back("begin file " + std::to_string(num) + " " + fs::path(name).filename().string());
            progress.emplace_back();
        };
        coder.OnProgress = [this](TLameCoder*, std::uint16_t percent) {
            ASSERT_FALSE(progress.empty());
            progress.back().push_back(percent);
        };
        coder.OnEndFile = [this](TLameCoder*, std::uint16_t num, const std::string& name) {
            // The output file is complete and closed by then: its frames all read back.
            EXPECT_TRUE(WalkFrames(ReadFileBytes(name)).complete) << name;
            log.push_back("end file " + std::to_string(num) + " " + fs::path(name).filename().string());
        };
        coder.OnEndProcess = [this](TLameCoder*) { log.push_back("end process"); };
    }
    ~LameCoderEncode() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    std::string write(const std::string& name, const Bytes& bytes) const
    {
        WriteFileBytes(path(name), bytes);
        return path(name);
    }

    // Encodes one file as the coder is set; the MP3 bytes.
    Bytes encode(const std::string& input, const std::string& outputName = "out.mp3")
    {
        coder.InputFiles() = {input};
        coder.OutputFiles() = {path(outputName)};
        coder.Encode();
        return ReadFileBytes(path(outputName));
    }

    // What Encode raised: its message, prefixed by its kind.
    std::string failureOf()
    {
        try {
            coder.Encode();
        } catch (const ELameError& e) {
            return std::string("ELameError: ") + e.what();
        } catch (const EListError& e) {
            return std::string("EListError: ") + e.what();
        } catch (const EStreamError& e) {
            return std::string("EStreamError: ") + e.what();
        } catch (const std::exception& e) {
            return std::string("other: ") + e.what();
        }
        return "no failure";
    }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir;
    TLameCoder coder;
    std::vector<std::string> log;
    std::vector<std::vector<int>> progress; // per file
};

// Every frame an MPEG-1 layer III frame at 44.1 kHz with the bit rate given, the file made of frames only.
void ExpectCbrFrames(const Bytes& mp3, int bitrate, const std::string& what)
{
    const FrameWalk walk = WalkFrames(mp3);
    EXPECT_TRUE(walk.complete) << what;
    for (const Mp3Frame& f : walk.frames) {
        ASSERT_EQ(f.version, 1) << what << " at " << f.offset;
        ASSERT_EQ(f.sampleRate, 44100) << what << " at " << f.offset;
        ASSERT_EQ(f.bitrate, bitrate) << what << " at " << f.offset;
    }
}

// The decoded file against its input's tones, channel by channel, over whole tenths of a second from
// 0.1 s into the input (whole cycles of every tone below). The level within 1 dB: at the lower bit rates
// the library lowers it a little, to keep clear of clipping.
void ExpectTones(const DecodedMp3& d, std::size_t inputFrames, const std::vector<Tone>& tones,
                 const std::string& what)
{
    ASSERT_TRUE(d.ok) << what;
    ASSERT_EQ(d.channels, static_cast<int>(tones.size())) << what;
    ASSERT_EQ(d.sampleRate, 44100) << what;
    // Duration: the input plus the codec's known delay, padded up to less than one frame more.
    ASSERT_GE(d.left.size(), inputFrames + CodecDelay) << what;
    EXPECT_LT(d.left.size(), inputFrames + CodecDelay + FrameSamples) << what;
    ASSERT_GE(inputFrames, 3U * 4410U) << what;
    const std::size_t from = CodecDelay + 4410;
    const std::size_t count =
        std::min<std::size_t>(44100, (inputFrames - std::size_t{2} * 4410) / 4410 * 4410);
    for (std::size_t c = 0; c < tones.size(); ++c) {
        const std::vector<std::int16_t>& ch = c == 0 ? d.left : d.right;
        const double amplitude = ToneAmplitude(ch, tones[c].frequency, 44100, from, count);
        EXPECT_NEAR(amplitude, tones[c].amplitude, 0.11 * tones[c].amplitude) << what << " channel " << c;
        // Nothing else of note: what is left once the tone is out is small beside it.
        EXPECT_LT(ResidualRms(ch, tones[c].frequency, 44100, from, count), 0.03 * tones[c].amplitude)
            << what << " channel " << c;
        // The other channel's tone is not in this one.
        const Tone& other = tones[(c + 1) % tones.size()];
        if (other.frequency != tones[c].frequency) {
            EXPECT_LT(ToneAmplitude(ch, other.frequency, 44100, from, count), 0.02 * other.amplitude)
                << what << " channel " << c;
        }
    }
}

const std::vector<Tone> StereoTones{{1000, 10000}, {2500, 5000}};

TEST_F(LameCoderEncode, SineKeepsItsDurationFrequencyLevelAndChannels)
{
    const std::size_t frames = std::size_t{3} * 44100;
    const std::string in = write("sine.wav", CanonicalWave(Stereo44100, Tones(frames, StereoTones)));
    coder.SetBitrate(320);
    const Bytes mp3 = encode(in);
    ExpectCbrFrames(mp3, 320, "320 kbit/s");
    ExpectTones(DecodeMp3(mp3), frames, StereoTones, "320 kbit/s");
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 sine.wav", "end file 0 out.mp3",
                                             "end process"}));
}

TEST_F(LameCoderEncode, WaveSamplesAreTakenFromTheDataChunkWhereverItIs)
{
    const std::size_t frames = 44100 + 333;
    const Bytes pcm = Tones(frames, StereoTones);
    // The header this program writes (an 18-byte format chunk: samples from byte 46), the 44-byte one,
    // and one with a chunk of notes between the format and the samples.
    const std::string at46 = write("46.wav", RiffBuilder().fmt(Stereo44100, 18).data(pcm).build());
    const std::string at44 = write("44.wav", CanonicalWave(Stereo44100, pcm));
    const std::string withList =
        write("list.wav", RiffBuilder().fmt(Stereo44100).chunk("LIST", Bytes(27, 'x')).data(pcm).build());

    const Bytes from46 = encode(at46, "46.mp3");
    const Bytes from44 = encode(at44, "44.mp3");
    const Bytes fromList = encode(withList, "list.mp3");
    EXPECT_EQ(from46, from44);
    EXPECT_EQ(fromList, from44);
    // The left channel stays left: no header byte shifted the samples.
    ExpectTones(DecodeMp3(from46), frames, StereoTones, "46-byte header");
}

TEST_F(LameCoderEncode, RawPcmIsEncodedWhole)
{
    // The same samples as raw bytes and as a WAVE file give the same MP3: the raw file's first 44 bytes
    // are samples too.
    const std::size_t frames = 30000;
    const Bytes pcm = Tones(frames, StereoTones);
    ASSERT_NE(std::string(pcm.begin() + 8, pcm.begin() + 12), "WAVE");
    const Bytes fromRaw = encode(write("stereo.pcm", pcm), "raw.mp3");
    const Bytes fromWave = encode(write("stereo.wav", CanonicalWave(Stereo44100, pcm)), "wave.mp3");
    EXPECT_EQ(fromRaw, fromWave);
    ExpectTones(DecodeMp3(fromRaw), frames, StereoTones, "raw stereo");

    // Mono, whose raw chunks are half as long.
    coder.SetMode(TLameMode::MONO);
    const Bytes monoPcm = Tones(frames, {{1000, 8000}});
    const Bytes monoRaw = encode(write("mono.pcm", monoPcm), "mono-raw.mp3");
    const Bytes monoWave = encode(write("mono.wav", CanonicalWave(Mono44100, monoPcm)), "mono-wave.mp3");
    EXPECT_EQ(monoRaw, monoWave);
    ExpectTones(DecodeMp3(monoRaw), frames, {{1000, 8000}}, "raw mono");
}

TEST_F(LameCoderEncode, EveryQualityAndBitRateGivesAValidFile)
{
    const std::size_t frames = 44100 + 4410 + 2000;
    const std::string in = write("sine.wav", CanonicalWave(Stereo44100, Tones(frames, StereoTones)));
    std::vector<Bytes> byQuality;
    for (const MPEG_QUALITY quality : {MPEG_QUALITY::NORMAL_QUALITY, MPEG_QUALITY::LOW_QUALITY,
                                       MPEG_QUALITY::HIGH_QUALITY, MPEG_QUALITY::VOICE_QUALITY}) {
        const std::string what = "quality " + std::to_string(static_cast<int>(quality));
        coder.SetQuality(quality);
        coder.SetBitrate(320);
        const Bytes mp3 = encode(in);
        ExpectCbrFrames(mp3, 320, what);
        ExpectTones(DecodeMp3(mp3), frames, StereoTones, what);
        byQuality.push_back(mp3);
    }
    // Low and high are different encoder levels.
    EXPECT_NE(byQuality[1], byQuality[2]);

    coder.SetQuality(MPEG_QUALITY::NORMAL_QUALITY);
    for (const unsigned bitrate : {320U, 256U, 192U, 160U, 128U, 96U}) {
        const std::string what = std::to_string(bitrate) + " kbit/s";
        coder.SetBitrate(bitrate);
        const Bytes mp3 = encode(in);
        ExpectCbrFrames(mp3, static_cast<int>(bitrate), what);
        ExpectTones(DecodeMp3(mp3), frames, StereoTones, what);
    }
}

TEST_F(LameCoderEncode, VoiceQualityLeavesOutWhatIsAboveSpeech)
{
    const std::size_t frames = 44100 + 4410 + 2000;
    const std::vector<Tone> high{{15000, 8000}, {1000, 8000}};
    const std::string in = write("high.wav", CanonicalWave(Stereo44100, Tones(frames, high)));
    coder.SetBitrate(320);
    const std::size_t from = CodecDelay + 4410;

    coder.SetQuality(MPEG_QUALITY::NORMAL_QUALITY);
    const DecodedMp3 normal = DecodeMp3(encode(in, "normal.mp3"));
    ASSERT_TRUE(normal.ok);
    EXPECT_NEAR(ToneAmplitude(normal.left, 15000, 44100, from, 44100), 8000, 800);

    coder.SetQuality(MPEG_QUALITY::VOICE_QUALITY);
    const DecodedMp3 voice = DecodeMp3(encode(in, "voice.mp3"));
    ASSERT_TRUE(voice.ok);
    EXPECT_LT(ToneAmplitude(voice.left, 15000, 44100, from, 44100), 400);
    EXPECT_NEAR(ToneAmplitude(voice.right, 1000, 44100, from, 44100), 8000, 400);
}

TEST_F(LameCoderEncode, FrameHeadersCarryTheModeAndTheFlags)
{
    const std::size_t frames = 20000;
    const std::string stereo = write("stereo.wav", CanonicalWave(Stereo44100, Tones(frames, StereoTones)));
    const std::string mono = write("mono.wav", CanonicalWave(Mono44100, Tones(frames, {{1000, 8000}})));

    struct Case
    {
        TLameMode mode;
        bool crc, privateBit, copyright, original;
        int headerMode;
    };
    for (const Case& c : {Case{TLameMode::STEREO, true, false, false, false, 0},
                          Case{TLameMode::JSTEREO, false, true, false, true, 1},
                          Case{TLameMode::DUALCHANNEL, true, false, true, false, 2},
                          Case{TLameMode::MONO, false, true, true, true, 3}}) {
        const std::string what = "mode " + std::to_string(c.headerMode);
        coder.SetMode(c.mode);
        coder.SetCRC(c.crc);
        coder.SetPrivate(c.privateBit);
        coder.SetCopyright(c.copyright);
        coder.SetOriginal(c.original);
        const Bytes mp3 = encode(c.mode == TLameMode::MONO ? mono : stereo);
        const FrameWalk walk = WalkFrames(mp3);
        ASSERT_TRUE(walk.complete) << what;
        for (const Mp3Frame& f : walk.frames) {
            ASSERT_EQ(f.mode, c.headerMode) << what;
            ASSERT_EQ(f.crc, c.crc) << what;
            ASSERT_EQ(f.privateBit, c.privateBit) << what;
            ASSERT_EQ(f.copyright, c.copyright) << what;
            ASSERT_EQ(f.original, c.original) << what;
            ASSERT_EQ(f.bitrate, 128) << what;
        }
        const DecodedMp3 d = DecodeMp3(mp3);
        ASSERT_TRUE(d.ok) << what;
        EXPECT_EQ(d.channels, c.mode == TLameMode::MONO ? 1 : 2) << what;
    }
}

TEST_F(LameCoderEncode, VariableBitRateStaysWithinItsBounds)
{
    // A tone that comes and goes: the encoder needs few bits for some frames and many for others.
    const std::size_t frames = std::size_t{2} * 44100;
    Bytes pcm = Tones(frames, {{440, 12000}, {3000, 9000}});
    for (std::size_t i = 0; i < frames; ++i)
        if ((i / 11025) % 2 == 1)
            std::fill_n(pcm.begin() + static_cast<std::ptrdiff_t>(4 * i), 4, 0);
    const std::string in = write("vbr.wav", CanonicalWave(Stereo44100, pcm));
    coder.SetEnableVBR(true);
    coder.SetWriteVBRHeader(false);
    coder.SetBitrate(64);
    coder.SetMaxBitrate(256);
    coder.SetVBRQuality(2);
    const FrameWalk walk = WalkFrames(encode(in));
    ASSERT_TRUE(walk.complete);
    int lowest = 1000;
    int highest = 0;
    for (const Mp3Frame& f : walk.frames) {
        lowest = std::min(lowest, f.bitrate);
        highest = std::max(highest, f.bitrate);
    }
    EXPECT_LT(lowest, highest);
    EXPECT_LE(highest, 256);

    // The header switch reserves the first frame for the stream's summary.
    coder.SetWriteVBRHeader(true);
    const FrameWalk withHeader = WalkFrames(encode(in, "header.mp3"));
    ASSERT_TRUE(withHeader.complete);
    EXPECT_EQ(withHeader.frames.size(), walk.frames.size() + 1);
}

TEST_F(LameCoderEncode, EventsAndProgressOverTwoFiles)
{
    // 3.5 chunks, and 2 chunks exactly.
    const Bytes a = Tones(StereoWaveChunk * 7 / 2 / 4, StereoTones);
    const Bytes b = Tones(StereoWaveChunk * 2 / 4, StereoTones);
    coder.SetInputFiles(
        {write("a.wav", CanonicalWave(Stereo44100, a)), write("b.wav", CanonicalWave(Stereo44100, b))});
    coder.Encode();

    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 a.wav", "end file 0 a.mp3",
                                             "begin file 1 b.wav", "end file 1 b.mp3", "end process"}));
    // Once per chunk, done / data length in whole percent: 100 on the last chunk only.
    const auto expected = [](std::size_t length) {
        std::vector<int> out;
        for (std::size_t done = 0; done < length;) {
            done = std::min(done + StereoWaveChunk, length);
            out.push_back(static_cast<int>(done * 100 / length));
        }
        return out;
    };
    ASSERT_EQ(progress.size(), 2U);
    EXPECT_EQ(progress[0], expected(a.size()));
    EXPECT_EQ(progress[0], (std::vector<int>{28, 57, 85, 100}));
    EXPECT_EQ(progress[1], (std::vector<int>{50, 100}));
    EXPECT_TRUE(fs::exists(path("a.mp3")));
    EXPECT_TRUE(fs::exists(path("b.mp3")));
}

TEST_F(LameCoderEncode, ShortLastChunkAndOddTrailingBytes)
{
    // 2 chunks and 301 frames: the last chunk is encoded with its own length.
    const std::size_t frames = StereoWaveChunk * 2 / 4 + 301;
    const Bytes pcm = Tones(frames, StereoTones);
    const Bytes whole = encode(write("even.wav", CanonicalWave(Stereo44100, pcm)), "even.mp3");
    const DecodedMp3 d = DecodeMp3(whole);
    ASSERT_TRUE(d.ok);
    EXPECT_GE(d.left.size(), frames + CodecDelay);
    EXPECT_LT(d.left.size(), frames + CodecDelay + FrameSamples);

    // One byte more is read (progress reaches 100 with it) but is not a sample; one 16-bit sample more is
    // a left sample without its right one. Neither changes the sound.
    for (const std::size_t extra : {1U, 2U, 3U}) {
        Bytes longer = pcm;
        longer.insert(longer.end(), {0x34, 0x12, 0x56}); // not silence, were it encoded
        longer.resize(pcm.size() + extra);
        progress.clear();
        const Bytes mp3 =
            encode(write("odd.wav", RiffBuilder().fmt(Stereo44100).data(longer).build()), "odd.mp3");
        EXPECT_EQ(mp3, whole) << extra << " extra bytes";
        ASSERT_EQ(progress.size(), 1U);
        EXPECT_EQ(progress[0].size(), 3U);
        EXPECT_EQ(progress[0].back(), 100);
    }
}

TEST_F(LameCoderEncode, HeaderOnlyWaveHoldsOnlyTheFlush)
{
    const Bytes header = CanonicalWave(Stereo44100, {});
    ASSERT_EQ(header.size(), 44U);
    const Bytes mp3 = encode(write("empty.wav", header));
    EXPECT_TRUE(progress.at(0).empty());
    EXPECT_EQ(log.back(), "end process");

    // What the stream gives when it is flushed without a sample.
    const BE_CONFIG config = coder.Config();
    std::uint32_t samples = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> buffer(size);
    std::uint32_t produced = 0;
    ASSERT_EQ(beDeinitStream(stream, buffer.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    buffer.resize(produced);
    EXPECT_EQ(mp3, buffer);
    EXPECT_TRUE(WalkFrames(mp3).complete);
}

TEST_F(LameCoderEncode, EmptyListTouchesNoFile)
{
    coder.OutputFiles() = {path("never.mp3")};
    coder.Encode();
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "end process"}));
    EXPECT_TRUE(entries().empty());
}

// ---- Failures -------------------------------------------------------------------------------------

TEST_F(LameCoderEncode, FilesThatCannotBeOpenedOrCreated)
{
    const std::string good = write("good.wav", CanonicalWave(Stereo44100, Tones(5000, StereoTones)));

    coder.InputFiles() = {path("absent.wav"), good};
    coder.OutputFiles() = {path("absent.mp3"), path("good.mp3")};
    EXPECT_EQ(failureOf(), "EStreamError: Impossible d'ouvrir le fichier " + path("absent.wav"));
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 absent.wav"}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"good.wav"})); // nothing of either file written

    log.clear();
    const std::string nowhere = path("absent/out.mp3");
    coder.InputFiles() = {good};
    coder.OutputFiles() = {nowhere};
    EXPECT_EQ(failureOf(), "EStreamError: Impossible de créer le fichier " + nowhere);
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 good.wav"}));

    // A folder is not a file to read.
    coder.InputFiles() = {dir.string()};
    coder.OutputFiles() = {path("dir.mp3")};
    EXPECT_EQ(failureOf(), "EStreamError: Impossible d'ouvrir le fichier " + dir.string());
}

TEST_F(LameCoderEncode, MissingOutputNameIsTheListsIndexError)
{
    const std::string in = write("in.wav", CanonicalWave(Stereo44100, Tones(5000, StereoTones)));
    coder.InputFiles() = {in, in};
    coder.OutputFiles() = {path("first.mp3")};
    EXPECT_EQ(failureOf(), "EListError: Indice de liste hors limites (1)");
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 in.wav", "end file 0 first.mp3",
                                             "begin file 1 in.wav"}));
}

TEST_F(LameCoderEncode, RefusedSettingsFailBeforeAnyFile)
{
    const std::string in = write("in.wav", CanonicalWave(Stereo44100, Tones(5000, StereoTones)));
    coder.InputFiles() = {in};
    coder.OutputFiles() = {path("out.mp3")};
    coder.SetBitrate(100); // no MPEG-1 frame has this rate
    EXPECT_EQ(failureOf(), "ELameError: beInitStream failed " + std::to_string(BE_ERR_INVALID_PARAMETERS));
    EXPECT_EQ(log, (std::vector<std::string>{"begin process"}));
    EXPECT_FALSE(fs::exists(path("out.mp3")));
}

TEST_F(LameCoderEncode, MalformedWaveHeadersFailInsteadOfReadingOn)
{
    const Bytes good = CanonicalWave(Stereo44100, Tones(5000, StereoTones));
    Bytes shortWave(good.begin(), good.begin() + 40); // "WAVE", but not even a whole header
    Bytes noAlignment = good;
    noAlignment[32] = 0;
    noAlignment[33] = 0;
    Bytes noData = RiffBuilder().fmt(Stereo44100).chunk("junk", Bytes(40, 1)).build();
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"short.wav", shortWave}, {"align0.wav", noAlignment}, {"nodata.wav", noData}}) {
        log.clear();
        coder.InputFiles() = {write(name, bytes)};
        coder.OutputFiles() = {path("out.mp3")};
        EXPECT_EQ(failureOf(), "ELameError: En-tête WAVE illisible dans le fichier " + path(name)) << name;
        EXPECT_EQ(log.back(), "begin file 0 " + name) << name;
    }
}

TEST_F(LameCoderEncode, FullDiskDuringTheChunksIsWriteError)
{
    const std::string second = path("second.mp3");
    coder.InputFiles() = {write("in.wav", CanonicalWave(Stereo44100, Tones(44100, StereoTones))),
                          path("in.wav")};
    coder.OutputFiles() = {"/dev/full", second};
    EXPECT_EQ(failureOf(), "ELameError: Write Error");
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 in.wav"}));
    EXPECT_FALSE(fs::exists(second)); // the remaining files are not encoded
}

// Files may grow no further than their size at the moment (as a full disk would have it) while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_signal)(int) = nullptr;
};

TEST_F(LameCoderEncode, FullDiskAtTheFlushIsTheFinalWriteError)
{
    const std::string out = path("out.mp3");
    coder.InputFiles() = {write("in.wav", CanonicalWave(Stereo44100, Tones(44100, StereoTones)))};
    coder.OutputFiles() = {out};
    std::unique_ptr<FileSizeLimit> limit;
    std::uintmax_t sizeAtLastChunk = 0;
    coder.OnProgress = [&](TLameCoder*, std::uint16_t percent) {
        if (percent == 100) {
            sizeAtLastChunk = fs::file_size(out);
            limit = std::make_unique<FileSizeLimit>(sizeAtLastChunk);
        }
    };
    const std::string failure = failureOf();
    limit.reset();
    EXPECT_EQ(failure, "ELameError: Write error");
    EXPECT_GT(sizeAtLastChunk, 0U);
    EXPECT_EQ(fs::file_size(out), sizeAtLastChunk); // the file stays as far as it was written
    EXPECT_EQ(log, (std::vector<std::string>{"begin process", "begin file 0 in.wav"}));
}

TEST_F(LameCoderEncode, InputCutShortDuringTheRunIsReadError)
{
    const std::string in = write("in.wav", CanonicalWave(Stereo44100, Tones(44100, StereoTones)));
    coder.InputFiles() = {in};
    coder.OutputFiles() = {path("out.mp3")};
    int calls = 0;
    coder.OnProgress = [&](TLameCoder*, std::uint16_t) {
        if (++calls == 2)
            fs::resize_file(in, 44 + StereoWaveChunk * 5 / 2);
    };
    EXPECT_EQ(failureOf(), "ELameError: Read Error");
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(fs::exists(path("out.mp3")));
}

} // namespace
