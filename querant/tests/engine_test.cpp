// The engine's bookkeeping and scheduling, with a scripted back-end.
#include "fake_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <set>

using namespace querant;
using namespace querant::test;
using namespace std::chrono_literals;

namespace {

bool eventually(const std::function<bool()>& f, int ms = 30000)
{
    for (int i = 0; i < ms / 5; ++i) {
        if (f())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return f();
}

} // namespace

// ---- agents and tasks (no threads) ------------------------------------------------

TEST(Agent, RoundRobinStartsAtNewestAndSkipsDoneEntries)
{
    snmp_agent_t agent("127.0.0.2");
    agent.add_watched("A");
    agent.add_watched("B");
    agent.add_watched("C");
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        int32_t op;
        snmp_request_t r;
        snmp_task_t* task = nullptr;
        if (agent.pick(op, r, task)) {
            order.push_back(r.name);
            --agent.in_flight;
            task->in_flight = 0;
            task->done = 1;
        } else {
            order.push_back("-");
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"C", "A", "B", "-"}));
    EXPECT_EQ(agent.counting_pass(), 3);
    int32_t op;
    snmp_request_t r;
    snmp_task_t* task = nullptr;
    ASSERT_TRUE(agent.pick(op, r, task));
    EXPECT_EQ(r.name, "A");
}

TEST(Agent, OneRequestInFlightAndSynchronousFirst)
{
    snmp_agent_t agent("127.0.0.2");
    agent.add_watched("1.3.6.1.2.1.1.5.0");
    int32_t op;
    snmp_request_t r;
    snmp_task_t* task = nullptr;
    ASSERT_TRUE(agent.pick(op, r, task));
    agent.add_task(2, "1.3.6.1.2.1.1.6.0", "here", 1);
    EXPECT_FALSE(agent.pick(op, r, task)); // busy with the poll read
    --agent.in_flight;
    task->in_flight = 0;
    ASSERT_TRUE(agent.pick(op, r, task));
    EXPECT_EQ(op, 2);
    EXPECT_EQ(r.name, "1.3.6.1.2.1.1.6.0");
    EXPECT_EQ(r.value, "here");
}

TEST(Agent, ASynchronousRequestIsHandedOutOnce)
{
    snmp_agent_t agent("127.0.0.2");
    agent.add_task(2, "1.3.6.1.2.1.1.6.0", "here", 1);
    int32_t op;
    snmp_request_t r;
    snmp_task_t* task = nullptr;
    ASSERT_TRUE(agent.pick(op, r, task));
    EXPECT_NE(task->taken_at, 0u);
    --agent.in_flight;
    task->in_flight = 0;
    task->done = 1;
    agent.counting_pass(); // clears done before the waiter collects it
    // Pointed at again by a waiter that looked too late: not sent twice.
    agent.tasks.set_just_added(agent.tasks.begin());
    EXPECT_FALSE(agent.pick(op, r, task));
}

TEST(Agent, DeferredRemovalAndRewatch)
{
    snmp_agent_t agent("127.0.0.2");
    agent.add_watched("A");
    int32_t op;
    snmp_request_t r;
    snmp_task_t* task = nullptr;
    ASSERT_TRUE(agent.pick(op, r, task));
    agent.remove_one({"A", 0});
    EXPECT_EQ(agent.tasks.size(), 1u);
    EXPECT_EQ(task->removal, 1);
    agent.add_watched("A");
    EXPECT_EQ(task->removal, 0);
    agent.remove_all();
    --agent.in_flight;
    task->in_flight = 0;
    EXPECT_EQ(agent.counting_pass(), 0);
}

TEST(Agent, WatchNamesNeverMeetSynchronousKeys)
{
    snmp_agent_t agent("127.0.0.2");
    agent.add_task(0, "1.3.6", " ", 7);
    agent.add_watched("oid1.3.6"); // the same text as the request's key
    EXPECT_EQ(agent.tasks.size(), 2u);
    agent.remove_one({"oid1.3.6", 0});
    agent.remove_all();
    ASSERT_EQ(agent.tasks.size(), 1u);
    EXPECT_EQ(agent.tasks.begin()->first.serial, 7u);
    variable_list_t all;
    agent.get_all("127.0.0.2", all);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]->name, "oid1.3.6");
}

// ---- engine without workers: take_task by hand ------------------------------------

