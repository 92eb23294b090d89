// Loading an hour-long recording and converting it, against a plain read of the file and against sox.
//   bench_audio DATA_FOLDER            generates the test file once, then prints times, ratios and memory
//   bench_audio --memory OP FILE       (internal) one operation in a fresh process: load, mono44 or mono22
#include "audio/WaveStorage.h"
#include "bench/BenchUtils.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Runs = 5;
constexpr int SoxRuns = 3;

// One hour of 44100 Hz 16-bit stereo: two tones with a slow beat and some noise, so that nothing in
// the chain can take a shortcut on silence or on a pure tone.
void generateRecording(const std::string& path)
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, Stereo16bit44100Hz);
    const std::uint64_t frames = 44100ULL * 3600;
    TMemoryStream image;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(image, format, riff, data);
    image.SetCapacity(static_cast<std::size_t>(frames * 4 + 64));
    std::vector<std::int16_t> block(2 * 65536);
    std::uint32_t noise = 12345;
    for (std::uint64_t done = 0; done < frames;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(65536, frames - done));
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / 44100.0;
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.02;
            const double beat = 0.6 + 0.3 * std::sin(2 * M_PI * 0.2 * t);
            block[2 * i] =
                static_cast<std::int16_t>(32767 * (beat * 0.5 * std::sin(2 * M_PI * 440 * t) + hiss));
            block[2 * i + 1] =
                static_cast<std::int16_t>(32767 * (beat * 0.5 * std::sin(2 * M_PI * 660 * t) - hiss));
        }
        handle->Write(block.data(), n * 4);
        done += n;
    }
    EndWaveWriting(std::move(handle), riff, data);
    image.SaveToFile(path);
}

// The reference for loading: the whole file read into a block allocated once at its size.
std::size_t plainRead(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st
    {
    };
    ::fstat(fd, &st);
    const auto size = static_cast<std::size_t>(st.st_size);
    std::unique_ptr<char, void (*)(void*)> block(static_cast<char*>(std::malloc(size)), std::free);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, block.get() + done, size - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return done;
}

int memoryMode(const std::string& op, const std::string& path)
{
    const long long base = ResidentBytes();
    TWave wave;
    wave.LoadFromFile(path);
    const long long input = static_cast<long long>(wave.Size());
    long long output = 0;
    if (op == "mono44" || op == "mono22") {
        if (!wave.ConvertToPCM(op == "mono44" ? Mono16bit44100Hz : Mono16bit22050Hz))
            return 1;
        output = static_cast<long long>(wave.Size());
    }
    std::printf("%lld %lld %lld\n", PeakResidentBytes() - base, input, output);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--memory") == 0)
        return memoryMode(argv[2], argv[3]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DATA_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string input = folder + "/hour-stereo-44100.wav";
    if (::access(input.c_str(), R_OK) != 0) {
        std::printf("Generating %s (60 minutes, stereo, 16 bits, 44100 Hz)...\n", input.c_str());
        generateRecording(input);
    }
    plainRead(input); // warm the page cache

    std::printf("\n== Loading and converting a 60-minute stereo recording (median of %d runs) ==\n", Runs);
    const double read = MedianSeconds(Runs, [&] { plainRead(input); });
    const double load = MedianSeconds(Runs, [&] {
        TWave wave;
        wave.LoadFromFile(input);
        if (!wave.Valid())
            std::abort();
    });
    PrintRow("TWave::LoadFromFile", load, read, "read() into one block", 1.3);

    const bool sox = ToolAvailable("sox");
    TWave wave;
    const auto reload = [&] { wave.LoadFromFile(input); };
    const double mono44 = MedianSeconds(
        Runs, [&] { wave.ConvertToPCM(Mono16bit44100Hz); }, reload);
    const double sox44 =
        sox ? MedianCommandSeconds(SoxRuns, {"sox", input, "-c", "1", folder + "/sox-mono-44100.wav"}) : -1;
    PrintRow("ConvertToPCM(Mono16bit44100Hz)", mono44, sox44, "sox -c 1", 0.5);

    const double mono22 = MedianSeconds(
        Runs, [&] { wave.ConvertToPCM(Mono16bit22050Hz); }, reload);
    const double sox22 = sox ? MedianCommandSeconds(SoxRuns, {"sox", input, "-r", "22050", "-c", "1",
                                                              folder + "/sox-mono-22050.wav"})
                             : -1;
    PrintRow("ConvertToPCM(Mono16bit22050Hz)", mono22, sox22, "sox -r 22050 -c 1", 0.5);

    std::printf("\n== Peak memory, each in a fresh process ==\n");
    const std::string self = argv[0];
    PrintMemoryOf(self, "load", input, "LoadFromFile");
    PrintMemoryOf(self, "mono44", input, "LoadFromFile + ConvertToPCM(Mono16bit44100Hz)");
    PrintMemoryOf(self, "mono22", input, "LoadFromFile + ConvertToPCM(Mono16bit22050Hz)");
    return 0;
}
