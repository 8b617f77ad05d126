#include "Pacer.h"

#include <algorithm>
#include <thread>

void CPacer::Start()
{
    if (m_pending || m_delay == 0)
        return;
    m_pending = true;
    m_until = clock::now() + std::chrono::milliseconds(m_delay);
}

void CPacer::Wait()
{
    if (!m_pending)
        return;
    const auto limit = clock::now() + std::chrono::milliseconds(m_delay);
    std::this_thread::sleep_until(std::min(m_until, limit));
    m_pending = false;
}
