// Sound files of the formats teachers bring, made while the tests run by the command-line tools the set-up
// installs (ffmpeg, lame, sox, espeak-ng), from a signal whose every sample is known, and the measures that
// tell whether a decode kept that signal: where the sound starts, its level, its frequency.
#pragma once

#include "audio/TestWaves.h"

#include <cstdint>
#include <string>
#include <vector>

using SampleVector = std::vector<std::int16_t>;

// A folder of this test program's own, made once per run.
std::string SoundFolder();
std::string SoundPath(const std::string& name);

// Runs a tool; throws, failing the test, when it is missing or does not succeed: every tool used here is
// installed by the set-up, so its absence is a fault of the machine, not a reason to skip.
void RunTool(const std::vector<std::string>& argv);

// The onset signal: a quarter of a second of silence, then a sine of OnsetHz to the end. The first channel
// has amplitude FirstAmplitude, every other channel SecondAmplitude, so that swapped channels show.
constexpr double OnsetHz = 440;
constexpr int FirstAmplitude = 16384;
constexpr int SecondAmplitude = 8192;
// As a canonical 16-bit WAV file in SoundFolder; returns its path.
std::string WriteOnsetSine(const std::string& name, unsigned rate, unsigned channels, double seconds);

std::string WriteBytes(const std::string& name, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

// ffmpeg -i input ARGS output, output in SoundFolder; returns its path.
std::string Ffmpeg(const std::string& input, const std::vector<std::string>& args, const std::string& output);
// lame ARGS input output.
std::string Lame(const std::string& input, const std::vector<std::string>& args, const std::string& output);

// What a decode kept of one channel of the onset signal.
struct SignalMeasure
{
    std::size_t onset = 0; // the first frame whose sample reaches half the amplitude
    double level = 0;      // RMS over the sine, away from its ends
    double frequency = 0;  // from the rising zero crossings over the same stretch
};
SignalMeasure Measure(const SampleVector& interleaved, unsigned channels, unsigned channel, unsigned rate,
                      int amplitude);

// The samples of a 16-bit wave.
SampleVector WaveSamples(const TWave& wave);
