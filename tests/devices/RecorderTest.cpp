// The recorder on the virtual input device: what reaches the file, the events, errors and a full disk.
// Then on ALSA's null device with its reads scripted: a card that overruns, or that fails for good.
#include "audio/TestWaves.h"
#include "devices/WaveRecorders.h"
#include "platform/io/ExceptionHandler.h"
#include "platform/sound/alsa/AlsaWaveIn.h"
#include "platform/sound/alsa/ScriptedAlsaCapture.h"
#include "platform/sound/virtual/VirtualWaveIn.h"

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>
#include <thread>
#include <unistd.h>

namespace {

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

class ProbeRecorder : public TStockAudioRecorder
{
public:
    using TStockAudioRecorder::ActiveBufferCount;
};

// A stream that takes only so many bytes, as a disk that fills up.
class FullingStream : public TMemoryStream
{
public:
    explicit FullingStream(std::size_t room) : m_room(room) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::size_t n =
            Position() + count <= m_room ? count : (m_room > Position() ? m_room - Position() : 0);
        return n == 0 ? 0 : TMemoryStream::Write(buffer, n);
    }

private:
    std::size_t m_room;
};

class RecorderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        device = std::make_shared<VirtualWaveInBackend>();
        device->SetSignal(
            [](std::uint64_t frame, unsigned) { return static_cast<int>(frame % 20000) - 10000; });
        SetCurrentWaveInBackend(device);
        std::string pattern = testing::TempDir() + "sonalto-rec-XXXXXX";
        folder = std::string(mkdtemp(pattern.data())) + "/";
        recorder.SetPCMFormat(Mono16bit22050Hz);
        recorder.SetBufferLength(100);
        recorder.OnActivate = [this](TWaveAudioIO*) { events.push_back("activate"); };
        recorder.OnDeactivate = [this](TWaveAudioIO*) { events.push_back("deactivate"); };
        recorder.OnLevel = [this](TWaveAudioIO*, int level) {
            events.push_back("level " + std::to_string(level));
        };
    }
    void TearDown() override { SetCurrentWaveInBackend(nullptr); }

    void record(std::uint32_t ms)
    {
        for (std::uint32_t t = 0; t < ms; t += 50) {
            device->Advance(50);
            pump();
        }
    }

    static std::vector<std::int16_t> samplesOf(TWave& wave)
    {
        return Samples16(wave.Data(), wave.DataSize());
    }

    std::shared_ptr<VirtualWaveInBackend> device;
    ProbeRecorder recorder;
    std::string folder;
    std::vector<std::string> events;
};

TEST_F(RecorderTest, ARecordingHoldsTheSignalSampleForSample)
{
    ASSERT_TRUE(recorder.RecordToFile(folder + "rec.wav"));
    pump();
    EXPECT_TRUE(recorder.Active());
    record(1000);
    recorder.Stop();
    EXPECT_FALSE(recorder.Active());
    TWave wave;
    wave.LoadFromFile(folder + "rec.wav");
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.PCMFormat(), Mono16bit22050Hz);
    const auto s = samplesOf(wave);
    ASSERT_EQ(s.size(), 22050u); // no buffer lost
    for (std::size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(s[i], static_cast<int>(i % 20000) - 10000) << i;
    // Level reports per buffer, a last 0, then the end.
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), "activate");
    EXPECT_EQ(events[events.size() - 2], "level 0");
    EXPECT_EQ(events.back(), "deactivate");
}

