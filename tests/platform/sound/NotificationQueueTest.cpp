#include "platform/sound/WaveDevice.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

TEST(NotificationQueue, AMillionNotificationsInBurstsArriveInOrder)
{
    constexpr std::uint32_t total = 1000000;
    std::atomic<int> wakes{0};
    NotificationQueue queue([&] { ++wakes; });
    std::thread backend([&] {
        std::mt19937 random(7);
        std::uint32_t sent = 0;
        while (sent < total) {
            const std::uint32_t burst = std::min<std::uint32_t>(total - sent, random() % 500 + 1);
            for (std::uint32_t i = 0; i < burst; ++i, ++sent)
                queue.Push(sent, reinterpret_cast<WAVEHDR*>(static_cast<std::uintptr_t>(sent) * 8));
            if (random() % 4 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
        }
    });
    std::uint32_t expected = 0;
    DeviceNotification n;
    while (expected < total) {
        if (expected % 3 == 0 ? queue.WaitPop(n, std::chrono::seconds(10)) : queue.TryPop(n)) {
            ASSERT_EQ(n.message, expected);
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(n.header), static_cast<std::uintptr_t>(expected) * 8);
            ++expected;
        }
    }
    backend.join();
    EXPECT_FALSE(queue.TryPop(n));
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(wakes.load(), static_cast<int>(total));
}

TEST(NotificationQueue, WaitPopTimesOutOnAnEmptyQueue)
{
    NotificationQueue queue;
    DeviceNotification n;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.WaitPop(n, std::chrono::milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

TEST(WaveErrorText, EveryCodeTheDevicesReturnHasAFrenchText)
{
    for (MMRESULT code :
         {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_NOTENABLED, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
          MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_NOTSUPPORTED, MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM,
          WAVERR_BADFORMAT, WAVERR_STILLPLAYING, WAVERR_UNPREPARED})
        EXPECT_FALSE(WaveErrorText(code).empty()) << code;
    EXPECT_TRUE(WaveErrorText(12345).empty());
}

} // namespace
