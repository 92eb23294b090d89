#include "bench/BenchUtils.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long statusField(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(name)) * 1024;
    return -1;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

double MedianSeconds(int runs, const std::function<void()>& work, const std::function<void()>& prepare)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (prepare)
            prepare();
        const double start = now();
        work();
        times.push_back(now() - start);
    }
    return median(times);
}

double RunCommandSeconds(const std::vector<std::string>& argv, double* cpuSeconds)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const double start = now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double elapsed = now() - start;
    if (cpuSeconds)
        *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

double MedianCommandSeconds(int runs, const std::vector<std::string>& argv)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t = RunCommandSeconds(argv);
        if (t < 0)
            return -1;
        times.push_back(t);
    }
    return median(times);
}

long long ResidentBytes()
{
    return statusField("VmRSS:");
}

long long PeakResidentBytes()
{
    return statusField("VmHWM:");
}

std::string RunSelf(const std::string& self, const std::vector<std::string>& args)
{
    std::string command = self;
    for (const std::string& a : args)
        command += " '" + a + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    return got ? std::string(line) : std::string();
}

void PrintMemoryRow(const std::string& what, long long peak, long long budget)
{
    const double ratio = static_cast<double>(peak) / static_cast<double>(budget);
    std::printf("%-44s peak %7.1f MB   input + output %7.1f MB   ratio %5.2fx  (target <= 1.10x: %s)\n",
                what.c_str(), static_cast<double>(peak) / 1e6, static_cast<double>(budget) / 1e6, ratio,
                ratio <= 1.10 ? "ok" : "MISSED");
}

void PrintMemoryOf(const std::string& self, const std::string& op, const std::string& file,
                   const std::string& what)
{
    long long peak = 0;
    long long input = 0;
    long long output = 0;
    const std::string line = RunSelf(self, {"--memory", op, file});
    if (std::sscanf(line.c_str(), "%lld %lld %lld", &peak, &input, &output) != 3) {
        std::printf("%-44s failed\n", what.c_str());
        return;
    }
    PrintMemoryRow(what, peak, input + output);
}

FreshOpen OpenInFreshProcess(const std::string& self, const std::string& mode, const std::string& file)
{
    FreshOpen run;
    const std::string line = RunSelf(self, {mode, file});
    if (std::sscanf(line.c_str(), "%lf %lld %lld", &run.seconds, &run.peak, &run.bytes) != 3)
        return {};
    return run;
}

FreshOpen MedianOpen(std::vector<FreshOpen> runs)
{
    if (runs.empty() ||
        std::any_of(runs.begin(), runs.end(), [](const FreshOpen& r) { return r.seconds < 0; }))
        return {};
    std::sort(runs.begin(), runs.end(),
              [](const FreshOpen& a, const FreshOpen& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

void PrintFreshOpen(double seconds, long long peak, long long bytes)
{
    std::printf("%.6f %lld %lld\n", seconds, peak, bytes);
}

bool ToolAvailable(const std::string& name)
{
    return RunCommandSeconds({"sh", "-c", "command -v " + name}) >= 0;
}

void PrintRow(const std::string& what, double ours, double reference, const std::string& referenceName,
              double target)
{
    if (reference > 0) {
        const double ratio = ours / reference;
        std::printf("%-44s %8.3f s   %-22s %8.3f s   ratio %5.2fx  (target <= %.2fx: %s)\n", what.c_str(),
                    ours, referenceName.c_str(), reference, ratio, target, ratio <= target ? "ok" : "MISSED");
    } else {
        std::printf("%-44s %8.3f s   %-22s unavailable\n", what.c_str(), ours, referenceName.c_str());
    }
}