// A level handler that lets the application run its pending events while the card delivers more: the
// buffers still reach the file in the order they were recorded.
TEST_F(RecorderTest, ALevelHandlerRunningPendingEventsKeepsTheBuffersInOrder)
{
    recorder.SetBufferCount(4);
    int delivered = 0;
    recorder.OnLevel = [this, &delivered](TWaveAudioIO*, int) {
        if (++delivered <= 10)
            device->Advance(100);
        QCoreApplication::processEvents();
    };
    ASSERT_TRUE(recorder.RecordToFile(folder + "rec.wav"));
    pump();
    record(500);
    recorder.OnLevel = nullptr;
    recorder.Stop();
    TWave wave;
    wave.LoadFromFile(folder + "rec.wav");
    ASSERT_TRUE(wave.Valid());
    const auto s = samplesOf(wave);
    ASSERT_GE(s.size(), 22050u / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(s[i], static_cast<int>(i % 20000) - 10000) << i;
}

TEST_F(RecorderTest, PausedTheDeviceRecordsNothingUntilResumed)
{
    recorder.OnPause = [this](TWaveAudioIO*) { events.push_back("pause"); };
    recorder.OnResume = [this](TWaveAudioIO*) { events.push_back("resume"); };
    ASSERT_TRUE(recorder.RecordToFile(folder + "pause.wav"));
    pump();
    EXPECT_EQ(recorder.DeviceName(), "Entrée virtuelle");
    EXPECT_EQ(recorder.DeviceFormats().size(), 16u);
    record(500);
    EXPECT_EQ(recorder.Position(), 500u);
    EXPECT_TRUE(recorder.Pause());
    EXPECT_FALSE(recorder.Pause()); // already paused
    record(1000);
    EXPECT_EQ(recorder.Position(), 500u);
    EXPECT_TRUE(recorder.Resume());
    record(500);
    recorder.Stop();
    TWave wave;
    wave.LoadFromFile(folder + "pause.wav");
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(samplesOf(wave).size(), 22050u); // the two halves, nothing from the pause
    EXPECT_EQ(std::count(events.begin(), events.end(), "pause"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "resume"), 1);
}

TEST_F(RecorderTest, TheFileIsAValidWaveWhileRecording)
{
    recorder.SizeUpdateInterval = std::chrono::milliseconds(0);
    ASSERT_TRUE(recorder.RecordToFile(folder + "live.wav"));
    pump();
    record(500);
    TWave wave;
    wave.LoadFromFile(folder + "live.wav"); // as a crash would leave it
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 22050u); // the five buffers written so far, sizes up to date
    EXPECT_EQ(wave.Size(), 46u + 22050u);
    recorder.Stop();
}

TEST_F(RecorderTest, StoppedAtOnceGivesAnEmptyValidWave)
{
    ASSERT_TRUE(recorder.RecordToFile(folder + "vide.wav"));
    pump();
    recorder.Stop();
    TWave wave;
    wave.LoadFromFile(folder + "vide.wav");
    EXPECT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(std::count(events.begin(), events.end(), "level 0"), 1); // only the closing one
}

TEST_F(RecorderTest, DestroyedWhileRecording_CompletesTheFileAndTellsNoEvent)
{
    {
        ProbeRecorder own;
        own.SetPCMFormat(Mono16bit22050Hz);
        own.SetBufferLength(100);
        own.OnDeactivate = [this](TWaveAudioIO*) { events.push_back("deactivate"); };
        own.OnLevel = [this](TWaveAudioIO*, int level) {
            events.push_back("level " + std::to_string(level));
        };
        ASSERT_TRUE(own.RecordToFile(folder + "fin.wav"));
        pump();
        device->Advance(300);
        pump();
        events.clear();
        // Its storage goes first: the link follows.
        {
            TWaveStorage other;
            own.SetStock(&other);
        }
        EXPECT_EQ(own.Stock(), nullptr);
    }
    EXPECT_TRUE(events.empty()) << events.front();
    TWave wave;
    wave.LoadFromFile(folder + "fin.wav");
    EXPECT_TRUE(wave.Valid());
    EXPECT_GE(wave.DataSize(), 2U * 22050 * 300 / 1000 - 2 * 2205);
}

TEST_F(RecorderTest, WrongStatesRaiseTheirTexts)
{
    try {
        recorder.Stop();
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy close");
    }
    ASSERT_TRUE(recorder.RecordToFile(folder + "f.wav"));
    pump();
    EXPECT_NO_THROW(recorder.SetPCMFormat(Mono16bit22050Hz)); // the same value
    try {
        recorder.SetPCMFormat(Stereo16bit44100Hz);
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Audio format cannot be changed while device is open");
    }
    recorder.Stop();
    EXPECT_THROW(recorder.RecordToFile(folder + "absent/f.wav"), EFCreateError);
    EXPECT_FALSE(recorder.Active());
    device->SetDeviceCount(0);
    EXPECT_THROW(recorder.RecordToFile(folder + "g.wav"), EWaveAudioSysError);
}

