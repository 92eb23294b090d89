// The players on the real sound outputs, without sound hardware: ALSA's "null" device, and the private
// PulseAudio server that ctest starts for these tests; and the recorder on that server's sources.
#include "audio/TestWaves.h"
#include "devices/WavePlayers.h"
#include "devices/WaveRecorders.h"
#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "support/PulseTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

struct Backend
{
    const char* name;
    std::shared_ptr<WaveOutBackend> (*create)();
};

std::shared_ptr<WaveOutBackend> alsaNull()
{
    return CreateAlsaWaveOutBackend("null");
}

std::shared_ptr<WaveOutBackend> pulse()
{
    // Only the private test server: never the user's own.
    if (!PrivateServerMissing().empty())
        return nullptr;
    return CreatePulseWaveOutBackend();
}

// Why the backend did not come, for the test to fail or skip with.
std::string whyNot(const Backend& backend)
{
    if (backend.create != pulse)
        return std::string(backend.name) + " ne s'ouvre pas";
    const std::string missing = PrivateServerMissing();
    return missing.empty() ? "le serveur de son de test ne répond pas" : missing;
}

class RealBackend : public testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        auto backend = GetParam().create();
        if (!backend)
            SONALTO_WITHOUT_SOUND_SERVER(whyNot(GetParam()));
        SetCurrentWaveOutBackend(backend);
    }
    void TearDown() override { SetCurrentWaveOutBackend(nullptr); }

    // Runs the event loop until the player stops, at most timeoutMs.
    static bool waitInactive(TWaveAudioIO& player, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (player.Active() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20), QThread::msleep(5);
        return !player.Active();
    }
};

TEST_P(RealBackend, ShortWavePlaysToItsEnd)
{
    auto wave = MakeWave(PcmFormat(1, 22050, 16), Sine16(22050 * 3 / 10, 1, 440, 22050, 0.3)); // 300 ms
    TAudioPlayer player;
    player.SetBufferLength(100);
    int deactivations = 0;
    std::vector<int> levels;
    player.OnDeactivate = [&](TWaveAudioIO*) { ++deactivations; };
    player.OnLevel = [&](TWaveAudioIO*, int level) { levels.push_back(level); };
    player.SetWave(wave.get());
    player.SetActive(true);
    ASSERT_TRUE(waitInactive(player, 5000));
    EXPECT_EQ(deactivations, 1);
    ASSERT_GE(levels.size(), 4u); // a level per 100 ms buffer, then 0
    EXPECT_EQ(levels.back(), 0);
    EXPECT_NEAR(levels.front(), 30, 2);
}

TEST_P(RealBackend, StopInTheMiddleReturnsAfterDeactivate)
{
    auto wave = MakeWave(PcmFormat(2, 44100, 16), Sine16(44100 * 5, 2, 440, 44100, 0.3));
    TAudioPlayer player;
    bool activated = false;
    bool deactivated = false;
    player.OnActivate = [&](TWaveAudioIO*) { activated = true; };
    player.OnDeactivate = [&](TWaveAudioIO*) { deactivated = true; };
    player.SetWave(wave.get());
    player.SetActive(true);
    // Once the device has its first buffers ("null" takes them without waiting, a server plays them).
    QElapsedTimer timer;
    timer.start();
    while (!activated && timer.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20), QThread::msleep(5);
    ASSERT_TRUE(activated);
    ASSERT_TRUE(player.Active());
    timer.restart();
    player.SetActive(false);
    EXPECT_TRUE(deactivated);
    EXPECT_FALSE(player.Active());
    EXPECT_LT(timer.elapsed(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Outputs, RealBackend,
                         testing::Values(Backend{"ALSA null", alsaNull}, Backend{"PulseAudio", pulse}),
                         [](const testing::TestParamInfo<Backend>& info) {
                             return std::string(info.param.name[0] == 'A' ? "AlsaNull" : "PulseAudio");
                         });

// ---- Recording through the sound server ------------------------------------------------------------

std::uint32_t le32(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The recorder as the recording window sets it up, recording from the private server's sources.
class PulseRecording : public testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string missing = PrivateServerMissing(); !missing.empty())
            SONALTO_WITHOUT_SOUND_SERVER(missing);
        m_input = CreatePulseWaveInBackend();
        m_output = CreatePulseWaveOutBackend();
        if (!m_input || !m_output)
            SONALTO_WITHOUT_SOUND_SERVER("le serveur de son de test ne répond pas");
        SetCurrentWaveInBackend(m_input);
        SetCurrentWaveOutBackend(m_output);
        std::string pattern = testing::TempDir() + "sonalto-pulse-rec-XXXXXX";
        folder = std::string(mkdtemp(pattern.data())) + "/";
        recorder.SetPCMFormat(Mono16bit22050Hz);
        recorder.SetBufferLength(100);
        recorder.SetBufferCount(2);
        recorder.OnLevel = [this](TWaveAudioIO*, int level) { levels.push_back(level); };
        recorder.OnDeactivate = [this](TWaveAudioIO*) { ++deactivations; };
        recorder.OnError = [this](TWaveAudioIO* sender) {
            errors.emplace_back(sender->LastError(), sender->LastErrorText());
        };
    }

    void TearDown() override
    {
        SelectCaptureSource("");
        SetCurrentWaveInBackend(nullptr);
        SetCurrentWaveOutBackend(nullptr);
    }

    // Handles the recorder's notifications as the program's event loop would, for that long, or until
    // done() holds; whether it does.
    static bool runUntil(const std::function<bool()>& done, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10), QThread::msleep(2);
        return done();
    }

    static void pumpFor(int ms)
    {
        runUntil([] { return false; }, ms);
    }

    // The file is a complete WAV image: sizes that match its length, in the recorder's format.
    void expectCompleteFile(const std::string& name, TWave& wave)
    {
        std::ifstream in(folder + name, std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_GE(bytes.size(), 46u);
        EXPECT_EQ(le32(bytes, 4), bytes.size() - 8) << "taille RIFF";
        EXPECT_EQ(le32(bytes, 42), bytes.size() - 46) << "taille des données";
        wave.LoadFromFile(folder + name);
        ASSERT_TRUE(wave.Valid());
        EXPECT_EQ(wave.PCMFormat(), Mono16bit22050Hz);
        EXPECT_EQ(wave.DataSize(), bytes.size() - 46);
    }

    std::shared_ptr<WaveInBackend> m_input;
    std::shared_ptr<WaveOutBackend> m_output;
    std::string folder;
    std::vector<int> levels;
    int deactivations = 0;
    std::vector<std::pair<MMRESULT, std::string>> errors;
    TStockAudioRecorder recorder;
};

