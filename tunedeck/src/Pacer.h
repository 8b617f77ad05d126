// Spacing of the requests to a device: after each request the next one may
// start only when the delay has passed. One deadline, read and written by the
// one thread that uses the model; no timer thread.
#pragma once

#include <chrono>
#include <cstdint>

class CPacer {
public:
    // Milliseconds; 0 switches pacing off.
    void SetDelay(uint32_t ms) { m_delay = ms; }
    uint32_t GetDelay() const { return m_delay; }

    // After a request: the next one waits for the delay.
    void Start();
    // Before a request: waits until the delay since the last request has
    // passed, at most the current delay.
    void Wait();

private:
    using clock = std::chrono::steady_clock;
    uint32_t m_delay = 0;
    bool m_pending = false;
    clock::time_point m_until;
};
