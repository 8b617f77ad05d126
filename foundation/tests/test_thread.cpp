// Worker thread: stop interrupting the loop's waits, restart, self-ended loops.
#include "qm/thread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

class test_thread_t : public qm::proc::thread_t {
public:
    explicit test_thread_t(std::function<void(test_thread_t&)> body) : body(std::move(body)) {}
    ~test_thread_t() override { stop(); }

    void signal_stop() { SetEvent(stop_event.get()); }

    std::atomic<int> runs{0};
    std::atomic<int> loops{0};
    std::atomic<bool> stopped_by_request{false};

protected:
    void thread_function() override
    {
        ++runs;
        try {
            body(*this);
        } catch (const qm::proc::thread_stop_exception_t&) {
            stopped_by_request = true;
            throw;
        }
    }

private:
    std::function<void(test_thread_t&)> body;
};

bool eventually(const std::function<bool()>& condition, int ms = 30000)
{
    auto end = clock_type::now() + std::chrono::milliseconds(ms);
    while (clock_type::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

long long ms_since(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

} // namespace

TEST(Thread, StopInterruptsSleepAndWaitForObjects)
{
    test_thread_t sleeper([](test_thread_t& t) {
        for (;;) {
            ++t.loops;
            t.sleep(60000);
        }
    });
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    test_thread_t waiter([never](test_thread_t& t) {
        for (;;) {
            ++t.loops;
            t.wait_for_objects(never, 60000);
        }
    });
    for (test_thread_t* t : {&sleeper, &waiter}) {
        t->start();
        ASSERT_TRUE(eventually([t] { return t->loops.load() == 1; }));
        auto begin = clock_type::now();
        t->stop();
        EXPECT_LT(ms_since(begin), 30000); // half the wait: a loaded machine only delays the wake
        // The loop has left by the stop request and the thread has ended.
        EXPECT_TRUE(t->stopped_by_request);
        EXPECT_FALSE(t->running);
        EXPECT_EQ(t->loops.load(), 1);
    }
    CloseHandle(never);
}

TEST(Thread, StopRequestIsSeenByEveryLaterWait)
{
    // A loop that survives the first stop (e.g. to tidy up) and waits again
    // must be stopped again at once: one request holds until the next start.
    std::atomic<int> stops_seen{0};
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    test_thread_t t([&](test_thread_t& self) {
        for (;;) {
            ++self.loops;
            try {
                self.sleep(60000);
            } catch (const qm::proc::thread_stop_exception_t&) {
                ++stops_seen;
            }
            try {
                self.wait_for_objects(never, 60000);
            } catch (const qm::proc::thread_stop_exception_t&) {
                ++stops_seen;
            }
            self.sleep(60000);
        }
    });
    t.start();
    ASSERT_TRUE(eventually([&] { return t.loops.load() == 1; }));
    auto begin = clock_type::now();
    t.stop();
    EXPECT_LT(ms_since(begin), 30000);
    EXPECT_EQ(stops_seen.load(), 2);
    EXPECT_TRUE(t.stopped_by_request);
    // The owner's own waits on the object see the request as well.
    begin = clock_type::now();
    EXPECT_THROW(t.sleep(60000), qm::proc::thread_stop_exception_t);
    EXPECT_LT(ms_since(begin), 30000);
    CloseHandle(never);
}

TEST(Thread, StopOfIdleOrSelfEndedThreadReturnsAtOnce)
{
    test_thread_t never_started([](test_thread_t&) {});
    auto begin = clock_type::now();
    never_started.stop();
    EXPECT_LT(ms_since(begin), 30000);

    test_thread_t quick([](test_thread_t& t) { ++t.loops; });
    quick.start();
    ASSERT_TRUE(eventually([&] { return !quick.running; }));
    quick.stop();
    EXPECT_FALSE(quick.stopped_by_request);

    // Restart after the loop ended by itself: the finished thread is joined and
    // a new one runs.
    quick.start();
    ASSERT_TRUE(eventually([&] { return quick.runs.load() == 2 && !quick.running; }));
    EXPECT_EQ(quick.loops.load(), 2);
}

TEST(Thread, DestructionAfterSelfEndedLoopJoinsTheThread)
{
    for (int i = 0; i < 50; ++i) {
        auto t = std::make_unique<test_thread_t>([](test_thread_t& t) { ++t.loops; });
        t->start();
        if (i % 2) {
            ASSERT_TRUE(eventually([&] { return !t->running; }));
        }
        t.reset();
    }
}

TEST(Thread, SecondStartWhileRunningDoesNothing)
{
    test_thread_t t([](test_thread_t& self) {
        for (;;)
            self.sleep(10000);
    });
    t.start();
    t.start();
    ASSERT_TRUE(eventually([&] { return t.runs.load() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(t.runs.load(), 1);
    t.stop();
}

TEST(Thread, RestartAfterStopWaitsNormally)
{
    std::atomic<int> timeouts{0};
    test_thread_t t([&](test_thread_t& self) {
        for (;;) {
            if (!self.sleep(20))
                ++timeouts;
        }
    });
    t.start();
    ASSERT_TRUE(eventually([&] { return timeouts.load() >= 2; }));
    t.stop();
    timeouts = 0;
    t.start(); // resets the stop request
    ASSERT_TRUE(eventually([&] { return timeouts.load() >= 2; }));
    t.stop();
    EXPECT_EQ(t.runs.load(), 2);
}

TEST(Thread, ExceptionsInsideTheLoopEndItQuietly)
{
    test_thread_t std_failure([](test_thread_t&) { throw std::runtime_error("boom"); });
    test_thread_t qm_failure([](test_thread_t&) { throw qm::exception_t("boom"); });
    test_thread_t odd_failure([](test_thread_t&) { throw 42; });
    for (test_thread_t* t : {&std_failure, &qm_failure, &odd_failure}) {
        t->start();
        ASSERT_TRUE(eventually([t] { return !t->running; }));
        t->stop();
    }
}

TEST(Thread, WaitResultsAndTies)
{
    test_thread_t t([](test_thread_t&) {});
    HANDLE signalled = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE quiet = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    EXPECT_FALSE(t.sleep(1));
    EXPECT_FALSE(t.wait_for_objects(quiet, 1));
    EXPECT_TRUE(t.wait_for_objects(signalled, 0));

    t.signal_stop();
    // Both signalled: the caller's handle wins.
    EXPECT_TRUE(t.wait_for_objects(signalled, 0));
    EXPECT_THROW(t.wait_for_objects(quiet, 1000), qm::proc::thread_stop_exception_t);
    EXPECT_THROW(t.sleep(1000), qm::proc::thread_stop_exception_t);
    // A closed handle makes the wait fail.
    test_thread_t other([](test_thread_t&) {});
    HANDLE dead = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(dead);
    try {
        other.wait_for_objects(dead, 0);
        ADD_FAILURE() << "wait on a closed handle did not fail";
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("WAIT_FAILED in thread_t::wait_for_objects: ", 0), 0u) << e.what();
    } catch (const qm::proc::thread_stop_exception_t&) {
        ADD_FAILURE() << "no stop was requested";
    }
    CloseHandle(signalled);
    CloseHandle(quiet);
}

TEST(Thread, RapidStartStopCycles)
{
    std::atomic<int> total{0};
    test_thread_t t([&](test_thread_t& self) {
        ++total;
        if (total % 3 == 0)
            return; // sometimes the loop ends by itself
        for (;;)
            self.sleep(5);
    });
    for (int i = 0; i < 200; ++i) {
        t.start();
        if (i % 4 == 0)
            std::this_thread::yield();
        t.stop();
    }
    EXPECT_EQ(t.runs.load(), 200);
    EXPECT_FALSE(t.running);
}