TEST(Engine, BusyAgentWalkServesTheNextFreeDevice)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.watch_list_add("127.0.0.2", "x");
    engine.watch_list_add("127.0.0.3", "y");
    engine.watch_list_add("127.0.0.4", "z");
    int32_t op;
    snmp_request_t r;
    snmp_task_t* t1 = nullptr;
    snmp_agent_t* a1 = nullptr;
    ASSERT_TRUE(engine.take_task(op, r, t1, a1));
    EXPECT_EQ(r.ip, "127.0.0.2");
    snmp_task_t* t2 = nullptr;
    snmp_agent_t* a2 = nullptr;
    r.clear();
    ASSERT_TRUE(engine.take_task(op, r, t2, a2));
    EXPECT_EQ(r.ip, "127.0.0.3");
    snmp_task_t* t3 = nullptr;
    snmp_agent_t* a3 = nullptr;
    r.clear();
    ASSERT_TRUE(engine.take_task(op, r, t3, a3));
    EXPECT_EQ(r.ip, "127.0.0.4");
    // Every device busy: nobody is served.
    snmp_task_t* t = nullptr;
    snmp_agent_t* a = nullptr;
    EXPECT_FALSE(engine.take_task(op, r, t, a));
    engine.task_done(false, "v", 4, t2, a2, "");
    r.clear();
    EXPECT_FALSE(engine.take_task(op, r, t, a)); // .3's only entry is done this period
    engine.task_done(false, "v", 4, t1, a1, "");
    engine.task_done(false, "v", 4, t3, a3, "");
    variable_list_t changes;
    engine.get_changes(changes);
    EXPECT_EQ(changes.size(), 3u);
    changes.clear();
    engine.get_changes(changes);
    EXPECT_TRUE(changes.empty());
}

TEST(Engine, TaskDoneKeepsLastGoodTypeAndMarksChanges)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.watch_list_add("127.0.0.2", "1.3.6.1.2.1.1.1");
    int32_t op;
    snmp_request_t r;
    snmp_task_t* t = nullptr;
    snmp_agent_t* a = nullptr;
    ASSERT_TRUE(engine.take_task(op, r, t, a));
    engine.task_done(false, "hello", 4, t, a, "1.3.6.1.2.1.1.1.0");
    variable_list_t list;
    engine.get_device_changes("127.0.0.2", list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->name, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(list[0]->value, "hello");
    EXPECT_TRUE(list[0]->valid);
    EXPECT_EQ(list[0]->type, 4);

    t->done = 0;
    t->in_flight = 1;
    ++a->in_flight;
    engine.task_done(true, "Request timeout", 0, t, a, "");
    list.clear();
    engine.get_all(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->value, "Request timeout");
    EXPECT_FALSE(list[0]->valid);
    EXPECT_EQ(list[0]->type, 4);
    list.clear();
    engine.get_device_changes("10.0.0.1", list);
    EXPECT_TRUE(list.empty());
}

TEST(Engine, ConfigurationRanges)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    EXPECT_EQ(engine.poll_period(), 5000);
    EXPECT_EQ(engine.timeout(), 3000);
    EXPECT_EQ(engine.retry_count(), 3);
    EXPECT_EQ(engine.num_threads(), 5);
    EXPECT_EQ(engine.user(), "quenmil");
    EXPECT_EQ(engine.password(), "");
    try {
        engine.poll_period(99);
        FAIL();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "Out of range of the poll_period");
    }
    engine.poll_period(100);
    EXPECT_EQ(engine.poll_period(), 100);
    try {
        engine.retry_count(-1);
        FAIL();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "Out of range of the retry count");
    }
    engine.retry_count(0);
    engine.timeout(-5);
    EXPECT_EQ(engine.timeout(), -5);
    // The fields are 32-bit: a wider value is refused, not cut.
    const long wide = 0x100000000L + 3000;
    const std::vector<std::pair<std::function<void()>, const char*>> too_wide = {
        {[&] { engine.timeout(wide); }, text::timeout_range},
        {[&] { engine.poll_period(wide); }, "Out of range of the poll_period"},
        {[&] { engine.retry_count(wide); }, "Out of range of the retry count"},
        {[&] { engine.num_threads_set(wide + 2); }, "Out of the range of the thread number"}};
    for (const auto& [set, message] : too_wide) {
        try {
            set();
            ADD_FAILURE() << message;
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_EQ(engine.timeout(), -5);
    EXPECT_EQ(engine.poll_period(), 100);
    for (long n : {0L, 31L}) {
        try {
            engine.num_threads_set(n);
            FAIL();
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "Out of the range of the thread number");
        }
    }
    engine.num_threads_set(30);
    EXPECT_EQ(engine.num_threads(), 30);
    engine.num_threads_set(2);
    EXPECT_EQ(engine.num_threads(), 2);
    EXPECT_THROW(engine.watch_list_add("host.example", "1.3"), qm::exception_t);
    EXPECT_THROW(engine.get("300.1.1.1", "1.3"), qm::exception_t);

    snmp_manager_t other(VER_PLATFORM_WIN32_WINDOWS, fake_factory(script));
    EXPECT_EQ(other.num_threads(), 1);
    other.num_threads_set(0);
    other.num_threads_set(12);
    EXPECT_EQ(other.num_threads(), 1);
}

