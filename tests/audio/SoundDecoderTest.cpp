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

double decibels(double level, double amplitude)
{
    return 20 * std::log10(level / (amplitude / std::sqrt(2.0))); // a sine's RMS against its amplitude
}

std::size_t distance(std::size_t a, std::size_t b)
{
    return std::max(a, b) - std::min(a, b);
}

// Encodes a WAV file with lame (when the arguments start with "lame") or ffmpeg.
std::string encode(const std::string& wav, std::vector<std::string> args, const std::string& output)
{
    if (args.front() != "lame")
        return Ffmpeg(wav, args, output);
    args.erase(args.begin());
    return Lame(wav, args, output);
}

// ---- Every format -----------------------------------------------------------------------------------

struct FormatRow
{
    std::string file;
    unsigned sourceRate, sourceChannels;
    std::vector<std::string> encoder;
    unsigned rate, channels; // of the decoded wave
    // Frames the length may differ by, at the decoded rate: one codec frame (two for raw AAC, whose stream
    // does not say how much of its first and last frames is padding).
    std::size_t lengthTolerance, onsetTolerance;
    // The sine's amplitude in each decoded channel. Six channels are mixed down with the centre and the
    // surround channels at -3 dB, the sum scaled back so that it cannot clip.
    double first = FirstAmplitude, second = SecondAmplitude;
};

class DecodeFormat : public testing::TestWithParam<FormatRow>
{
};

TEST_P(DecodeFormat, GivesBackTheSignalAtTheRightRateLengthLevelAndPitch)
{
    const FormatRow& row = GetParam();
    const std::string wav = WriteOnsetSine(row.file + ".wav", row.sourceRate, row.sourceChannels, 1.5);
    TWave wave;
    ASSERT_EQ(DecodeSoundFile(encode(wav, row.encoder, row.file), wave), TSoundLoad::Loaded);
    const TWaveFormatEx* format = wave.WaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nSamplesPerSec, row.rate);
    ASSERT_EQ(format->nChannels, row.channels);
    EXPECT_NE(wave.PCMFormat(), nonePCM);

    const SampleVector samples = WaveSamples(wave);
    EXPECT_LE(distance(samples.size() / row.channels, 3 * row.rate / 2), row.lengthTolerance);
    // The sine reaches half its amplitude a twelfth of a period after the silence.
    const auto onset = static_cast<std::size_t>(row.rate / 4 + std::ceil(row.rate / (12 * OnsetHz)));
    for (unsigned channel = 0; channel < row.channels; ++channel) {
        SCOPED_TRACE(channel); // the second channel stays second
        const double amplitude = channel == 0 ? row.first : row.second;
        const SignalMeasure m =
            Measure(samples, row.channels, channel, row.rate, static_cast<int>(amplitude));
        EXPECT_LE(distance(m.onset, onset), row.onsetTolerance) << m.onset << " for " << onset;
        EXPECT_NEAR(decibels(m.level, amplitude), 0, 1.0) << m.level;
        EXPECT_NEAR(m.frequency, OnsetHz, OnsetHz * 0.01);
    }
}

