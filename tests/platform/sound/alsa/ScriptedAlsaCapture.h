// A capture card played by a script, for the tests of the ALSA capture backend on ALSA's "null" device:
// each read takes what the next step says (frames of a known byte pattern, or an error), and once the
// script is spent a last step repeats for ever. The pattern runs on across errors and counts only what
// was delivered, so a recording must equal its first bytes exactly: a byte lost or read twice shows.
//
// Recoveries go to ALSA for real (on the null device), so the backend sees what ALSA answers for each
// error. Waits answer at once, as a plugin that says "ready" and then has nothing would: the worst case
// for a retry loop.
#pragma once

#include "platform/sound/alsa/AlsaPcm.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class ScriptedCapture : public AlsaCaptureCalls
{
public:
    using Clock = std::chrono::steady_clock;

    struct Step
    {
        int error = 0;            // a negative errno to answer, or 0 for frames
        std::uint64_t frames = 0; // frames to deliver, over as many reads as it takes
        bool realTime = false;    // deliver them no faster than the format's rate
        bool endless = false;     // frames for ever
    };
    static Step Frames(std::uint64_t count) { return {0, count, false, false}; }
    static Step Fail(int error) { return {error, 0, false, false}; }
    static Step RealTime() { return {0, 0, true, true}; }

    // Byte k of what the card delivers, whatever the format.
    static std::uint8_t PatternByte(std::uint64_t k)
    {
        return static_cast<std::uint8_t>(k * 131 + (k >> 8) * 7 + (k >> 16) * 13 + 3);
    }

    // rate: frames a second, for the real-time pace.
    ScriptedCapture(std::vector<Step> script, Step then, unsigned rate)
        : m_script(script.begin(), script.end()), m_then(then), m_rate(rate)
    {
    }

    // Replaces what is left of the script, from the next read on.
    void Rescript(std::vector<Step> script, Step then)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_script.assign(script.begin(), script.end());
        m_then = then;
    }

    snd_pcm_sframes_t Read(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames) override
    {
        std::uint64_t count = 0;
        bool realTime = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_reads.push_back(Clock::now());
            Step& step = m_script.empty() ? m_then : m_script.front();
            if (step.error != 0) {
                const int error = step.error;
                if (!m_script.empty())
                    m_script.pop_front();
                m_failedReads.push_back(m_reads.back());
                return error;
            }
            count = step.endless ? frames : std::min<std::uint64_t>(frames, step.frames);
            realTime = step.realTime;
            if (!step.endless) {
                step.frames -= count;
                if (step.frames == 0 && !m_script.empty())
                    m_script.pop_front();
            }
            const auto bytes = static_cast<std::uint64_t>(snd_pcm_frames_to_bytes(pcm, count));
            auto* out = static_cast<std::uint8_t*>(buffer);
            for (std::uint64_t b = 0; b < bytes; ++b)
                out[b] = PatternByte(m_delivered + b);
            m_delivered += bytes;
        }
        if (realTime)
            std::this_thread::sleep_for(std::chrono::microseconds(count * 1000000 / m_rate));
        // A spent script of frames answers as a blocking read that got nothing.
        return static_cast<snd_pcm_sframes_t>(count);
    }

    int Recover(snd_pcm_t* pcm, int error) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_recovered.push_back(error);
        }
        return AlsaCaptureCalls::Recover(pcm, error);
    }

    int Wait(snd_pcm_t* /*pcm*/, int /*timeoutMs*/) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_waits;
        return 1;
    }

    std::size_t Reads() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_reads.size();
    }
    std::vector<Clock::time_point> FailedReads() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_failedReads;
    }
    std::vector<int> Recovered() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_recovered;
    }
    int Waits() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }
    std::uint64_t DeliveredBytes() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_delivered;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<Step> m_script;
    Step m_then;
    const unsigned m_rate;
    std::vector<Clock::time_point> m_reads;
    std::vector<Clock::time_point> m_failedReads;
    std::vector<int> m_recovered;
    int m_waits = 0;
    std::uint64_t m_delivered = 0;
};