TEST_F(PulseRecording, TheRecorderWritesWhatTheSinkPlaysIntoAValidWave)
{
    SelectCaptureSource("sonalto_null.monitor");
    ASSERT_TRUE(recorder.RecordToFile(folder + "moniteur.wav"));
    ASSERT_TRUE(recorder.Active());
    // Sound comes at once from a sink that runs; a server just started may first render ahead.
    ASSERT_TRUE(runUntil([this] { return !levels.empty(); }, 5000)) << "rien n'est enregistré";
    pumpFor(100);

    // Half a second of 440 Hz at half the full scale, played while recording.
    const TWaveFormatEx format = PcmFormat(1, 22050, 16);
    Bytes tone = Sine16(22050 / 2, 1, 440, 22050, 0.5);
    WAVEHDR header;
    header.lpData = tone.data();
    header.dwBufferLength = static_cast<std::uint32_t>(tone.size());
    NotificationQueue played;
    HWAVEOUT out = 0;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format, &played, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(out, &header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &header), MMSYSERR_NOERROR);
    pumpFor(1000);
    ASSERT_TRUE(recorder.Active()) << (errors.empty() ? std::string() : errors[0].second);
    recorder.Stop();
    EXPECT_FALSE(recorder.Active());
    waveOutReset(out);
    waveOutClose(out);

    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(deactivations, 1);
    ASSERT_GE(levels.size(), 10u) << "un niveau par tampon de 100 ms";
    EXPECT_EQ(levels.back(), 0);
    // Half the full scale; the server's resampling rings a little at the tone's abrupt start.
    EXPECT_NEAR(*std::max_element(levels.begin(), levels.end()), 50, 5);

    TWave wave;
    ASSERT_NO_FATAL_FAILURE(expectCompleteFile("moniteur.wav", wave));
    const std::vector<std::int16_t> samples = Samples16(wave.Data(), wave.DataSize());
    EXPECT_GT(samples.size(), 22050u) << "plus d'une seconde enregistrée";
    // The tone, whole: from the first to the last sample above a quarter of its amplitude.
    std::size_t first = samples.size(), last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 4096)
            first = std::min(first, i), last = i;
    ASSERT_LT(first, last) << "le son joué n'a pas été enregistré";
    EXPECT_NEAR(static_cast<double>(last - first), 22050 / 2.0, 22050 / 50.0);
    int rising = 0;
    double energy = 0;
    for (std::size_t i = first + 1; i <= last; ++i) {
        rising += samples[i - 1] < 0 && samples[i] >= 0;
        energy += static_cast<double>(samples[i]) * samples[i];
    }
    EXPECT_NEAR(rising, 220, 3) << "440 Hz pendant une demi-seconde";
    EXPECT_NEAR(std::sqrt(energy / static_cast<double>(last - first)), 0.5 * 32767 / std::sqrt(2.0), 600);
    for (std::size_t i = 0; i + 100 < first; ++i)
        ASSERT_LT(std::abs(samples[i]), 64) << "avant le son, le silence (échantillon " << i << ")";
}

// A source that goes while recording (a USB microphone pulled out): the recording ends by itself, says
// so once, and the file is complete with what was recorded.
TEST_F(PulseRecording, ARemovedSourceEndsTheRecordingWithACompleteFile)
{
    const auto sink = NullSink("sonalto_debranche", "sonalto_debranche");
    ASSERT_TRUE(sink->Loaded()) << "pactl load-module module-null-sink a échoué";
    SelectCaptureSource("sonalto_debranche.monitor");
    ASSERT_TRUE(recorder.RecordToFile(folder + "debranche.wav"));
    // A new null sink renders its first two seconds at once: wait for sound, then record a little more.
    ASSERT_TRUE(runUntil([this] { return !levels.empty(); }, 5000)) << "rien n'a été enregistré";
    pumpFor(300);
    ASSERT_TRUE(recorder.Active());
    ASSERT_TRUE(sink->Unload());
    ASSERT_TRUE(runUntil([this] { return !recorder.Active(); }, 3000))
        << "l'enregistrement continue sans source";

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, MMSYSERR_BADDEVICEID);
    EXPECT_NE(errors[0].second.find("périphérique audio"), std::string::npos) << errors[0].second;
    EXPECT_EQ(recorder.LastError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(deactivations, 1);
    EXPECT_EQ(levels.back(), 0);
    TWave wave;
    ASSERT_NO_FATAL_FAILURE(expectCompleteFile("debranche.wav", wave));
    EXPECT_GE(wave.DataSize(), 2u * 22050 / 10) << "au moins un tampon";
    EXPECT_THROW(recorder.Stop(), EWaveAudioInvalidOperation);
}

} // namespace