const std::vector<std::string> Aac = {"-c:a", "aac"};

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeFormat,
    testing::Values(
        FormatRow{"mp3.mp3", 44100, 2, {"lame", "-b", "128"}, 44100, 2, 1152, 48},
        FormatRow{
            "mono32000.mp3", 32000, 1, {"lame", "-b", "64", "-m", "m"}, 44100, 1, 1152 * 44100 / 32000, 48},
        FormatRow{"aac.m4a", 44100, 2, Aac, 44100, 2, 1024, 48},
        FormatRow{"adts.aac", 44100, 2, Aac, 44100, 2, 2048, 1100},
        FormatRow{"vorbis.ogg", 44100, 2, {"-c:a", "libvorbis"}, 44100, 2, 2048, 48},
        FormatRow{"flac.oga", 22050, 1, {"-c:a", "flac", "-f", "ogg"}, 22050, 1, 0, 2},
        FormatRow{"opus.opus", 48000, 2, {"-c:a", "libopus"}, 48000, 2, 960, 48},
        FormatRow{"opus44.opus", 44100, 2, {"-c:a", "libopus"}, 48000, 2, 960, 48},
        FormatRow{"flac.flac", 44100, 2, {"-c:a", "flac"}, 44100, 2, 0, 2},
        FormatRow{"flac96.flac", 96000, 2, {"-c:a", "flac"}, 48000, 2, 1, 4},
        FormatRow{"flac16.flac", 16000, 1, {"-c:a", "flac"}, 22050, 1, 1, 4},
        FormatRow{"six.flac",
                  48000,
                  6,
                  {"-c:a", "flac"},
                  48000,
                  2,
                  0,
                  2,
                  (FirstAmplitude + 2 * SecondAmplitude * std::sqrt(0.5)) / (1 + 2 * std::sqrt(0.5))},
        // FFmpeg's own WMA encoder and decoder lose most of a frame at the start between them.
        FormatRow{"wma.wma", 44100, 2, {"-c:a", "wmav2"}, 44100, 2, 2048, 2048},
        FormatRow{"aac.3gp", 22050, 1, Aac, 22050, 1, 1024, 48},
        FormatRow{"video.mp4",
                  44100,
                  2,
                  {"-f", "lavfi", "-i", "testsrc=d=1.5:s=64x48:r=10", "-map", "1:v", "-map", "0:a", "-c:v",
                   "mpeg4", "-c:a", "aac", "-shortest"},
                  44100,
                  2,
                  1024,
                  48},
        FormatRow{"opus.webm", 48000, 2, {"-c:a", "libopus"}, 48000, 2, 960, 48},
        FormatRow{"s24.wav", 44100, 2, {"-c:a", "pcm_s24le"}, 44100, 2, 0, 0},
        FormatRow{"float.wav", 8000, 1, {"-c:a", "pcm_f32le"}, 8000, 1, 0, 0}),
    [](const testing::TestParamInfo<FormatRow>& info) {
        std::string name = info.param.file;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST(DecodeSoundFile, SpeechFromMp3IsWhereTheRecordingWasOnEveryLoad)
{
    const std::string speech = SoundPath("parole.wav");
    RunTool(
        {"espeak-ng", "-v", "fr", "-w", speech, "Bonjour à tous. Aujourd'hui, nous écoutons un extrait."});
    TWave original;
    original.LoadFromFile(speech);
    const std::string mp3 = Lame(speech, {"-b", "96"}, "parole.mp3");
    TWave decoded;
    ASSERT_EQ(DecodeSoundFile(mp3, decoded), TSoundLoad::Loaded);
    EXPECT_EQ(decoded.WaveFormat()->nSamplesPerSec, original.WaveFormat()->nSamplesPerSec);
    // Gapless: neither the encoder's delay in front nor its padding behind...
    ASSERT_EQ(decoded.DataSize(), original.DataSize());
    // ... and sample by sample the voice is where it was, the codec's noise far below it.
    const SampleVector a = WaveSamples(original);
    const SampleVector b = WaveSamples(decoded);
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        signal += static_cast<double>(a[i]) * a[i];
        noise += static_cast<double>(a[i] - b[i]) * (a[i] - b[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 10.0);

    TWave again;
    ASSERT_EQ(DecodeSoundFile(mp3, again), TSoundLoad::Loaded);
    EXPECT_TRUE(again.IsEqual(decoded));
    const Bytes bytes = ReadBytes(mp3);
    TWave fromMemory;
    ASSERT_EQ(DecodeSoundBytes(bytes.data(), bytes.size(), fromMemory), TSoundLoad::Loaded);
    EXPECT_TRUE(fromMemory.IsEqual(decoded));
}

TEST(LoadSoundFile, PcmWavesAreReadByteForByteAndOtherWavesDecoded)
{
    TWaveFormatEx floatFormat = PcmFormat(1, 44100, 32);
    floatFormat.wFormatTag = 3;
    Bytes floats;
    for (int i = 0; i < 441; ++i) {
        const float v = static_cast<float>(i) / 441.0F;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        floats.insert(floats.end(), p, p + 4);
    }
    const std::vector<std::pair<std::string, Bytes>> asTheyStand = {
        {"pcm16.wav", CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(300, 2))},
        {"pcm8.wav", CanonicalWave(PcmFormat(1, 8000, 8), Staircase8(300, 1))},
        // Not one of the editor's formats, but PCM of 8 or 16 bits: the editor decides, as it always did.
        {"pcm32000.wav", CanonicalWave(PcmFormat(1, 32000, 16), Staircase16(300, 1))}};
    for (const auto& [name, bytes] : asTheyStand) {
        TWave wave;
        ASSERT_EQ(LoadSoundFile(WriteBytes(name, bytes), wave), TSoundLoad::Loaded);
        EXPECT_EQ(WaveBytes(wave), bytes) << name;
    }
    TWave wave;
    bool decoded = false;
    ASSERT_EQ(LoadSoundFile(WriteBytes("float.wav", CanonicalWave(floatFormat, floats)), wave, {}, &decoded),
              TSoundLoad::Loaded);
    EXPECT_TRUE(decoded);
    ASSERT_EQ(wave.PCMFormat(), Mono16bit44100Hz);
    const SampleVector s = WaveSamples(wave);
    ASSERT_EQ(s.size(), 441u);
    EXPECT_NEAR(s[220], 220.0 / 441 * 32768, 2); // i / 441 of full scale
}

// ---- Damaged and hostile files -------------------------------------------------------------------------

struct BadRow
{
    std::string name;
    std::function<std::string()> make;
    TSoundLoad result;
    double minSeconds, maxSeconds; // of the decoded wave, when Loaded
};

std::string twoSecondsOf(const std::string& name, const std::vector<std::string>& args)
{
    return Ffmpeg(WriteOnsetSine(name + ".wav", 44100, 2, 2), args, name);
}

Bytes randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(count);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random());
    return out;
}

