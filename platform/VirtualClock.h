// The clock of the virtual sound devices when a test lets them run by themselves: a thread that advances
// them every 5 ms by speed times the real time gone by.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

class VirtualClock
{
public:
    ~VirtualClock() { Stop(); }

    void Run(double speed, std::function<void(std::uint32_t ms)> advance)
    {
        Stop();
        if (speed <= 0)
            return;
        m_running = true;
        m_thread = std::thread([this, speed, advance = std::move(advance)] {
            double carried = 0;
            while (m_running) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                carried += 5 * speed;
                const auto whole = static_cast<std::uint32_t>(carried);
                carried -= whole;
                if (whole > 0)
                    advance(whole);
            }
        });
    }

    void Stop()
    {
        if (m_running.exchange(false) && m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