TEST(Engine, WatchListBookkeeping)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.watch_list_add("127.0.0.2", "1.3.6.1");
    engine.watch_list_add("127.0.0.2", "1.3.6.1");
    engine.watch_list_add("127.0.0.3", "1.3.6.1");
    EXPECT_EQ(engine.watch_size(), 2);
    engine.end_watch("127.0.0.9", "1.3.6.1");
    engine.end_watch("127.0.0.2", "1.3.6.2");
    engine.end_device_watch("127.0.0.9");
    EXPECT_EQ(engine.watch_size(), 2);
    engine.end_device_watch("127.0.0.3");
    EXPECT_EQ(engine.watch_size(), 1);
    engine.clear_watch();
    EXPECT_EQ(engine.watch_size(), 0);
    // The map is empty again: a new watch is the first one handed out.
    engine.watch_list_add("127.0.0.4", "1.3.6.4");
    int32_t op;
    snmp_request_t r;
    snmp_task_t* t = nullptr;
    snmp_agent_t* a = nullptr;
    ASSERT_TRUE(engine.take_task(op, r, t, a));
    EXPECT_EQ(r.ip, "127.0.0.4");
    EXPECT_EQ(r.name, "1.3.6.4");
    EXPECT_EQ(op, 0);
}

// ---- engine with workers --------------------------------------------------------------

TEST(EngineThreads, OneRequestInFlightPerDeviceAndEveryVariableRead)
{
    script_t script;
    script.delay_ms = 3;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    for (int d = 2; d < 6; ++d)
        for (int v = 0; v < 5; ++v) {
            const std::string ip = "127.0.0." + std::to_string(d), name = "1.3.6.1." + std::to_string(v);
            script.set_value(ip, name, ip + "/" + name);
            engine.watch_list_add(ip, name);
        }
    EXPECT_EQ(engine.watch_size(), 20);
    engine.start();
    ASSERT_TRUE(eventually([&] {
        variable_list_t all;
        engine.get_all(all);
        return std::all_of(all.begin(), all.end(), [](auto& v) { return v->valid; });
    }));
    engine.stop(); // ends the poll thread; workers may still be finishing
    {
        std::lock_guard g(script.lock);
        EXPECT_EQ(script.max_in_flight_per_device, 1);
    }
    variable_list_t all;
    engine.get_all(all);
    for (auto& v : all)
        EXPECT_EQ(v->value, v->ip + "/" + v->name);
}

TEST(EngineThreads, ReleasesAreSpreadOverThePeriod)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100); // 12 entries: interval 8 ms
    for (int v = 0; v < 12; ++v) {
        const std::string name = "1.3.6.1." + std::to_string(v);
        script.set_value("127.0.0." + std::to_string(2 + v), name, "x");
        engine.watch_list_add("127.0.0." + std::to_string(2 + v), name);
    }
    engine.start();
    ASSERT_TRUE(script.wait_calls(25));
    engine.stop();
    {
        // Each period reads every variable once.
        std::lock_guard g(script.lock);
        std::set<std::string> first_period;
        for (size_t i = 0; i < 12; ++i)
            first_period.insert(script.calls[i].name);
        EXPECT_EQ(first_period.size(), 12u);
    }

    // One release per interval, not a burst: with 12 entries in 120 s, a stop
    // right after the first read ends the period with that read alone.
    script_t slow;
    snmp_manager_t paced(VER_PLATFORM_WIN32_NT, fake_factory(slow));
    paced.poll_period(120000);
    for (int v = 0; v < 12; ++v) {
        slow.set_value("127.0.0." + std::to_string(2 + v), "1.3.6.1", "x");
        paced.watch_list_add("127.0.0." + std::to_string(2 + v), "1.3.6.1");
    }
    paced.start();
    ASSERT_TRUE(slow.wait_calls(1, 60000));
    paced.stop();
    EXPECT_TRUE(eventually([&] { return paced.idle_count() == 5; }));
    EXPECT_EQ(slow.call_count(), 1u);
}

