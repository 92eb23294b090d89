// The output component and the players on the virtual device: the buffer protocol, the order of the
// events, the synchronous stop, errors and their texts.
#include "audio/TestWaves.h"
#include "devices/WavePlayers.h"
#include "platform/io/ExceptionHandler.h"
#include "platform/sound/virtual/VirtualWaveOut.h"

#include <QCoreApplication>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Delivers what the devices posted to the GUI thread.
void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

// A player that lets the test see its buffers and call its open directly.
class ProbePlayer : public TAudioPlayer
{
public:
    using TAudioPlayer::ActiveBufferCount;
    using TAudioPlayer::InternalOpen;
};

class PlayerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        device = std::make_shared<VirtualWaveOutBackend>();
        SetCurrentWaveOutBackend(device);
    }
    void TearDown() override { SetCurrentWaveOutBackend(nullptr); }

    // Records the events of a player in order.
    void watch(TWaveAudioIO& player)
    {
        player.OnActivate = [this](TWaveAudioIO*) { events.push_back("activate"); };
        player.OnDeactivate = [this](TWaveAudioIO*) { events.push_back("deactivate"); };
        player.OnLevel = [this](TWaveAudioIO*, int level) {
            events.push_back("level " + std::to_string(level));
        };
        player.OnPause = [this](TWaveAudioIO*) { events.push_back("pause"); };
        player.OnResume = [this](TWaveAudioIO*) { events.push_back("resume"); };
    }

    // Lets the device play until the player stops (or a minute of sound has gone by).
    void playToEnd(TWaveAudioIO& player, std::uint32_t step = 100)
    {
        for (int i = 0; i < 600 && player.Active(); ++i) {
            device->Advance(step);
            pump();
        }
    }

    int count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

    std::shared_ptr<VirtualWaveOutBackend> device;
    std::vector<std::string> events;
};

// Mono 16-bit at 8000 Hz (16000 bytes per second), sample i = i.
std::unique_ptr<TWave> rampWave(std::size_t samples)
{
    return MakeWave(PcmFormat(1, 8000, 16), Staircase16(samples, 1));
}

Bytes dataOf(TWave& wave)
{
    return Bytes(wave.Data(), wave.Data() + wave.DataSize());
}

TEST_F(PlayerTest, WaveShorterThanOneBuffer_OneBufferThenOneDeactivate)
{
    auto wave = rampWave(4000); // half a second
    ProbePlayer player;
    watch(player);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    EXPECT_TRUE(player.Active());
    EXPECT_EQ(player.ActiveBufferCount(), 1); // the second request found no data and started the drain
    playToEnd(player);
    EXPECT_FALSE(player.Active());
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
    EXPECT_EQ(events, (std::vector<std::string>{"activate", "level 12", "level 0", "deactivate"}));
    EXPECT_EQ(player.ActiveBufferCount(), 0);
}

TEST_F(PlayerTest, SeveralBuffers_PlayEveryByteInOrderWithALevelPerBuffer)
{
    // 3.5 s of a ramp whose peak grows: levels 1 s apart.
    std::vector<std::int16_t> s(28000);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(i);
    auto wave = MakeWave(PcmFormat(1, 8000, 16), Pcm16(s));
    TAudioPlayer player;
    watch(player);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    playToEnd(player);
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
    // Peaks 7999, 15999, 23999, 27999 of 32767.
    EXPECT_EQ(events, (std::vector<std::string>{"activate", "level 24", "level 48", "level 73", "level 85",
                                                "level 0", "deactivate"}));
}

TEST_F(PlayerTest, BufferCountLoweredWhilePlaying_KeepsFewerBuffersAndPlaysEverything)
{
    auto wave = rampWave(8000 * 5);
    ProbePlayer player;
    player.SetBufferCount(3);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    EXPECT_EQ(player.ActiveBufferCount(), 3);
    player.SetBufferCount(1);
    for (int i = 0; i < 25; ++i) {
        device->Advance(100);
        pump();
    }
    EXPECT_EQ(player.ActiveBufferCount(), 1);
    playToEnd(player);
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
}

TEST_F(PlayerTest, EmptyDataChunk_ClosesOnceAndDeactivatesOnce)
{
    auto wave = MakeWave(PcmFormat(1, 8000, 16), {});
    TAudioPlayer player;
    watch(player);
    player.SetBufferCount(4);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump(); // four requests, all empty: only the first asks for the close
    pump();
    EXPECT_FALSE(player.Active());
    EXPECT_EQ(count("deactivate"), 1);
    EXPECT_EQ(player.LastError(), MMSYSERR_NOERROR);
    EXPECT_TRUE(device->LastPlayed().empty());
}