TEST_F(RecorderTest, LoweringBufferCountReleasesTheSurplus)
{
    recorder.SetBufferCount(4);
    ASSERT_TRUE(recorder.RecordToFile(folder + "n.wav"));
    pump();
    EXPECT_EQ(recorder.ActiveBufferCount(), 4);
    recorder.SetBufferCount(2);
    record(500);
    EXPECT_EQ(recorder.ActiveBufferCount(), 2);
    recorder.Stop();
}

TEST_F(RecorderTest, AFullDiskStopsTheRecordingOnceAndKeepsWhatWasWritten)
{
    std::vector<std::string> errors;
    SetApplicationExceptionHandler([&](const std::exception& e) { errors.emplace_back(e.what()); });
    auto* stream = new FullingStream(46 + 3 * 4410 + 100); // three buffers and a bit
    ASSERT_TRUE(recorder.RecordToStream(stream, false));
    pump();
    record(1000);
    pump();
    EXPECT_FALSE(recorder.Active());
    EXPECT_EQ(errors.size(), 1u);
    TWave wave;
    wave.LoadFromStream(*stream);
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize() % 2, 0u);
    EXPECT_GE(wave.DataSize(), 3u * 4410);
    SetApplicationExceptionHandler({});
    delete stream;
}

// ---- On ALSA, a card that fails -------------------------------------------------------------------

using namespace std::chrono_literals;
using Step = ScriptedCapture::Step;

constexpr std::uint32_t kBufferFrames = 2205; // 100 ms at 22050 Hz

std::uint32_t le32(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

class AlsaRecorderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "sonalto-alsa-rec-XXXXXX";
        folder = std::string(mkdtemp(pattern.data())) + "/";
        recorder.SetPCMFormat(Mono16bit22050Hz);
        recorder.SetBufferLength(100);
        recorder.OnDeactivate = [this](TWaveAudioIO*) { ++deactivations; };
        recorder.OnLevel = [this](TWaveAudioIO*, int level) { levels.push_back(level); };
    }
    void TearDown() override
    {
        SetApplicationExceptionHandler({});
        SetCurrentWaveInBackend(nullptr);
    }

    void use(std::vector<Step> script, Step then)
    {
        card = std::make_shared<ScriptedCapture>(std::move(script), then, 22050);
        SetCurrentWaveInBackend(CreateAlsaWaveInBackend("null", card));
    }

    // Handles the recorder's notifications as the program's event loop would, for a while or until the
    // recorder is idle; true when it is.
    bool runWhileActive(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (recorder.Active() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::sendPostedEvents();
            std::this_thread::sleep_for(2ms);
        }
        return !recorder.Active();
    }

    Bytes fileBytes(const std::string& name) const
    {
        std::ifstream in(folder + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The file is a complete image: sizes that match its length, and the card's bytes from the first on.
    void expectCompleteFile(const std::string& name, std::uint32_t dataBytes)
    {
        const Bytes bytes = fileBytes(name);
        ASSERT_EQ(bytes.size(), 46u + dataBytes);
        EXPECT_EQ(le32(bytes, 4), bytes.size() - 8) << "RIFF size";
        EXPECT_EQ(le32(bytes, 42), dataBytes) << "data size";
        TWave wave;
        wave.LoadFromFile(folder + name);
        ASSERT_TRUE(wave.Valid());
        EXPECT_EQ(wave.PCMFormat(), Mono16bit22050Hz);
        ASSERT_EQ(wave.DataSize(), dataBytes);
        for (std::uint32_t b = 0; b < dataBytes; ++b)
            ASSERT_EQ(wave.Data()[b], ScriptedCapture::PatternByte(b)) << "byte " << b << " of the data";
    }

    // Before the recorder: its destructor may still report to them.
    std::shared_ptr<ScriptedCapture> card;
    std::string folder;
    int deactivations = 0;
    std::vector<int> levels;
    ProbeRecorder recorder;
};

TEST_F(AlsaRecorderTest, AnOverrunLosesNothingTheCardDeliveredAndReportsNothing)
{
    use({ScriptedCapture::Frames(3000), ScriptedCapture::Fail(-EPIPE)}, ScriptedCapture::RealTime());
    int errors = 0;
    recorder.OnError = [&](TWaveAudioIO*) { ++errors; };
    ASSERT_TRUE(recorder.RecordToFile(folder + "xrun.wav"));
    EXPECT_FALSE(runWhileActive(600ms)) << "the recording ended by itself";
    recorder.Stop();
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(card->Recovered(), std::vector<int>{-EPIPE});
    const Bytes bytes = fileBytes("xrun.wav");
    ASSERT_GE(bytes.size(), 46u + 4 * 2 * kBufferFrames);
    // All that was read, but the chunk under way when the stop came (50 a second).
    EXPECT_LE(card->DeliveredBytes() - (bytes.size() - 46), 2u * 22050 / 50);
    expectCompleteFile("xrun.wav", static_cast<std::uint32_t>(bytes.size() - 46));
    EXPECT_EQ(deactivations, 1);
}

struct Failing
{
    const char* name;
    int error;
    MMRESULT reported;
};

void PrintTo(const Failing& failing, std::ostream* out)
{
    *out << failing.name;
}

class AlsaCardFailure : public AlsaRecorderTest, public testing::WithParamInterface<Failing>
{
};

TEST_P(AlsaCardFailure, EndsTheRecordingWithTheFileCompleteAndSaysSoOnce)
{
    // Three buffers and a part, then the card fails for good.
    constexpr std::uint32_t kKept = 3 * kBufferFrames + 1000;
    use({ScriptedCapture::Frames(kKept)}, ScriptedCapture::Fail(GetParam().error));
    std::vector<std::pair<MMRESULT, std::string>> errors;
    recorder.OnError = [&](TWaveAudioIO* sender) {
        errors.emplace_back(sender->LastError(), sender->LastErrorText());
    };
    ASSERT_TRUE(recorder.RecordToFile(folder + "panne.wav"));
    ASSERT_TRUE(runWhileActive(5s)) << "the recording went on with a card that fails";

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, GetParam().reported);
    EXPECT_EQ(errors[0].second, WaveErrorText(GetParam().reported));
    EXPECT_NE(errors[0].second.find("périphérique audio"), std::string::npos) << errors[0].second;
    // Once idle, the recorder still tells why it stopped.
    EXPECT_EQ(recorder.LastError(), GetParam().reported);
    EXPECT_EQ(recorder.LastErrorText(), errors[0].second);
    EXPECT_EQ(deactivations, 1);
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 0);
    EXPECT_EQ(recorder.ActiveBufferCount(), 0);
    expectCompleteFile("panne.wav", kKept * 2);
    EXPECT_THROW(recorder.Stop(), EWaveAudioInvalidOperation); // nothing left to stop

    // The recorder is whole again: the next recording, on a card that works, goes as usual.
    card->Rescript({}, ScriptedCapture::RealTime());
    ASSERT_TRUE(recorder.RecordToFile(folder + "apres.wav"));
    EXPECT_FALSE(runWhileActive(300ms));
    recorder.Stop();
    EXPECT_EQ(errors.size(), 1u);
    TWave wave;
    wave.LoadFromFile(folder + "apres.wav");
    ASSERT_TRUE(wave.Valid());
    EXPECT_GE(wave.DataSize(), 2u * 2 * kBufferFrames);
}

