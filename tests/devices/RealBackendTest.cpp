// The players on the real sound outputs, without sound hardware: ALSA's "null" device, and the private
// PulseAudio server that ctest starts for these tests.
#include "audio/TestWaves.h"
#include "devices/WavePlayers.h"
#include "platform/AlsaWaveOut.h"
#include "platform/PulseWaveOut.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <gtest/gtest.h>

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
    if (!std::getenv("SONALTO_TEST_PULSE_DIR"))
        return nullptr;
    return CreatePulseWaveOutBackend();
}

class RealBackend : public testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        auto backend = GetParam().create();
        if (!backend)
            GTEST_SKIP() << GetParam().name << " : pas de serveur de son de test ici";
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

} // namespace