TEST_F(PlayerTest, StopWhilePlaying_ReturnsAfterDeactivateWithLevelZero)
{
    auto wave = rampWave(8000 * 10);
    TAudioPlayer player;
    watch(player);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    device->Advance(1500);
    pump();
    events.clear();
    player.SetActive(false);
    EXPECT_FALSE(player.Active());
    EXPECT_EQ(events, (std::vector<std::string>{"level 0", "deactivate"}));
    EXPECT_EQ(device->OpenDevices(), 0);
    player.SetActive(false); // already stopped: nothing
    EXPECT_EQ(count("deactivate"), 1);
}

TEST_F(PlayerTest, NewWaveStopsThePlayerBeforeItsBytesChange)
{
    auto first = rampWave(8000 * 4);
    auto second = MakeWave(PcmFormat(1, 8000, 16), Staircase16(100, 1));
    TAudioPlayer player;
    watch(player);
    player.SetWave(first.get());
    player.SetActive(true);
    pump();
    bool stoppedBeforeChange = false;
    player.OnDeactivate = [&](TWaveAudioIO*) {
        stoppedBeforeChange = player.Wave().DataSize() == first->DataSize();
    };
    player.SetWave(second.get());
    EXPECT_TRUE(stoppedBeforeChange);
    EXPECT_FALSE(player.Active());
    EXPECT_EQ(player.Wave().DataSize(), 200u);
    // Any change of its wave's bytes stops it too.
    player.SetActive(true);
    pump();
    ASSERT_TRUE(player.Active());
    player.Wave().Delete(0, 1); // all its data is at the device already: the stop still waits for it
    EXPECT_FALSE(player.Active());
}

TEST_F(PlayerTest, PauseWhileIdle_NextPlaybackStartsPaused)
{
    auto wave = rampWave(8000);
    TAudioPlayer player;
    watch(player);
    EXPECT_TRUE(player.Pause());
    EXPECT_FALSE(player.Pause()); // already paused
    EXPECT_TRUE(player.Paused());
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    device->Advance(2000);
    pump();
    EXPECT_TRUE(device->LastPlayed().empty());
    EXPECT_TRUE(player.Resume());
    playToEnd(player);
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
    EXPECT_EQ(events.front(), "pause");
    EXPECT_EQ(count("resume"), 1);
}

TEST_F(PlayerTest, PauseWhilePlaying_HoldsTheDeviceUntilResumed)
{
    auto wave = rampWave(8000);
    TAudioPlayer player;
    watch(player);
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    device->Advance(300);
    pump();
    const auto before = device->LastPlayed().size();
    ASSERT_GT(before, 0u);
    EXPECT_TRUE(player.Pause());
    EXPECT_TRUE(player.Paused());
    device->Advance(2000);
    pump();
    EXPECT_EQ(device->LastPlayed().size(), before); // the device itself was paused
    EXPECT_TRUE(player.Active());
    EXPECT_TRUE(player.Resume());
    EXPECT_FALSE(player.Resume()); // already playing
    playToEnd(player);
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
    EXPECT_EQ(count("pause"), 1);
    EXPECT_EQ(count("resume"), 1);
}

TEST_F(PlayerTest, PitchAndRate_AreTheDevicesWhilePlayingAndTheKeptOnesOtherwise)
{
    auto wave = rampWave(8000);
    TAudioPlayer player;
    player.SetWave(wave.get());
    player.SetPitch(1.5);
    player.SetPlaybackRate(2.0);
    EXPECT_DOUBLE_EQ(player.PlaybackRate(), 2.0);
    player.SetOptions(woSetPitch | woSetPlaybackRate);
    player.SetActive(true);
    pump();
    ASSERT_TRUE(player.Active());
    // The virtual output has neither: while it plays, both read as normal and nothing is asked of it.
    EXPECT_DOUBLE_EQ(player.Pitch(), 1.0);
    EXPECT_DOUBLE_EQ(player.PlaybackRate(), 1.0);
    player.SetPlaybackRate(0.5);
    EXPECT_EQ(player.LastError(), MMSYSERR_NOERROR);
    player.SetActive(false);
    EXPECT_DOUBLE_EQ(player.Pitch(), 1.5);
    EXPECT_DOUBLE_EQ(player.PlaybackRate(), 0.5);
}

