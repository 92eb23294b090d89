// Decoding the sound files teachers bring: each format, made here by the command-line tools from a signal
// whose every sample is known, must give back that signal (same start, length, level and pitch) in a wave
// the editor knows; damaged and hostile files must be refused or read as far as they go, never crash.
#include "audio/SoundDecoder.h"

#include "audio/SoundFiles.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace {

double decibels(double level, double reference)
{
    return 20 * std::log10(level / reference);
}

// ---- Every format -----------------------------------------------------------------------------------

struct FormatRow
{
    std::string name;
    unsigned sourceRate;
    unsigned sourceChannels;
    std::function<std::string(const std::string& wav)> make;
    unsigned rate;     // of the decoded wave
    unsigned channels; // of the decoded wave
    // Frames the length may differ by, at the decoded rate: one codec frame at most (two for raw AAC,
    // whose stream does not say how much of its first and last frames is padding).
    std::size_t lengthTolerance;
    std::size_t onsetTolerance;
    // The sine's amplitude in each decoded channel; a source of more channels is mixed down, the front
    // centre and the surround channels at -3 dB, the sum scaled back so that it cannot clip.
    double firstAmplitude = FirstAmplitude;
    double secondAmplitude = SecondAmplitude;
};

std::ostream& operator<<(std::ostream& out, const FormatRow& row)
{
    return out << row.name;
}

std::function<std::string(const std::string&)> ffmpeg(std::vector<std::string> args, std::string output)
{
    return [args, output](const std::string& wav) { return Ffmpeg(wav, args, output); };
}

class DecodeFormat : public testing::TestWithParam<FormatRow>
{
};

