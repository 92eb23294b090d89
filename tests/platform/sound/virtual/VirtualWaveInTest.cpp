// The input service's checks and the virtual input device the recorder's tests rely on.
#include "platform/sound/virtual/VirtualWaveIn.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class VirtualInput : public testing::Test
{
protected:
    void SetUp() override
    {
        backend = std::make_shared<VirtualWaveInBackend>();
        // Left channel: the frame index; right: its negative.
        backend->SetSignal([](std::uint64_t frame, unsigned channel) {
            const int v = static_cast<int>(frame % 30000);
            return channel == 0 ? v : -v;
        });
        SetCurrentWaveInBackend(backend);
    }
    void TearDown() override { SetCurrentWaveInBackend(nullptr); }

    std::shared_ptr<VirtualWaveInBackend> backend;
    NotificationQueue queue;
};

std::vector<int> samples16(const WAVEHDR& h)
{
    std::vector<int> out;
    for (std::uint32_t i = 0; i + 1 < h.dwBytesRecorded; i += 2)
        out.push_back(static_cast<std::int16_t>(h.lpData[i] | (h.lpData[i + 1] << 8)));
    return out;
}

TEST_F(VirtualInput, BuffersComeBackFilledInOrderWithTheSignal)
{
    const TWaveFormatEx stereo{1, 2, 8000, 32000, 4, 16, 0};
    HWAVEIN h = 0;
    ASSERT_EQ(waveInOpen(&h, -1, &stereo, &queue, 0), MMSYSERR_NOERROR);
    DeviceNotification n;
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.message, MM_WIM_OPEN);
    std::vector<std::uint8_t> a(400), b(400);
    WAVEHDR ha{a.data(), 400}, hb{b.data(), 400};
    EXPECT_EQ(waveInAddBuffer(h, &ha), WAVERR_UNPREPARED);
    waveInPrepareHeader(h, &ha);
    waveInPrepareHeader(h, &hb);
    ASSERT_EQ(waveInAddBuffer(h, &ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, &hb), MMSYSERR_NOERROR);
    backend->Advance(100); // not started: nothing
    EXPECT_FALSE(queue.TryPop(n));
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    backend->Advance(15); // 120 frames: the first buffer (100 frames) and 20 of the second
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.message, MM_WIM_DATA);
    EXPECT_EQ(n.header, &ha);
    EXPECT_EQ(ha.dwBytesRecorded, 400u);
    const std::vector<int> s = samples16(ha);
    for (int f = 0; f < 100; ++f) {
        ASSERT_EQ(s[static_cast<std::size_t>(2 * f)], f);
        ASSERT_EQ(s[static_cast<std::size_t>(2 * f + 1)], -f);
    }
    EXPECT_FALSE(queue.TryPop(n));
    // Stop hands back the buffer being filled with what it holds.
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.header, &hb);
    EXPECT_EQ(hb.dwBytesRecorded, 80u);
    EXPECT_EQ(samples16(hb)[0], 100);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(queue.TryPop(n));
    EXPECT_EQ(n.message, MM_WIM_CLOSE);
    EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
}

TEST_F(VirtualInput, ResetHandsEveryBufferBackAndCloseWaitsForThem)
{
    const TWaveFormatEx mono8{1, 1, 8000, 8000, 1, 8, 0};
    HWAVEIN h = 0;
    ASSERT_EQ(waveInOpen(&h, -1, &mono8, &queue, 0), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> a(100), b(100);
    WAVEHDR ha{a.data(), 100}, hb{b.data(), 100};
    waveInPrepareHeader(h, &ha);
    waveInPrepareHeader(h, &hb);
    waveInAddBuffer(h, &ha);
    waveInAddBuffer(h, &hb);
    EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(h, &ha), WAVERR_STILLPLAYING);
    waveInStart(h);
    backend->Advance(5); // 40 frames of 8-bit mono
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    DeviceNotification n;
    std::vector<WAVEHDR*> back;
    while (queue.TryPop(n))
        if (n.message == MM_WIM_DATA)
            back.push_back(n.header);
    EXPECT_EQ(back, (std::vector<WAVEHDR*>{&ha, &hb}));
    EXPECT_EQ(ha.dwBytesRecorded, 40u);
    EXPECT_EQ(ha.lpData[1], static_cast<std::uint8_t>((1 >> 8) + 128)); // 8-bit: the high byte, offset
    EXPECT_EQ(hb.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualInput, NoDeviceAndRefusals)
{
    const TWaveFormatEx mono16{1, 1, 22050, 44100, 2, 16, 0};
    TWaveFormatEx adpcm = mono16;
    adpcm.wFormatTag = 2;
    EXPECT_EQ(waveInOpen(nullptr, -1, &adpcm, nullptr, 1), WAVERR_BADFORMAT);
    EXPECT_EQ(waveInOpen(nullptr, -1, &mono16, nullptr, 1), MMSYSERR_NOERROR);
    HWAVEIN h = 0;
    backend->FailNextOpen(MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInOpen(&h, -1, &mono16, &queue, 0), MMSYSERR_ALLOCATED);
    // A backend without a device (what the program falls back to with no sound server and no card).
    backend->SetDeviceCount(0);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveInOpen(&h, -1, &mono16, &queue, 0), MMSYSERR_BADDEVICEID);
}

} // namespace