INSTANTIATE_TEST_SUITE_P(AlsaRecorderTest, AlsaCardFailure,
                         testing::Values(Failing{"Unplugged", -ENODEV, MMSYSERR_BADDEVICEID},
                                         Failing{"InputOutputError", -EIO, MMSYSERR_ERROR},
                                         Failing{"EndlessNothingYet", -EAGAIN, MMSYSERR_ERROR},
                                         Failing{"EndlessOverrun", -EPIPE, MMSYSERR_ERROR}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AlsaRecorderTest, WithoutOnErrorTheFailureReachesTheApplicationOnce)
{
    std::vector<std::string> shown;
    SetApplicationExceptionHandler([&](const std::exception& e) {
        EXPECT_NE(dynamic_cast<const EWaveAudioSysError*>(&e), nullptr);
        shown.emplace_back(e.what());
    });
    use({ScriptedCapture::Frames(1000)}, ScriptedCapture::Fail(-ENODEV));
    ASSERT_TRUE(recorder.RecordToFile(folder + "debranche.wav"));
    ASSERT_TRUE(runWhileActive(5s)) << "the recording went on with a card that is gone";
    EXPECT_EQ(shown, std::vector<std::string>{WaveErrorText(MMSYSERR_BADDEVICEID)});
    EXPECT_EQ(recorder.LastError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(deactivations, 1);
    expectCompleteFile("debranche.wav", 2000);
}

} // namespace
