// Thread creation fails while a NoNewThreads lives: the process's default
// thread attributes ask for a stack larger than the address space, so every
// new thread is refused as when the system has no memory or threads left.
#pragma once

#include <pthread.h>

#include <cstddef>

namespace tdtest {

class NoNewThreads {
public:
    NoNewThreads()
    {
        pthread_getattr_default_np(&m_saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t{1} << 50);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads()
    {
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }
    NoNewThreads(const NoNewThreads&) = delete;
    NoNewThreads& operator=(const NoNewThreads&) = delete;

private:
    pthread_attr_t m_saved;
};

} // namespace tdtest