// Half a second of a float wave at any rate, as a header may claim one.
std::string floatWaveAt(const std::string& name, unsigned rate)
{
    TWaveFormatEx format = PcmFormat(1, rate, 32);
    format.wFormatTag = 3;
    Bytes samples;
    for (int i = 0; i < 4000; ++i) {
        const float v = static_cast<float>(i % 40) / 40.0F;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        samples.insert(samples.end(), p, p + 4);
    }
    return WriteBytes(name, CanonicalWave(format, samples));
}

class DecodeBadInput : public testing::TestWithParam<BadRow>
{
};

TEST_P(DecodeBadInput, NeverCrashesAndReadsWhatCanBeRead)
{
    const BadRow& row = GetParam();
    TWave wave;
    const Bytes before = {1, 2, 3};
    LoadBytes(wave, before);
    ASSERT_EQ(DecodeSoundFile(row.make(), wave), row.result);
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
        BadRow{"empty_mp3", [] { return WriteBytes("vide.mp3", {}); }, TSoundLoad::NotSound, 0, 0},
        BadRow{"random_mp3", [] { return WriteBytes("hasard.mp3", randomBytes(50000, 7)); },
               TSoundLoad::NotSound, 0, 0},
        // A rate no sound has, which the resampler would take minutes to prepare for; the highest one taken.
        BadRow{"rate_of_a_gigahertz_wav", [] { return floatWaveAt("gigahertz.wav", 1445093888); },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"rate_of_384_khz_wav", [] { return floatWaveAt("384khz.wav", 384000); }, TSoundLoad::Loaded,
               0.0104, 0.0105},
        BadRow{"video_without_sound_mp4",
               [] {
                   RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc=d=1:s=64x48:r=10", "-c:v", "mpeg4", SoundPath("muet.mp4")});
                   return SoundPath("muet.mp4");
               },
               TSoundLoad::NotSound, 0, 0},
        BadRow{"truncated_mp3",
               [] {
                   Bytes mp3 = ReadBytes(twoSecondsOf("entier.mp3", {"-c:a", "libmp3lame"}));
                   mp3.resize(mp3.size() * 2 / 5 + 17); // inside a frame
                   return WriteBytes("tronque.mp3", mp3);
               },
               TSoundLoad::Loaded, 0.7, 0.9},
        BadRow{"header_claims_10_hours_flac",
               [] {
                   Bytes flac = ReadBytes(twoSecondsOf("vrai.flac", {"-c:a", "flac"}));
                   // STREAMINFO's total sample count: 36 bits across bytes 21 to 26.
                   const std::uint64_t total = 10ULL * 3600 * 44100;
                   flac[21] = static_cast<std::uint8_t>((flac[21] & 0xF0) | (total >> 32));
                   for (int k = 0; k < 4; ++k)
                       flac[22 + k] = static_cast<std::uint8_t>(total >> (24 - 8 * k));
                   return WriteBytes("dix-heures.flac", flac);
               },
               TSoundLoad::Loaded, 2, 2},
        BadRow{"header_claims_10_hours_wav",
               [] {
                   Bytes wav = ReadBytes(twoSecondsOf("flottant.wav", {"-c:a", "pcm_f32le"}));
                   const auto data =
                       std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1);
                   std::fill(data + 4, data + 8, 0xF0); // more than 10 hours of stereo floats
                   return WriteBytes("dix-heures.wav", wav);
               },
               TSoundLoad::Loaded, 2, 2},
        BadRow{"corrupt_frame_in_the_middle_flac",
               [] {
                   Bytes flac = ReadBytes(twoSecondsOf("abime.flac", {"-c:a", "flac"}));
                   const Bytes noise = randomBytes(300, 3);
                   std::copy(noise.begin(), noise.end(),
                             flac.begin() + static_cast<std::ptrdiff_t>(flac.size() / 2));
                   return WriteBytes("abime-milieu.flac", flac);
               },
               TSoundLoad::Loaded, 1.8, 2}),
    [](const testing::TestParamInfo<BadRow>& info) { return info.param.name; });

