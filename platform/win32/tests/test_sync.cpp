// Events, semaphores, waits, threads, critical sections, interlocked, ticks.
#include <gtest/gtest.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "win32/error.h"
#include "win32/sync.h"

namespace {

using clock_type = std::chrono::steady_clock;

long long elapsed_ms(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

// Generous bound of the waits for an event in these tests: only a fault
// reaches it, however busy the machine.
constexpr DWORD kLong = 60000;

// Whether thread `tid` of this process sleeps in a blocked wait: the table
// puts a wait that has to block to sleep on its own futex word with
// FUTEX_WAIT_BITSET (its lock uses a plain FUTEX_WAIT).
bool asleep_in_wait(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    std::string word, op;
    if (!(in >> number >> word >> op) || number != SYS_futex)
        return false;
    return std::stoul(op, nullptr, 16) == (FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG);
}

// Waits until every thread in `tids` (set by each thread itself, 0 until
// then) sleeps in a blocked wait; false after a minute.
bool until_asleep(const std::vector<std::atomic<pid_t>*>& tids)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(kLong);
    for (;;) {
        bool all = true;
        for (auto* tid : tids)
            all = all && tid->load() != 0 && asleep_in_wait(tid->load());
        if (all)
            return true;
        if (clock_type::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
bool until_asleep(std::atomic<pid_t>& tid) { return until_asleep(std::vector<std::atomic<pid_t>*>{&tid}); }

struct handle_guard {
    HANDLE h;
    explicit handle_guard(HANDLE value) : h(value) {}
    ~handle_guard()
    {
        if (h)
            CloseHandle(h);
    }
    operator HANDLE() const { return h; }
};

TEST(Events, ManualResetStaysSignalledUntilReset)
{
    handle_guard e(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(e.h, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);

    handle_guard initially(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_OBJECT_0);
}

TEST(Events, AutoResetIsConsumedByOneWait)
{
    handle_guard e(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    SetEvent(e);
    SetEvent(e); // no count: two sets release one wait
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(Events, AutoResetWakesExactlyOneOfSeveralWaiters)
{
    handle_guard e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    std::atomic<int> woken{0};
    std::vector<std::atomic<pid_t>> tids(4);
    std::vector<std::thread> waiters;
    for (auto& tid : tids)
        waiters.emplace_back([&] {
            tid = gettid();
            if (WaitForSingleObject(e, kLong) == WAIT_OBJECT_0)
                ++woken;
        });
    std::vector<std::atomic<pid_t>*> all;
    for (auto& tid : tids)
        all.push_back(&tid);
    ASSERT_TRUE(until_asleep(all));
    // One set per waiter: a set that woke two would leave the last one
    // without a waiter, and the event set.
    for (int i = 1; i <= 4; ++i) {
        SetEvent(e);
        for (int k = 0; k < 60000 && woken.load() < i; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(woken.load(), i);
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(Events, SetFromAnotherThreadWakesWaiter)
{
    handle_guard e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    std::atomic<pid_t> self{gettid()};
    std::thread setter([&] {
        until_asleep(self);
        SetEvent(e);
    });
    EXPECT_EQ(WaitForSingleObject(e, kLong), WAIT_OBJECT_0);
    setter.join();
}

TEST(Events, NamedEventsAreNotSupported)
{
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Global\\x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(Waits, AnyReturnsLowestSignalledIndexAndConsumesOnlyIt)
{
    handle_guard a(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    handle_guard b(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    handle_guard c(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    HANDLE list[] = {a, b, c};
    SetEvent(c);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(3, list, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, list, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, list, FALSE, 0), WAIT_TIMEOUT);
    // The caller's handle wins a tie with a stop event after it.
    handle_guard stop(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    SetEvent(a);
    HANDLE pair[] = {a, stop};
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Waits, AllNeedsEveryObjectAndConsumesNothingBefore)
{
    handle_guard manual(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    handle_guard automatic(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    handle_guard sem(CreateSemaphoreA(nullptr, 0, 5, nullptr));
    HANDLE list[] = {manual, automatic, sem};
    auto start = clock_type::now();
    EXPECT_EQ(WaitForMultipleObjects(3, list, TRUE, 60), WAIT_TIMEOUT);
    EXPECT_GE(elapsed_ms(start), 60);
    // Nothing was taken by the failed wait-all.
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    SetEvent(automatic);

    std::atomic<pid_t> self{gettid()};
    std::thread releaser([&] {
        until_asleep(self);
        ReleaseSemaphore(sem, 1, nullptr);
    });
    EXPECT_EQ(WaitForMultipleObjects(3, list, TRUE, kLong), WAIT_OBJECT_0);
    releaser.join();
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT); // consumed
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);       // consumed
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);   // stays
}

// Blocked waits are satisfied by whoever signals, in the same way as a wait
// that finds its objects signalled: lowest index, consuming what it wins.
TEST(Waits, BlockedWaitsGetTheLowestIndexAndOnlyWhatTheyWin)
{
    handle_guard a(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    handle_guard b(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    HANDLE list[] = {a, b};
    std::atomic<DWORD> got{WAIT_FAILED};
    std::atomic<pid_t> tid{0};
    std::thread waiter([&] {
        tid = gettid();
        got = WaitForMultipleObjects(2, list, FALSE, kLong);
    });
    ASSERT_TRUE(until_asleep(tid));
    HANDLE both[] = {b, a}; // set together, b first
    EXPECT_TRUE(vx_set_events(both, 2));
    waiter.join();
    EXPECT_EQ(got.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);  // taken by the waiter
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0); // left alone

    // Two counts for three blocked waiters: exactly two get one, the third
    // waits on until the next release.
    handle_guard sem(CreateSemaphoreA(nullptr, 0, 10, nullptr));
    std::atomic<int> served{0};
    std::vector<std::atomic<pid_t>> tids(3);
    std::vector<std::thread> workers;
    for (auto& worker_tid : tids)
        workers.emplace_back([&] {
            worker_tid = gettid();
            if (WaitForSingleObject(sem, kLong) == WAIT_OBJECT_0)
                ++served;
        });
    ASSERT_TRUE(until_asleep({&tids[0], &tids[1], &tids[2]}));
    EXPECT_TRUE(ReleaseSemaphore(sem, 2, nullptr));
    for (int i = 0; i < 60000 && served.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(served.load(), 2);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(sem, 1, &previous));
    EXPECT_EQ(previous, 0); // both counts went to waiters
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(served.load(), 3);
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);
}

TEST(Waits, AHandleClosedDuringAWaitKeepsItsObjectForThatWait)
{
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> got{WAIT_FAILED};
    std::atomic<pid_t> tid{0};
    std::thread waiter([&] {
        tid = gettid();
        got = WaitForSingleObject(e, 500);
    });
    ASSERT_TRUE(until_asleep(tid));
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    waiter.join();
    EXPECT_EQ(got.load(), WAIT_TIMEOUT);

    // A thread's handle closed while another thread waits on it still ends
    // that wait when the thread ends.
    handle_guard gate(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE g = gate;
    HANDLE running = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0, [](void* arg) -> unsigned { return WaitForSingleObject(*static_cast<HANDLE*>(arg), INFINITE); }, &g,
        0, nullptr));
    ASSERT_NE(running, nullptr);
    tid = 0;
    std::thread watcher([&] {
        tid = gettid();
        got = WaitForSingleObject(running, kLong);
    });
    ASSERT_TRUE(until_asleep(tid));
    EXPECT_TRUE(CloseHandle(running));
    SetEvent(gate);
    watcher.join();
    EXPECT_EQ(got.load(), WAIT_OBJECT_0);
}

// Many threads hand an auto-reset event and a semaphore back and forth with
// time-outs racing the signals: every signal is taken exactly once.
TEST(Waits, SignalsRacingTimeoutsAreNeverLostNorDoubled)
{
    handle_guard e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    handle_guard sem(CreateSemaphoreA(nullptr, 0, 1000, nullptr));
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> takers;
    for (int i = 0; i < 4; ++i)
        takers.emplace_back([&] {
            HANDLE list[] = {e, sem};
            while (!stop.load()) {
                const DWORD r = WaitForMultipleObjects(2, list, FALSE, 1);
                if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1)
                    ++taken;
            }
        });
    int given = 0;
    for (int i = 0; i < 2000; ++i) {
        if (i % 2) {
            ReleaseSemaphore(sem, 1, nullptr);
            ++given;
        } else if (WaitForSingleObject(e, 0) == WAIT_TIMEOUT) {
            SetEvent(e); // set only when not set already, so each set counts once
            ++given;
        } else {
            SetEvent(e); // put back what the test itself took
        }
        if (i % 64 == 0)
            std::this_thread::yield();
    }
    for (int i = 0; i < 1000 && taken.load() < given; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    for (auto& t : takers)
        t.join();
    EXPECT_EQ(taken.load(), given);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);
}

TEST(Waits, TimeoutsLastAtLeastTheirTime)
{
    handle_guard e(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    for (DWORD ms : {1u, 25u, 120u}) {
        auto start = clock_type::now();
        EXPECT_EQ(WaitForSingleObject(e, ms), WAIT_TIMEOUT);
        // At least the time asked; the upper bound only tells a wait that
        // never ends, as a busy machine can hold a thread up for long.
        auto took = elapsed_ms(start);
        EXPECT_GE(took, static_cast<long long>(ms));
        EXPECT_LT(took, static_cast<long long>(ms) + kLong);
    }
}

TEST(Waits, FailuresAndSpecialHandles)
{
    handle_guard e(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    HANDLE none[1] = {e};
    EXPECT_EQ(WaitForMultipleObjects(0, none, FALSE, 0), WAIT_FAILED);
    HANDLE twice[] = {e, e};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // INVALID_HANDLE_VALUE is the current process: never signalled.
    HANDLE quit_none[] = {INVALID_HANDLE_VALUE, e};
    EXPECT_EQ(WaitForMultipleObjects(2, quit_none, FALSE, 20), WAIT_TIMEOUT);
    SetEvent(e);
    EXPECT_EQ(WaitForMultipleObjects(2, quit_none, FALSE, 20), WAIT_OBJECT_0 + 1);
}

TEST(Waits, HandleFdIsReadableExactlyWhileSignalled)
{
    handle_guard e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    int fd = vx_handle_fd(e);
    ASSERT_GE(fd, 0);
    auto readable = [fd] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    EXPECT_FALSE(readable());
    SetEvent(e);
    EXPECT_TRUE(readable());
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(readable());

    handle_guard sem(CreateSemaphoreA(nullptr, 2, 2, nullptr));
    int sfd = vx_handle_fd(sem);
    pollfd p{sfd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    WaitForSingleObject(sem, 0);
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    WaitForSingleObject(sem, 0);
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    EXPECT_EQ(vx_handle_fd(INVALID_HANDLE_VALUE), -1);
}

TEST(Semaphores, CountsUpToTheMaximum)
{
    handle_guard sem(CreateSemaphoreA(nullptr, 0, 3, nullptr));
    ASSERT_NE(sem.h, nullptr);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(sem, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(sem, 2, &previous)); // 4 > 3: refused whole
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    EXPECT_TRUE(ReleaseSemaphore(sem, 1, &previous));
    EXPECT_EQ(previous, 2);
    EXPECT_FALSE(ReleaseSemaphore(sem, 1, nullptr));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 4, 3, nullptr), nullptr);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 0, nullptr), nullptr);
}

TEST(Semaphores, EachReleaseWakesOneWorker)
{
    handle_guard sem(CreateSemaphoreA(nullptr, 0, 30, nullptr));
    std::atomic<int> served{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int i = 0; i < 5; ++i)
        workers.emplace_back([&] {
            while (!stop.load())
                if (WaitForSingleObject(sem, 20) == WAIT_OBJECT_0)
                    ++served;
        });
    for (int i = 0; i < 20; ++i)
        ReleaseSemaphore(sem, 1, nullptr);
    for (int i = 0; i < 60000 && served.load() < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(served.load(), 20);
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);
}

unsigned exit_with(void* arg)
{
    auto* gate = static_cast<HANDLE*>(arg);
    WaitForSingleObject(*gate, INFINITE);
    return 7;
}

TEST(Threads, HandleIsSignalledWhenTheThreadEnds)
{
    handle_guard gate(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE g = gate;
    unsigned id = 0;
    uintptr_t raw = _beginthreadex(nullptr, 0, exit_with, &g, 0, &id);
    ASSERT_NE(raw, 0u);
    HANDLE thread = reinterpret_cast<HANDLE>(raw);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL));
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(thread, kLong), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // stays signalled
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(thread));
}

DWORD report_id(LPVOID arg)
{
    *static_cast<DWORD*>(arg) = GetCurrentThreadId();
    return 3;
}

TEST(Threads, CreateThreadAndClosingARunningThread)
{
    DWORD seen = 0;
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, report_id, &seen, 0, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
    EXPECT_EQ(seen, id);
    CloseHandle(t);

    // Closing the handle of a running thread lets it run on to its end.
    handle_guard gate(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE g = gate;
    HANDLE running = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, exit_with, &g, 0, nullptr));
    ASSERT_NE(running, nullptr);
    EXPECT_TRUE(CloseHandle(running));
    SetEvent(gate);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(CreateThread(nullptr, 0, report_id, &seen, CREATE_SUSPENDED, nullptr), nullptr);
}

TEST(Threads, ManyShortThreadsStartAndJoin)
{
    std::atomic<int> ran{0};
    auto body = [](void* arg) -> unsigned {
        ++*static_cast<std::atomic<int>*>(arg);
        return 0;
    };
    for (int round = 0; round < 50; ++round) {
        HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, &ran, 0, nullptr));
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(WaitForSingleObject(t, kLong), WAIT_OBJECT_0);
        CloseHandle(t);
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(CriticalSections, AreReentrantAndExclusive)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // same thread again: no deadlock
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    std::atomic<bool> other_got_it{true};
    std::thread([&] { other_got_it = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other_got_it.load());
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] { other_got_it = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other_got_it.load()); // still held once
    LeaveCriticalSection(&cs);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 10000; ++k) {
                EnterCriticalSection(&cs);
                ++counter;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);
}

TEST(Interlocked, ReturnValuesAsOnWindows)
{
    LONG volatile v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchange(&v, 9), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 9);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 11), 12); // no match: unchanged
    EXPECT_EQ(v, 12);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 12), 12);
    EXPECT_EQ(v, 1);
}