TEST_F(PlayerTest, EmptyBlockQueuedByHand_IsRefusedAndPlaysNothing)
{
    auto wave = rampWave(16000);
    ProbePlayer player;
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    ASSERT_TRUE(player.Active());
    std::uint8_t sample[2] = {1, 2};
    for (const bool freeIt : {false, true}) {
        EXPECT_FALSE(player.QueueData(sample, 0, freeIt, 0));
        EXPECT_FALSE(player.QueueData(sample, 0, freeIt, 3));
    }
    playToEnd(player);
    EXPECT_EQ(device->LastPlayed(), dataOf(*wave));
}

TEST_F(PlayerTest, StockPlayer_PlaysTheStorageAndRestartsFromTheBeginning)
{
    TWaveStorage storage;
    auto wave = rampWave(8000 * 3);
    storage.SetWave(wave.get());
    TStockAudioPlayer player;
    watch(player);
    EXPECT_THROW(
        {
            try {
                player.Play(0);
            } catch (const EWaveAudioInvalidOperation& e) {
                EXPECT_STREQ(e.what(), "Stock property is not assigned");
                throw;
            }
        },
        EWaveAudioInvalidOperation);
    try {
        player.Stop();
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy close");
    }
    player.SetActive(false); // idle: nothing
    player.SetStock(&storage);
    player.Play(0);
    pump();
    device->Advance(1500);
    pump();
    player.Play(0); // again: a synchronous stop, then from the start
    EXPECT_EQ(count("deactivate"), 1);
    pump();
    playToEnd(player);
    EXPECT_EQ(device->OpenCount(), 2);
    EXPECT_EQ(device->Played(1), dataOf(*wave));
    EXPECT_EQ(count("deactivate"), 2);
}

TEST_F(PlayerTest, OpenWhileOpen_RaisesTheDeviceText)
{
    auto wave = rampWave(8000 * 3);
    ProbePlayer player;
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    try {
        player.InternalOpen();
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy open");
    }
    player.SetActive(true); // same value: nothing
    EXPECT_EQ(device->OpenCount(), 1);
}

TEST_F(PlayerTest, DeviceErrors_RaiseWithoutHandlerAndCallTheHandlerOtherwise)
{
    auto wave = rampWave(800);
    TAudioPlayer player;
    player.SetWave(wave.get());
    device->FailNextOpen(MMSYSERR_ALLOCATED);
    try {
        player.SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioSysError& e) {
        EXPECT_EQ(std::string(e.what()), "Le périphérique audio est déjà utilisé par un autre programme.");
    }
    EXPECT_FALSE(player.Active());

    int errors = 0;
    player.OnError = [&](TWaveAudioIO* sender) {
        ++errors;
        EXPECT_EQ(sender->LastError(), MMSYSERR_ALLOCATED);
    };
    device->FailNextOpen(MMSYSERR_ALLOCATED);
    EXPECT_NO_THROW(player.SetActive(true));
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(player.Active());

    // A wave without a valid header has no format to open with.
    player.OnError = nullptr;
    player.SetWave(nullptr);
    try {
        player.SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioSysError& e) {
        EXPECT_EQ(std::string(e.what()), WaveErrorText(WAVERR_BADFORMAT));
    }
    // No device at all.
    device->SetDeviceCount(0);
    player.SetWave(wave.get());
    EXPECT_THROW(player.SetActive(true), EWaveAudioSysError);
    EXPECT_EQ(player.LastErrorText(), WaveErrorText(MMSYSERR_BADDEVICEID));
}

TEST_F(PlayerTest, SettingsAndFixedPoint)
{
    TAudioPlayer player;
    player.SetBufferLength(5);
    EXPECT_EQ(player.BufferLength(), 10);
    player.SetBufferLength(1000);
    EXPECT_EQ(TWaveAudioIO::ToFixed1616(1.5), 0x00018000u);
    EXPECT_EQ(TWaveAudioIO::ToFixed1616(0.5), 0x00008000u);
    EXPECT_DOUBLE_EQ(TWaveAudioIO::FromFixed1616(0x00018000u), 1.5);
    EXPECT_DOUBLE_EQ(TWaveAudioIO::FromFixed1616(0x0002C000u), 2.75);
    EXPECT_DOUBLE_EQ(player.Pitch(), 1.0);
    player.SetPitch(1.5);
    EXPECT_DOUBLE_EQ(player.Pitch(), 1.5); // stored while idle
    // Volume reaches the device when the option says so.
    auto wave = rampWave(8000);
    player.SetWave(wave.get());
    player.SetOptions(woSetVolume);
    player.SetVolume(50);
    player.SetActive(true);
    pump();
    EXPECT_EQ(device->LastVolume(), 32768u); // 50 % of 65535, rounded
    EXPECT_EQ(player.Volume(), 50);
    EXPECT_EQ(player.DeviceName(), "Sortie virtuelle");
    EXPECT_EQ(player.DeviceFormats().size(), 16u); // no 48000 Hz
    EXPECT_TRUE(player.QueryPCMFormat(Stereo16bit44100Hz));
    EXPECT_FALSE(player.QueryPCMFormat(nonePCM));
    device->Advance(500);
    EXPECT_EQ(player.Position(), 500u);
}

