// The service's checks and the virtual device's clock, which every device test relies on.
#include "platform/sound/virtual/VirtualWaveOut.h"

#include <gtest/gtest.h>

namespace {

class VirtualDevice : public testing::Test
{
protected:
    void SetUp() override
    {
        backend = std::make_shared<VirtualWaveOutBackend>();
        SetCurrentWaveOutBackend(backend);
        format = TWaveFormatEx{1, 1, 8000, 16000, 2, 16, 0};
    }
    void TearDown() override { SetCurrentWaveOutBackend(nullptr); }

    std::shared_ptr<VirtualWaveOutBackend> backend;
    TWaveFormatEx format{};
    NotificationQueue queue;
};

TEST_F(VirtualDevice, BuffersComeBackOncePlayedInOrder)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    DeviceNotification n;
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.message, MM_WOM_OPEN);
    std::vector<std::uint8_t> a(1600, 1), b(800, 2);
    WAVEHDR ha{a.data(), 1600}, hb{b.data(), 800};
    EXPECT_EQ(waveOutWrite(h, &ha), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(h, &ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(h, &hb), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hb), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(h, &ha), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    backend->Advance(99); // 1584 bytes: not yet a whole buffer
    EXPECT_FALSE(queue.TryPop(n));
    backend->Advance(1);
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.header, &ha);
    EXPECT_EQ(ha.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    MMTIME t;
    ASSERT_EQ(waveOutGetPosition(h, t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.value, 100u);
    backend->Advance(1000);
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.header, &hb);
    EXPECT_EQ(backend->LastPlayed().size(), 2400u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.message, MM_WOM_CLOSE);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(h, &ha), MMSYSERR_INVALHANDLE);
}

TEST_F(VirtualDevice, ResetHandsEveryBufferBackAndPauseHoldsTheClock)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> a(16000), b(16000);
    WAVEHDR ha{a.data(), 16000}, hb{b.data(), 16000};
    waveOutPrepareHeader(h, &ha);
    waveOutPrepareHeader(h, &hb);
    waveOutWrite(h, &ha);
    waveOutWrite(h, &hb);
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
    backend->Advance(500);
    EXPECT_TRUE(backend->LastPlayed().empty());
    ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
    backend->Advance(500);
    EXPECT_EQ(backend->LastPlayed().size(), 8000u);
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    DeviceNotification n;
    std::vector<WAVEHDR*> back;
    while (queue.TryPop(n))
        if (n.message == MM_WOM_DONE)
            back.push_back(n.header);
    EXPECT_EQ(back, (std::vector<WAVEHDR*>{&ha, &hb}));
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, FailuresAndQueries)
{
    HWAVEOUT h = 0;
    TWaveFormatEx adpcm = format;
    adpcm.wFormatTag = 2;
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &adpcm, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, nullptr, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &format, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    backend->FailNextOpen(MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_ALLOCATED);
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> a(100);
    WAVEHDR ha{a.data(), 100};
    waveOutPrepareHeader(h, &ha);
    backend->FailNextWrite(MMSYSERR_NOMEM);
    EXPECT_EQ(waveOutWrite(h, &ha), MMSYSERR_NOMEM);
    EXPECT_EQ(ha.dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    backend->SetDeviceCount(0);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    std::string text;
    EXPECT_EQ(waveOutGetErrorText(MMSYSERR_BADDEVICEID, text), MMSYSERR_NOERROR);
    EXPECT_EQ(text, WaveErrorText(MMSYSERR_BADDEVICEID));
}

TEST_F(VirtualDevice, RealTimeClockPlaysAtTheChosenSpeed)
{
    HWAVEOUT h = 0;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> a(16000);
    WAVEHDR ha{a.data(), 16000};
    waveOutPrepareHeader(h, &ha);
    waveOutWrite(h, &ha);
    backend->RunInRealTime(20); // one second of sound in 50 ms
    DeviceNotification n;
    bool done = false;
    while (!done && queue.WaitPop(n, std::chrono::seconds(5)))
        done = n.message == MM_WOM_DONE;
    backend->RunInRealTime(0);
    EXPECT_TRUE(done);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

} // namespace
