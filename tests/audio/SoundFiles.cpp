#include "audio/SoundFiles.h"

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::string SoundFolder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sonalto-sounds-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no temporary folder for the sound files");
        static const std::string made = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return pattern + "/";
    }();
    return folder;
}

std::string SoundPath(const std::string& name)
{
    return SoundFolder() + name;
}

void RunTool(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string log = SoundPath("tool.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error(argv[0] + " cannot run: install it with scripts/setup.sh");
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        ;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::ifstream in(log);
        const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string command;
        for (const std::string& a : argv)
            command += a + " ";
        throw std::runtime_error(command + "failed:\n" + output);
    }
}

namespace {

SampleVector onsetSine(unsigned rate, unsigned channels, double seconds)
{
    const auto frames = static_cast<std::size_t>(std::lround(seconds * rate));
    const std::size_t silent = rate / 4;
    SampleVector out;
    out.reserve(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double v =
            i < silent ? 0.0
                       : std::sin(2 * std::numbers::pi * OnsetHz * static_cast<double>(i - silent) / rate);
        for (unsigned c = 0; c < channels; ++c)
            out.push_back(
                static_cast<std::int16_t>(std::lround(v * (c == 0 ? FirstAmplitude : SecondAmplitude))));
    }
    return out;
}

} // namespace

std::string WriteBytes(const std::string& name, const Bytes& bytes)
{
    const std::string path = SoundPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WriteOnsetSine(const std::string& name, unsigned rate, unsigned channels, double seconds)
{
    return WriteBytes(
        name, CanonicalWave(PcmFormat(channels, rate, 16), Pcm16(onsetSine(rate, channels, seconds))));
}

std::string Ffmpeg(const std::string& input, const std::vector<std::string>& args, const std::string& output)
{
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", input};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(SoundPath(output));
    RunTool(argv);
    return SoundPath(output);
}

std::string Lame(const std::string& input, const std::vector<std::string>& args, const std::string& output)
{
    std::vector<std::string> argv = {"lame", "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(input);
    argv.push_back(SoundPath(output));
    RunTool(argv);
    return SoundPath(output);
}

SignalMeasure Measure(const SampleVector& interleaved, unsigned channels, unsigned channel, unsigned rate,
                      int amplitude)
{
    SignalMeasure m;
    const std::size_t frames = interleaved.size() / channels;
    const auto at = [&](std::size_t i) { return static_cast<int>(interleaved[i * channels + channel]); };
    m.onset = frames;
    for (std::size_t i = 0; i < frames; ++i)
        if (std::abs(at(i)) >= amplitude / 2) {
            m.onset = i;
            break;
        }
    // A tenth of a second away from the onset and from the end, where codecs smear.
    const std::size_t from = m.onset + rate / 10;
    const std::size_t to = frames > rate / 10 ? frames - rate / 10 : 0;
    if (from >= to)
        return m;
    double sum = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(at(i)) * at(i);
        if (i > from && at(i - 1) < 0 && at(i) >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    m.level = std::sqrt(sum / static_cast<double>(to - from));
    if (crossings > 1)
        m.frequency = (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
    return m;
}

SampleVector WaveSamples(const TWave& wave)
{
    return Samples16(wave.Data(), wave.DataSize());
}