TEST(EngineThreads, EndWatchInFlightIsDeferredAndRewatchCancelsIt)
{
    script_t script;
    script.hold = true;
    script.set_value("127.0.0.2", "A", "1");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    engine.watch_list_add("127.0.0.2", "A");
    engine.start();
    ASSERT_TRUE(script.wait_running(1));
    engine.end_watch("127.0.0.2", "A");
    EXPECT_EQ(engine.watch_size(), 1);
    engine.watch_list_add("127.0.0.2", "A");
    engine.end_watch("127.0.0.2", "A");
    script.release_hold();
    EXPECT_TRUE(eventually([&] { return engine.watch_size() == 0; }));
}

TEST(EngineThreads, SynchronousRequests)
{
    script_t script;
    script.set_value("127.0.0.2", "1.3.6.1.2.1.1.5.0", "name");
    script.next[script_t::key("127.0.0.2", "1.3.6.1.2.1.1")] = "1.3.6.1.2.1.1.5.0";
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    // No worker runs yet: fails at once instead of waiting forever.
    try {
        engine.get("127.0.0.2", "1.3.6.1.2.1.1.5.0");
        FAIL();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), text::no_worker);
    }
    EXPECT_EQ(engine.watch_size(), 0);
    engine.start();
    auto v = engine.get("127.0.0.2", "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(v->value, "name");
    EXPECT_TRUE(v->valid);
    v = engine.get_next("127.0.0.2", "1.3.6.1.2.1.1");
    EXPECT_EQ(v->name, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(v->value, "name");
    v = engine.set("127.0.0.2", "1.3.6.1.2.1.1.5.0", "other");
    EXPECT_EQ(v->value, "other");
    v = engine.get("127.0.0.2", "1.3.6.1.9");
    EXPECT_FALSE(v->valid);
    EXPECT_EQ(v->value, "no such name");
    EXPECT_EQ(engine.watch_size(), 0); // the temporary agent is gone

    // After stop the workers still serve requests. One made while no worker
    // is idle meets the stop (as the interrupted request below does), so the
    // workers finish the last request first.
    engine.stop();
    ASSERT_TRUE(eventually([&] { return engine.idle_count() == 5; }));
    v = engine.get("127.0.0.2", "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(v->value, "other");
}

TEST(EngineThreads, SynchronousRequestBehindABusyDeviceIsServedWithoutThePollThread)
{
    script_t script;
    script.set_value("127.0.0.2", "A", "a");
    script.set_value("127.0.0.2", "B", "b");
    script.hold = true;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    engine.watch_list_add("127.0.0.2", "A");
    engine.start();
    ASSERT_TRUE(script.wait_running(1));
    engine.stop(); // no more poll releases
    std::thread release([&] {
        // The request is queued behind the held read before that read ends.
        eventually([&] { return engine.watch_size() == 2; });
        script.release_hold();
    });
    auto v = engine.get("127.0.0.2", "B");
    release.join();
    EXPECT_TRUE(v->valid);
    EXPECT_EQ(v->value, "b");
    EXPECT_EQ(engine.watch_size(), 1);
}

TEST(EngineThreads, InterruptedSynchronousRequestLeavesNoTask)
{
    script_t script;
    script.hold = true;
    script.set_value("127.0.0.2", "A", "a");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.num_threads_set(1);
    engine.poll_period(100);
    engine.watch_list_add("127.0.0.2", "A");
    engine.start();
    ASSERT_TRUE(script.wait_running(1)); // the only worker is busy
    engine.stop();
    try {
        engine.get("127.0.0.3", "B");
        FAIL();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "thread stop signaled");
    }
    EXPECT_EQ(engine.watch_size(), 1);
    script.release_hold();
}

TEST(EngineThreads, SynchronousRequestEndsAfterItsTimeOuts)
{
    script_t script;
    script.hold = true;
    script.set_value("127.0.0.2", "A", "a");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.timeout(100);
    engine.retry_count(0);
    engine.start();
    auto v = engine.get("127.0.0.2", "A"); // the back-end never answers in time
    EXPECT_FALSE(v->valid);
    EXPECT_EQ(v->value, text::sync_timeout);
    EXPECT_EQ(engine.watch_size(), 1); // still in flight
    script.release_hold();
    EXPECT_TRUE(eventually([&] { return engine.watch_size() == 0; }));
}

TEST(EngineThreads, PollThreadSurvivesReleasesPastTheSemaphoreMaximum)
{
    script_t script;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    for (int d = 0; d < 40; ++d)
        for (int v = 0; v < 100; ++v) {
            const std::string ip = "127.0.1." + std::to_string(d), name = std::to_string(v);
            script.set_value(ip, name, "x");
            engine.watch_list_add(ip, name);
        }
    engine.start();
    // Far more releases than the semaphore holds, and the poll thread goes on.
    ASSERT_TRUE(script.wait_calls(500, 60000));
    EXPECT_TRUE(engine.running);
    ASSERT_TRUE(script.wait_calls(script.call_count() + 100, 60000));
    EXPECT_TRUE(engine.running);
    engine.stop();
}

TEST(EngineThreads, LoweringAndRaisingTheWorkerCount)
{
    script_t script;
    script.set_value("127.0.0.2", "A", "a");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.start();
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 5; }));
    engine.num_threads_set(2);
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 2; }));
    engine.num_threads_set(7);
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 7; }));
    EXPECT_EQ(engine.get("127.0.0.2", "A")->value, "a");
}