TEST_F(PlayerTest, ExceptionInDeactivateFromTheDeviceReachesTheApplication)
{
    std::vector<std::string> reported;
    SetApplicationExceptionHandler([&](const std::exception& e) { reported.emplace_back(e.what()); });
    auto wave = rampWave(800);
    TAudioPlayer player;
    player.OnDeactivate = [](TWaveAudioIO*) { throw EWaveAudioError("fin"); };
    player.SetWave(wave.get());
    player.SetActive(true);
    pump();
    EXPECT_NO_THROW(playToEnd(player));
    EXPECT_EQ(reported, std::vector<std::string>{"fin"});
    SetApplicationExceptionHandler({});
}

TEST_F(PlayerTest, FormatGivingNoBuffer_IsRefusedWithTheFormatText)
{
    // A byte rate of 0 (or one that overflows the buffer size) leaves no buffer to fill: both players
    // refuse such a format instead of starting.
    for (const std::uint32_t byteRate : {0U, 0x80000000U}) {
        TWaveFormatEx format = PcmFormat(1, 8000, 16);
        format.nAvgBytesPerSec = byteRate;
        auto wave = MakeWave(format, Staircase16(800, 1));
        TWaveStorage storage;
        storage.SetWave(wave.get());
        TAudioPlayer player;
        player.SetWave(wave.get());
        TStockAudioPlayer stock;
        stock.SetStock(&storage);
        for (TWaveAudioIO* p : {static_cast<TWaveAudioIO*>(&player), static_cast<TWaveAudioIO*>(&stock)}) {
            try {
                p->SetActive(true);
                ADD_FAILURE() << "no exception at byte rate " << byteRate;
            } catch (const EWaveAudioSysError& e) {
                EXPECT_EQ(e.what(), WaveErrorText(WAVERR_BADFORMAT));
            }
            EXPECT_FALSE(p->Active());
        }
    }
    EXPECT_EQ(device->OpenCount(), 0);
}

TEST_F(PlayerTest, DestroyedWhilePlaying_TellsNoEvent)
{
    auto wave = rampWave(8000 * 4);
    {
        TAudioPlayer player;
        watch(player);
        player.SetWave(wave.get());
        player.SetActive(true);
        pump();
        device->Advance(500);
        pump();
        events.clear();
    }
    EXPECT_TRUE(events.empty()) << events.front();
    EXPECT_EQ(device->OpenDevices(), 0);
}

TEST_F(PlayerTest, StockLink_IsClearedWhenTheStorageGoes)
{
    TStockAudioPlayer player;
    {
        TWaveStorage storage;
        player.SetStock(&storage);
        EXPECT_EQ(player.Stock(), &storage);
    }
    EXPECT_EQ(player.Stock(), nullptr);
    EXPECT_THROW(player.Play(0), EWaveAudioInvalidOperation);
}

TEST_F(PlayerTest, DeviceThatNeverConfirmsItsStop_CanStillHandBackItsBuffersLater)
{
    auto wave = rampWave(8000 * 4);
    TWaveStorage storage;
    storage.SetWave(wave.get());
    {
        TStockAudioPlayer player;
        watch(player);
        player.CloseTimeout = std::chrono::milliseconds(100);
        player.SetStock(&storage);
        player.SetActive(true);
        pump();
        device->HoldStops(true);
        player.SetActive(false); // taken as stopped after the timeout
        EXPECT_FALSE(player.Active());
        EXPECT_EQ(count("deactivate"), 1);
        // The component is usable again at once.
        device->HoldStops(false);
        player.SetActive(true);
        pump();
        EXPECT_TRUE(player.Active());
        player.SetActive(false);
        EXPECT_EQ(count("deactivate"), 2);
    }
    // The first device wakes up long after the player has gone: what it touches must still be there.
    device->Advance(5000);
    pump();
    const Bytes all = dataOf(*wave);
    EXPECT_EQ(device->Played(0), Bytes(all.begin(), all.begin() + 2 * 16000)); // its two buffers, whole
}

} // namespace
