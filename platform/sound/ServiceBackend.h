// The backend a sound service (output, input, mixer) uses: chosen once, at first use, by the service's
// probe; a test installs another before any device is opened.
//
// Threads: Current and Set may be called from any thread; the mutex guards the choice.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

template <typename Backend> class ServiceBackend
{
public:
    using Probe = std::shared_ptr<Backend> (*)();
    explicit ServiceBackend(Probe probe) : m_probe(probe) {}

    Backend& Current()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_current)
            m_current = m_probe();
        return *m_current;
    }
    void Set(std::shared_ptr<Backend> backend)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_current = std::move(backend);
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<Backend> m_current;
    Probe m_probe;
};