TEST(Ticks, OffsetBringsTheWrapWithinReach)
{
    // Place the 32-bit counter 50 ms before its wrap (again, should this
    // thread be held up past the wrap before it reads the count).
    ULONGLONG base = 0, offset = 0;
    DWORD before = 0;
    for (int attempt = 0; attempt < 100 && before < 0xFFFF0000u; ++attempt) {
        vx_set_tick_offset(0);
        base = GetTickCount64();
        offset = (0x100000000ull - (base & 0xFFFFFFFFull) - 50) & 0xFFFFFFFFull;
        vx_set_tick_offset(offset);
        before = GetTickCount();
    }
    ASSERT_GE(before, 0xFFFF0000u);
    DWORD after = before;
    for (int i = 0; i < 6000 && after >= before; ++i) {
        Sleep(10);
        after = GetTickCount();
    }
    EXPECT_LT(after, before);       // wrapped
    DWORD elapsed = after - before; // unsigned arithmetic stays right
    EXPECT_GE(elapsed, 10u);
    EXPECT_LT(elapsed, kLong + 0x10000u);
    EXPECT_GE(GetTickCount64(), base + offset + 10); // the 64-bit count does not wrap
    vx_set_tick_offset(0);

    LARGE_INTEGER f, a, b;
    EXPECT_TRUE(QueryPerformanceFrequency(&f));
    QueryPerformanceCounter(&a);
    Sleep(2);
    QueryPerformanceCounter(&b);
    EXPECT_GE((b.QuadPart - a.QuadPart) * 1000 / f.QuadPart, 2);
}

} // namespace
