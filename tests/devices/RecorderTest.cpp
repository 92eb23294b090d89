// The recorder on the virtual input device: what reaches the file, the events, errors and a full disk.
#include "audio/TestWaves.h"
#include "devices/WaveRecorders.h"
#include "platform/ExceptionHandler.h"
#include "platform/VirtualWaveIn.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
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

} // namespace