TEST(DecodeSoundFile, FilesThatCannotBeOpenedRaiseTheOpenError)
{
    const std::string pipe = SoundPath("tube.mp3");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    TWave wave;
    EXPECT_THROW(DecodeSoundFile(pipe, wave), EFOpenError); // with no writer it would wait for ever
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
    options.MaxDataBytes = 2 * 44100 * 4 - 4; // one frame short of what it holds
    try {
        DecodeSoundFile(flac, wave, options);
        ADD_FAILURE() << "no error";
    } catch (const ESoundTooLongError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Le fichier " + flac +
                      " est trop long pour être ouvert : une fois décodé, il dépasserait 4 Go.");
    }
    EXPECT_EQ(wave.Size(), 0u);
    options.MaxDataBytes += 4;
    EXPECT_EQ(DecodeSoundFile(flac, wave, options), TSoundLoad::Loaded);
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
        std::size_t calls = 0;
        options.Progress = [&](double) { return calls++ < stopAt; };
        EXPECT_EQ(DecodeSoundFile(mp3, wave, options), TSoundLoad::Cancelled);
        EXPECT_EQ(calls, stopAt + 1);
        EXPECT_EQ(WaveBytes(wave), loaded) << stopAt;
    }
}

// ---- The fold in place ---------------------------------------------------------------------------------

TEST(FoldStereoInPlace, GivesTheBytesOfTheWavesOwnConversionAndLeavesOtherWavesAlone)
{
    std::mt19937 random(5);
    SampleVector samples = {-32768, -32768, 32767, 32767, -32768, 32767, -1, 0, -1, -2, 1, 0, 3, -4};
    for (int i = 0; i < 20000; ++i)
        samples.push_back(static_cast<std::int16_t>(random()));
    const Bytes pcm = Pcm16(samples);
    Bytes odd = pcm;
    odd.push_back(0x55); // a last partial frame, which a conversion leaves out
    std::vector<std::pair<std::string, Bytes>> folded = {
        {"chunks before the data",
         RiffBuilder().fmt(PcmFormat(2, 44100, 16), 18).chunk("LIST", Bytes(12, 'x')).data(pcm).build()},
        {"partial last frame", RiffBuilder().fmt(PcmFormat(2, 22050, 16)).data(odd).build()},
        {"no sample", CanonicalWave(PcmFormat(2, 48000, 16), {})}};
    for (const unsigned rate : {8000U, 11025U, 22050U, 44100U, 48000U})
        folded.emplace_back(std::to_string(rate), CanonicalWave(PcmFormat(2, rate, 16), pcm));
    for (const auto& [name, image] : folded) {
        SCOPED_TRACE(name);
        TWave inPlace;
        TWave converted;
        LoadBytes(inPlace, image);
        LoadBytes(converted, image);
        ASSERT_TRUE(converted.ConvertToPCM(static_cast<TPCMFormat>(converted.PCMFormat() - 1)));
        ASSERT_TRUE(FoldStereoInPlace(inPlace));
        EXPECT_EQ(WaveBytes(inPlace), WaveBytes(converted));
        EXPECT_EQ(inPlace.Capacity(), inPlace.Size()); // nothing of the stereo image kept beside
    }
    for (const Bytes& image :
         {CanonicalWave(PcmFormat(1, 44100, 16), pcm), CanonicalWave(PcmFormat(2, 44100, 8), pcm),
          CanonicalWave(PcmFormat(2, 32000, 16), pcm), Bytes(100, 7)}) {
        TWave wave;
        LoadBytes(wave, image);
        EXPECT_FALSE(FoldStereoInPlace(wave));
        EXPECT_EQ(WaveBytes(wave), image);
    }
}

} // namespace