TEST(EngineThreads, AFailedRaiseCountsTheWorkersItStarted)
{
    script_t script;
    std::atomic<int> made{0};
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, [&](int32_t, snmp_manager_t*) -> std::unique_ptr<snmp_base_t> {
        if (++made > 7)
            throw qm::exception_t("no more workers");
        return std::make_unique<fake_backend_t>(script);
    });
    engine.start();
    try {
        engine.num_threads_set(10);
        FAIL();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "no more workers");
    }
    EXPECT_EQ(engine.num_threads(), 7);
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 7; }));
    // Lowering again reaches the workers of the failed raise.
    engine.num_threads_set(5);
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 5; }));
}

// A synchronous request waits for a worker without a deadline; its time-outs
// count from the moment a worker takes it.
TEST(EngineThreads, SynchronousDeadlineStartsWhenAWorkerTakesTheRequest)
{
    script_t script;
    script.hold = true;
    script.set_value("127.0.0.2", "A", "a");
    script.set_value("127.0.0.2", "B", "b");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.timeout(8000);
    engine.retry_count(0); // a budget of 10 s once taken
    engine.poll_period(100);
    engine.watch_list_add("127.0.0.2", "A");
    engine.start();
    ASSERT_TRUE(script.wait_running(1));
    engine.stop();
    auto pending = std::async(std::launch::async, [&] { return engine.get("127.0.0.2", "B"); });
    // Held behind the poll read for longer than the budget: not yet failed.
    EXPECT_EQ(pending.wait_for(10500ms), std::future_status::timeout);
    script.release_hold();
    ASSERT_EQ(pending.wait_for(60s), std::future_status::ready);
    auto v = pending.get();
    EXPECT_TRUE(v->valid) << v->value;
    EXPECT_EQ(v->value, "b");
}

// A set is sent once, even when the poll thread's counting passes clear the
// finished request's marks before its waiter looks.
TEST(EngineThreads, ASynchronousSetIsSentOnce)
{
    script_t script;
    script.set_value("127.0.0.2", "A", "a");
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    engine.watch_list_add("127.0.0.3", "A"); // keeps the poll thread counting
    script.set_value("127.0.0.3", "A", "a");
    engine.start();
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(engine.set("127.0.0.2", "A", std::to_string(i))->valid);
    engine.stop();
    std::lock_guard g(script.lock);
    const auto sets = std::count_if(script.calls.begin(), script.calls.end(), [](auto& c) { return c.operation == 2; });
    EXPECT_EQ(sets, 300);
}

// Lowering the worker count while every worker is busy neither deadlocks nor
// loses the synchronous request waiting for a worker.
TEST(EngineThreads, LoweringTheCountWhileWorkersAreBusy)
{
    script_t script;
    script.hold = true;
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, fake_factory(script));
    engine.poll_period(100);
    for (int d = 2; d < 7; ++d) {
        script.set_value("127.0.0." + std::to_string(d), "A", "a");
        engine.watch_list_add("127.0.0." + std::to_string(d), "A");
    }
    script.set_value("127.0.0.9", "B", "b");
    engine.start();
    ASSERT_TRUE(script.wait_running(5));
    auto request = std::async(std::launch::async, [&] { return engine.get("127.0.0.9", "B"); });
    auto lower = std::async(std::launch::async, [&] { engine.num_threads_set(1); });
    EXPECT_TRUE(eventually([&] { return engine.watch_size() == 6; })); // the request is queued
    script.release_hold();
    if (lower.wait_for(60s) != std::future_status::ready || request.wait_for(60s) != std::future_status::ready) {
        // Deadlocked threads cannot be joined: end the program with the failure.
        std::fprintf(stderr, "lowering the worker count hung\n");
        std::_Exit(1);
    }
    lower.get();
    auto v = request.get();
    EXPECT_TRUE(v->valid) << v->value;
    EXPECT_EQ(v->value, "b");
    EXPECT_EQ(engine.num_threads(), 1);
    EXPECT_TRUE(eventually([&] { return engine.idle_count() == 1; }));
    engine.stop();
}
