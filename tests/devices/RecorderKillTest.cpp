// A recording killed with SIGKILL in the middle still leaves a WAV file the program reads, holding what
// was recorded up to the last size update (at most SizeUpdateInterval, 1 s, before the kill), sample
// for sample. The recording runs in a child process (recorder_child), as the program would.
#include "audio/WaveStorage.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStep = 37; // the child's signal: frame i holds ((i * 37) mod 65536) - 32768
constexpr std::uint32_t kRate = 22050;
constexpr std::uint32_t kHeaderBytes = 46;

int Signal(std::uint64_t frame)
{
    return static_cast<int>((frame * kStep) % 65536) - 32768;
}

// The child, killed and reaped whatever happens to the test.
class Child
{
public:
    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }

    // Starts the program with its standard output on a pipe; false when it could not be started.
    bool Start(const std::vector<std::string>& argv)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
        if (rc != 0)
            m_pid = 0;
        return rc == 0;
    }

    // The first line the child prints, waiting at most timeout; empty when none came.
    std::string ReadLine(std::chrono::milliseconds timeout)
    {
        std::string line;
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            pollfd fd{m_out, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) <= 0)
                break;
            char c = 0;
            if (read(m_out, &c, 1) != 1)
                break; // the child is gone
            if (c == '\n')
                return line;
            line += c;
        }
        return {};
    }

    // Kills it and returns the status it ended with.
    int Kill()
    {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
        return status;
    }

private:
    pid_t m_pid = 0;
    int m_out = -1;
};

std::vector<std::uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RecorderKill, AKilledRecordingLeavesAReadableWaveWithTheSoundRecorded)
{
    std::string pattern = testing::TempDir() + "sonalto-kill-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    const std::string file = (folder / "tue.wav").string();

    Child child;
    const auto spawnedAt = Clock::now();
    ASSERT_TRUE(child.Start({SONALTO_RECORDER_CHILD, file, std::to_string(kStep)}))
        << "cannot start " << SONALTO_RECORDER_CHILD;
    ASSERT_EQ(child.ReadLine(30s), "enregistrement") << "the child did not start recording";
    std::this_thread::sleep_for(3s);
    const auto killedAt = Clock::now();
    const int status = child.Kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended before the kill";

    // What the file holds: a valid image, as the program's reader sees it.
    TWave wave;
    wave.LoadFromFile(file);
    ASSERT_TRUE(wave.Valid()) << "the killed recording is not a WAV file the program reads";
    EXPECT_EQ(wave.PCMFormat(), Mono16bit22050Hz);
    ASSERT_EQ(wave.DataOffset(), kHeaderBytes);

    // The sound written, whole frames up to the end of the file, is at least the 3 s less an update
    // interval, and never more than the time the child lived; every sample is the signal's.
    const std::vector<std::uint8_t> bytes = FileBytes(file);
    ASSERT_GE(bytes.size(), kHeaderBytes);
    const std::uint64_t written = (bytes.size() - kHeaderBytes) / 2;
    const double lived = std::chrono::duration<double>(killedAt - spawnedAt).count();
    EXPECT_GE(written, 2u * kRate) << "less than 2 s in the file";
    EXPECT_LE(written, static_cast<std::uint64_t>(lived * kRate)) << "more sound than time went by";
    for (std::uint64_t i = 0; i < written; ++i) {
        const auto sample =
            static_cast<std::int16_t>(bytes[kHeaderBytes + 2 * i] | bytes[kHeaderBytes + 2 * i + 1] << 8);
        ASSERT_EQ(sample, Signal(i)) << "sample " << i << " of " << written;
    }

    // The sizes in the header: brought up to date at most an update interval ago, so they may lag
    // behind the file by that much (and the buffer being written when the interval ran out).
    const std::uint64_t declared = wave.DataSize() / 2;
    EXPECT_GE(declared + kRate + kRate / 10, written) << "the header lags by more than an update interval";
    EXPECT_GE(declared, 2u * kRate - kRate / 10) << "the header says less than 2 s";

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