TEST_P(DecodeFormat, GivesBackTheSignalAtTheRightRateLengthLevelAndPitch)
{
    const FormatRow& row = GetParam();
    constexpr double Seconds = 1.5;
    const std::string wav =
        WriteOnsetSine(row.name + "-source.wav", row.sourceRate, row.sourceChannels, Seconds);
    const std::string file = row.make(wav);

    TWave wave;
    ASSERT_EQ(DecodeSoundFile(file, wave), TSoundLoad::Loaded);
    const TWaveFormatEx* format = wave.WaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nSamplesPerSec, row.rate);
    ASSERT_EQ(format->nChannels, row.channels);
    EXPECT_NE(wave.PCMFormat(), nonePCM);

    const SampleVector samples = WaveSamples(wave);
    const std::size_t frames = samples.size() / row.channels;
    const auto expectedFrames = static_cast<std::size_t>(std::lround(Seconds * row.rate));
    EXPECT_LE(std::max(frames, expectedFrames) - std::min(frames, expectedFrames), row.lengthTolerance)
        << frames << " frames for " << expectedFrames;

    const auto amplitude = static_cast<int>(row.firstAmplitude);
    const SignalMeasure first = Measure(samples, row.channels, 0, row.rate, amplitude);
    // The sine reaches half its amplitude a twelfth of a period after the silence.
    const auto onset = static_cast<std::size_t>(row.rate / 4 + std::ceil(row.rate / (12 * OnsetHz)));
    EXPECT_LE(std::max(first.onset, onset) - std::min(first.onset, onset), row.onsetTolerance)
        << "onset at " << first.onset << " for " << onset;
    // A sine's RMS is its amplitude over the square root of two.
    EXPECT_NEAR(decibels(first.level, row.firstAmplitude / std::sqrt(2.0)), 0, 1.0) << first.level;
    EXPECT_NEAR(first.frequency, OnsetHz, OnsetHz * 0.01);
    if (row.channels == 2) {
        // The second channel stays second.
        const SignalMeasure second = Measure(samples, 2, 1, row.rate, static_cast<int>(row.secondAmplitude));
        EXPECT_NEAR(decibels(second.level, row.secondAmplitude / std::sqrt(2.0)), 0, 1.0) << second.level;
        EXPECT_NEAR(second.frequency, OnsetHz, OnsetHz * 0.01);
        EXPECT_LE(std::max(second.onset, onset) - std::min(second.onset, onset), row.onsetTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeFormat,
    testing::Values(
        FormatRow{"mp3", 44100, 2, [](const std::string& wav) { return Lame(wav, {"-b", "128"}, "mp3.mp3"); },
                  44100, 2, 1152, 48},
        FormatRow{"mp3-32000-mono", 32000, 1,
                  [](const std::string& wav) { return Lame(wav, {"-b", "64", "-m", "m"}, "mono32.mp3"); }, 44100, 1,
                  1152 * 44100 / 32000, 48},
        FormatRow{"m4a", 44100, 2, ffmpeg({"-c:a", "aac", "-b:a", "128k"}, "aac.m4a"), 44100, 2, 1024, 48},
        FormatRow{"aac", 44100, 2, ffmpeg({"-c:a", "aac", "-b:a", "128k"}, "adts.aac"), 44100, 2, 2048, 1100},
        FormatRow{"ogg", 44100, 2, ffmpeg({"-c:a", "libvorbis", "-q:a", "4"}, "vorbis.ogg"), 44100, 2, 2048, 48},
        FormatRow{"oga", 22050, 1, ffmpeg({"-c:a", "flac", "-f", "ogg"}, "flac.oga"), 22050, 1, 0, 2},
        FormatRow{"opus", 48000, 2, ffmpeg({"-c:a", "libopus", "-b:a", "96k"}, "opus.opus"), 48000, 2, 960, 48},
        FormatRow{"opus-from-44100", 44100, 2, ffmpeg({"-c:a", "libopus", "-b:a", "96k"}, "opus44.opus"), 48000, 2,
                  960, 48},
        FormatRow{"flac", 44100, 2, ffmpeg({"-c:a", "flac"}, "flac.flac"), 44100, 2, 0, 2},
        FormatRow{"flac-96000", 96000, 2, ffmpeg({"-c:a", "flac"}, "flac96.flac"), 48000, 2, 1, 4},
        FormatRow{"flac-16000", 16000, 1, ffmpeg({"-c:a", "flac"}, "flac16.flac"), 22050, 1, 1, 4},
        FormatRow{"flac-6-channels", 48000, 6, ffmpeg({"-c:a", "flac"}, "six.flac"), 48000, 2, 0, 2,
                  (FirstAmplitude + 2 * SecondAmplitude * std::sqrt(0.5)) / (1 + 2 * std::sqrt(0.5)), SecondAmplitude},
        // FFmpeg's own WMA encoder and decoder lose most of a frame at the start between them.
        FormatRow{"wma", 44100, 2, ffmpeg({"-c:a", "wmav2", "-b:a", "128k"}, "wma.wma"), 44100, 2, 2048, 2048},
        FormatRow{"3gp", 22050, 1, ffmpeg({"-c:a", "aac", "-b:a", "48k"}, "aac.3gp"), 22050, 1, 1024, 48},
        FormatRow{"mp4-video", 44100, 2,
                  [](const std::string& wav) {
                      return Ffmpeg(wav,
                                    {"-f", "lavfi", "-i", "testsrc=d=1.5:s=64x48:r=10", "-map", "1:v", "-map", "0:a",
                                     "-c:v", "mpeg4", "-c:a", "aac", "-shortest"},
                                    "video.mp4");
                  },
                  44100, 2, 1024, 48},
        FormatRow{"webm", 48000, 2, ffmpeg({"-c:a", "libopus", "-b:a", "96k"}, "opus.webm"), 48000, 2, 960, 48},
        FormatRow{"wav-24-bits", 44100, 2, ffmpeg({"-c:a", "pcm_s24le"}, "s24.wav"), 44100, 2, 0, 0},
        FormatRow{"wav-float", 8000, 1, ffmpeg({"-c:a", "pcm_f32le"}, "float.wav"), 8000, 1, 0, 0}),
    [](const testing::TestParamInfo<FormatRow>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// ---- The encoder's delay, the same samples on every load --------------------------------------------

TEST(DecodeSoundFile, SpeechFromMp3StartsAndEndsWhereTheRecordingDid)
{
    // A real voice, as a teacher records one, through the encoder most of their files come from.
    const std::string speech = SoundPath("parole.wav");
    RunTool(
        {"espeak-ng", "-v", "fr", "-w", speech, "Bonjour à tous. Aujourd'hui, nous écoutons un extrait."});
    TWave original;
    original.LoadFromFile(speech);
    ASSERT_NE(original.PCMFormat(), nonePCM);
    const std::string mp3 = Lame(speech, {"-b", "96"}, "parole.mp3");

    TWave decoded;
    ASSERT_EQ(DecodeSoundFile(mp3, decoded), TSoundLoad::Loaded);
    EXPECT_EQ(decoded.WaveFormat()->nSamplesPerSec, original.WaveFormat()->nSamplesPerSec);
    EXPECT_EQ(decoded.WaveFormat()->nChannels, 1);
    // Gapless: neither the encoder's delay in front nor its padding behind.
    EXPECT_EQ(decoded.DataSize(), original.DataSize());

    // Sample by sample the voice is where it was: the difference is the codec's noise, far below the voice.
    const SampleVector a = WaveSamples(original);
    const SampleVector b = WaveSamples(decoded);
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        signal += static_cast<double>(a[i]) * a[i];
        noise += static_cast<double>(a[i] - b[i]) * (a[i] - b[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 10.0);

    TWave again;
    ASSERT_EQ(DecodeSoundFile(mp3, again), TSoundLoad::Loaded);
    EXPECT_TRUE(again.IsEqual(decoded));
}

TEST(DecodeSoundBytes, MemoryGivesTheSameWaveAsTheFile)
{
    const std::string mp3 = Lame(WriteOnsetSine("memoire.wav", 44100, 2, 1), {"-b", "128"}, "memoire.mp3");
    const Bytes bytes = ReadBytes(mp3);
    TWave fromFile;
    TWave fromMemory;
    ASSERT_EQ(DecodeSoundFile(mp3, fromFile), TSoundLoad::Loaded);
    ASSERT_EQ(DecodeSoundBytes(bytes.data(), bytes.size(), fromMemory), TSoundLoad::Loaded);
    EXPECT_EQ(WaveBytes(fromMemory), WaveBytes(fromFile));
}

// ---- Which reader --------------------------------------------------------------------------------------

TEST(LoadSoundFile, PcmWavesAreReadByteForByteAndOtherWavesDecoded)
{
    struct Row
    {
        std::string name;
        Bytes bytes;
        bool asItStands;
    };
    TWaveFormatEx floatFormat = PcmFormat(1, 44100, 32);
    floatFormat.wFormatTag = 3;
    Bytes floats;
    for (int i = 0; i < 441; ++i) {
        const float v = static_cast<float>(i) / 441.0F;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        floats.insert(floats.end(), p, p + 4);
    }
    const std::vector<Row> rows = {
        {"pcm16.wav", CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(300, 2)), true},
        {"pcm8.wav", CanonicalWave(PcmFormat(1, 8000, 8), Staircase8(300, 1)), true},
        // Not one of the editor's formats, but PCM of 8 or 16 bits: the editor decides, as it always did.
        {"pcm32000.wav", CanonicalWave(PcmFormat(1, 32000, 16), Staircase16(300, 1)), true},
        {"float.wav", CanonicalWave(floatFormat, floats), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = WriteBytes(row.name, row.bytes);
        TWave wave;
        ASSERT_EQ(LoadSoundFile(path, wave), TSoundLoad::Loaded);
        if (row.asItStands) {
            EXPECT_EQ(WaveBytes(wave), row.bytes);
        } else {
            ASSERT_NE(wave.PCMFormat(), nonePCM);
            EXPECT_EQ(wave.WaveFormat()->wBitsPerSample, 16);
            const SampleVector s = WaveSamples(wave);
            ASSERT_EQ(s.size(), 441u);
            // i / 441 of full scale.
            EXPECT_NEAR(s[220], 220.0 / 441 * 32768, 2);
        }
    }
}

TEST(DecodedRate, StandardRatesStayOthersGoToTheNextHigher)
{
    const std::vector<std::pair<unsigned, unsigned>> rows = {
        {1, 8000},      {8000, 8000},   {8001, 11025},  {11025, 11025}, {12000, 22050},
        {16000, 22050}, {22050, 22050}, {24000, 44100}, {32000, 44100}, {44100, 44100},
        {47999, 48000}, {48000, 48000}, {88200, 48000}, {96000, 48000}, {384000, 48000}};
    for (const auto& [source, decoded] : rows)
        EXPECT_EQ(DecodedRate(source), decoded) << source;
}

// ---- Damaged and hostile files -------------------------------------------------------------------------

struct BadRow
{
    std::string name;
    std::function<std::string()> make;
    TSoundLoad result;
    double minSeconds; // of the decoded wave, when Loaded
    double maxSeconds;
};

std::ostream& operator<<(std::ostream& out, const BadRow& row)
{
    return out << row.name;
}

std::string twoSecondsOf(const std::string& name, const std::vector<std::string>& args)
{
    return Ffmpeg(WriteOnsetSine(name + ".wav", 44100, 2, 2), args, name);
}

// Half a second of a float wave at any rate, as a header may claim one.
std::string floatWaveAt(const std::string& name, unsigned rate)
{
    TWaveFormatEx format = PcmFormat(1, rate, 32);
    format.wFormatTag = 3;
    Bytes samples;
    for (int i = 0; i < 4000; ++i) {
        const float v = (i % 40) / 40.0F;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        samples.insert(samples.end(), p, p + 4);
    }
    return WriteBytes(name, CanonicalWave(format, samples));
}

Bytes randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(count);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random());
    return out;
}

// A FLAC file's STREAMINFO: its total sample count, 36 bits across bytes 21 to 26 of the file.
Bytes withFlacTotalSamples(Bytes flac, std::uint64_t total)
{
    flac[21] = static_cast<std::uint8_t>((flac[21] & 0xF0) | ((total >> 32) & 0x0F));
    for (int k = 0; k < 4; ++k)
        flac[22 + k] = static_cast<std::uint8_t>(total >> (24 - 8 * k));
    return flac;
}

class DecodeBadInput : public testing::TestWithParam<BadRow>
{
};

TEST_P(DecodeBadInput, NeverCrashesAndReadsWhatCanBeRead)
{
    const BadRow& row = GetParam();
    const std::string path = row.make();
    TWave wave;
    std::vector<std::uint8_t> before = {1, 2, 3};
    wave.Write(before.data(), before.size());
    ASSERT_EQ(DecodeSoundFile(path, wave), row.result);
    if (row.result != TSoundLoad::Loaded) {
        EXPECT_EQ(WaveBytes(wave), before); // untouched
        return;
    }
    ASSERT_NE(wave.PCMFormat(), nonePCM);
    const double seconds = static_cast<double>(wave.DataSize()) / wave.WaveFormat()->nAvgBytesPerSec;
    EXPECT_GE(seconds, row.minSeconds);
    EXPECT_LE(seconds, row.maxSeconds);
    // The block holds the samples and nothing more, whatever the file announced.
    EXPECT_EQ(wave.Capacity(), wave.Size());
}

INSTANTIATE_TEST_SUITE_P(
    Files, DecodeBadInput,
    testing::Values(
        BadRow{"empty.mp3", [] { return WriteBytes("vide.mp3", {}); }, TSoundLoad::NotSound, 0, 0},
        BadRow{"random.mp3", [] { return WriteBytes("hasard.mp3", randomBytes(50000, 7)); },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"random.flac", [] { return WriteBytes("hasard.flac", randomBytes(5000, 11)); },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"text.wav",
               [] {
                   Bytes text;
                   AppendText(text, "Ceci est un texte, pas un son.");
                   return WriteBytes("texte.wav", text);
               },
               TSoundLoad::NotSound, 0, 0},
        // Rates no sound has, which the resampler would take minutes to prepare for.
        BadRow{"rate-of-a-gigahertz.wav", [] { return floatWaveAt("gigahertz.wav", 1445093888); },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"rate-of-500-hz.wav", [] { return floatWaveAt("500hz.wav", 500); }, TSoundLoad::NotSound, 0,
               0},
        BadRow{"rate-of-384-khz.wav", [] { return floatWaveAt("384khz.wav", 384000); }, TSoundLoad::Loaded,
               0.0104, 0.0105},
        BadRow{"video-without-sound.mp4",
               [] {
                   RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc=d=1:s=64x48:r=10", "-c:v", "mpeg4", SoundPath("muet.mp4")});
                   return SoundPath("muet.mp4");
               },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"truncated.mp3",
               [] {
                   Bytes mp3 = ReadBytes(twoSecondsOf("entier.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}));
                   mp3.resize(mp3.size() * 2 / 5 + 17); // inside a frame
                   return WriteBytes("tronque.mp3", mp3);
               },
               TSoundLoad::Loaded, 0.7, 0.9},
        BadRow{"header-claims-10-hours.flac",
               [] {
                   const Bytes flac = ReadBytes(twoSecondsOf("vrai.flac", {"-c:a", "flac"}));
                   return WriteBytes("dix-heures.flac", withFlacTotalSamples(flac, 10ULL * 3600 * 44100));
               },
               TSoundLoad::Loaded, 2, 2},
        BadRow{"header-claims-10-hours.wav",
               [] {
                   Bytes wav = ReadBytes(twoSecondsOf("flottant.wav", {"-c:a", "pcm_f32le"}));
                   // The data chunk's size: 10 hours of stereo floats would not even fit in it.
                   const auto data =
                       std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1);
                   for (int k = 0; k < 4; ++k)
                       data[4 + k] = 0xF0;
                   return WriteBytes("dix-heures.wav", wav);
               },
               TSoundLoad::Loaded, 2, 2},
        BadRow{"corrupt-frame-in-the-middle.flac",
               [] {
                   Bytes flac = ReadBytes(twoSecondsOf("abime.flac", {"-c:a", "flac"}));
                   const Bytes noise = randomBytes(300, 3);
                   std::copy(noise.begin(), noise.end(),
                             flac.begin() + static_cast<std::ptrdiff_t>(flac.size() / 2));
                   return WriteBytes("abime-milieu.flac", flac);
               },
               TSoundLoad::Loaded, 1.8, 2}));

TEST(DecodeSoundFile, FilesThatCannotBeOpenedRaiseTheOpenError)
{
    const std::string pipe = SoundPath("tube.mp3");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    TWave wave;
    // A pipe with no writer would wait for ever.
    EXPECT_THROW(DecodeSoundFile(pipe, wave), EFOpenError);
    EXPECT_THROW(DecodeSoundFile(SoundPath("absent.mp3"), wave), EFOpenError);
    EXPECT_THROW(LoadSoundFile(SoundPath("absent.mp3"), wave), EFOpenError);
    EXPECT_THROW(LoadSoundFile(SoundFolder(), wave), EFOpenError);
    EXPECT_EQ(wave.Size(), 0u);
}

TEST(DecodeSoundFile, ResultBeyondTheLimitIsRefusedWithAFrenchMessage)
{
    const std::string flac = twoSecondsOf("long.flac", {"-c:a", "flac"});
    TWave wave;
    TDecodeOptions options;
    options.MaxDataBytes = 44100 * 4; // one second of stereo
    try {
        DecodeSoundFile(flac, wave, options);
        FAIL() << "no error";
    } catch (const ESoundTooLongError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Le fichier " + flac +
                      " est trop long pour être ouvert : une fois décodé, il dépasserait 4 Go.");
    }
    EXPECT_EQ(wave.Size(), 0u);
    options.MaxDataBytes = 2 * 44100 * 4; // exactly what it holds
    EXPECT_EQ(DecodeSoundFile(flac, wave, options), TSoundLoad::Loaded);
    EXPECT_EQ(wave.DataSize(), 2 * 44100 * 4u);
}

TEST(DecodeSoundFile, ProgressRisesToTheEndAndItsAnswerCancels)
{
    const std::string mp3 = twoSecondsOf("progres.mp3", {"-c:a", "libmp3lame"});
    std::vector<double> seen;
    TDecodeOptions options;
    options.Progress = [&](double done) {
        seen.push_back(done);
        return true;
    };
    TWave wave;
    ASSERT_EQ(DecodeSoundFile(mp3, wave, options), TSoundLoad::Loaded);
    ASSERT_GT(seen.size(), 10u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_EQ(seen.back(), 1.0);

    const Bytes loaded = WaveBytes(wave);
    for (const std::size_t stopAt : {std::size_t{0}, seen.size() / 2, seen.size() - 1}) {
        SCOPED_TRACE(stopAt);
        std::size_t calls = 0;
        options.Progress = [&](double) { return calls++ < stopAt; };
        EXPECT_EQ(DecodeSoundFile(mp3, wave, options), TSoundLoad::Cancelled);
        EXPECT_EQ(calls, stopAt + 1);
        EXPECT_EQ(WaveBytes(wave), loaded);
    }
}

} // namespace

namespace {

// ---- The fold in place ---------------------------------------------------------------------------------

TEST(FoldStereoInPlace, GivesTheBytesOfTheWavesOwnConversion)
{
    std::mt19937 random(5);
    std::vector<std::int16_t> samples = {-32768, -32768, 32767, 32767, -32768, 32767, -1,
                                         0,      -1,     -2,    1,     0,      3,     -4};
    for (int i = 0; i < 20000; ++i)
        samples.push_back(static_cast<std::int16_t>(random()));
    const Bytes pcm = Pcm16(samples);
    Bytes odd = pcm;
    odd.push_back(0x55); // a last partial frame, which a conversion leaves out
    Bytes list;
    AppendText(list, "INFOISFTtest");
    struct Row
    {
        std::string name;
        Bytes image;
    };
    std::vector<Row> rows;
    for (const unsigned rate : {8000U, 11025U, 22050U, 44100U, 48000U})
        rows.push_back({"canonical " + std::to_string(rate), CanonicalWave(PcmFormat(2, rate, 16), pcm)});
    rows.push_back({"chunks before the data",
                    RiffBuilder().fmt(PcmFormat(2, 44100, 16), 18).chunk("LIST", list).data(pcm).build()});
    rows.push_back({"partial last frame", RiffBuilder().fmt(PcmFormat(2, 22050, 16)).data(odd).build()});
    rows.push_back({"no sample", CanonicalWave(PcmFormat(2, 48000, 16), {})});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TWave inPlace;
        TWave converted;
        LoadBytes(inPlace, row.image);
        LoadBytes(converted, row.image);
        ASSERT_TRUE(converted.ConvertToPCM(static_cast<TPCMFormat>(converted.PCMFormat() - 1)));
        ASSERT_TRUE(FoldStereoInPlace(inPlace));
        EXPECT_EQ(WaveBytes(inPlace), WaveBytes(converted));
        // The block shrank to the mono image: nothing of the stereo one is kept beside it.
        EXPECT_EQ(inPlace.Capacity(), inPlace.Size());
    }
}

TEST(FoldStereoInPlace, LeavesEveryOtherWaveAlone)
{
    const std::vector<std::pair<std::string, Bytes>> rows = {
        {"mono", CanonicalWave(PcmFormat(1, 44100, 16), Staircase16(100, 1))},
        {"8 bits", CanonicalWave(PcmFormat(2, 44100, 8), Staircase8(100, 2))},
        {"32000 Hz", CanonicalWave(PcmFormat(2, 32000, 16), Staircase16(100, 2))},
        {"not a wave", Bytes(100, 7)},
    };
    for (const auto& [name, bytes] : rows) {
        SCOPED_TRACE(name);
        TWave wave;
        LoadBytes(wave, bytes);
        EXPECT_FALSE(FoldStereoInPlace(wave));
        EXPECT_EQ(WaveBytes(wave), bytes);
    }
}

} // namespace
