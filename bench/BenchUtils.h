// Timing, memory and reference-tool helpers shared by the benchmarks.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Median wall-clock seconds of runs calls of work; prepare runs untimed before each call.
double MedianSeconds(int runs, const std::function<void()>& work, const std::function<void()>& prepare = {});

// Wall-clock seconds of a command (argv), its output thrown away; negative when it could not run or failed.
// With cpuSeconds, also the CPU it used (user + system).
double RunCommandSeconds(const std::vector<std::string>& argv, double* cpuSeconds = nullptr);
double MedianCommandSeconds(int runs, const std::vector<std::string>& argv);

// Resident and peak resident memory of this process, in bytes (from /proc/self/status).
long long ResidentBytes();
long long PeakResidentBytes();

// Runs this same program with the arguments given and returns the first line it prints.
std::string RunSelf(const std::string& self, const std::vector<std::string>& args);

// Prints a peak against its budget (input + output), target 1.10x.
void PrintMemoryRow(const std::string& what, long long peak, long long budget);
// Runs this program again with "--memory OP FILE" and prints the row for what it answers: "PEAK INPUT
// OUTPUT".
void PrintMemoryOf(const std::string& self, const std::string& op, const std::string& file,
                   const std::string& what);

// One open measured in a fresh process (this program run again with "MODE FILE", printing
// "SECONDS PEAK BYTES"), where every page it touches is a new one.
struct FreshOpen
{
    double seconds = -1; // negative when the run failed
    long long peak = 0;
    long long bytes = 0; // what the open holds in the end
};
FreshOpen OpenInFreshProcess(const std::string& self, const std::string& mode, const std::string& file);
// The run of median time among runs.
FreshOpen MedianOpen(std::vector<FreshOpen> runs);
// The line such a run prints.
void PrintFreshOpen(double seconds, long long peak, long long bytes);

bool ToolAvailable(const std::string& name);
void PrintRow(const std::string& what, double ours, double reference, const std::string& referenceName,
              double target);
