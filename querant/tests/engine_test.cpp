// The engine's bookkeeping and scheduling, with a scripted back-end.
#include "fake_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace querant;
using namespace querant::test;
using namespace std::chrono_literals;

namespace {

bool eventually(const std::function<bool()>& f, int ms = 5000)
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
    engine.poll_period(600); // 12 entries: one release every 50 ms
    for (int v = 0; v < 12; ++v) {
        const std::string name = "1.3.6.1." + std::to_string(v);
        script.set_value("127.0.0." + std::to_string(2 + v), name, "x");
        engine.watch_list_add("127.0.0." + std::to_string(2 + v), name);
    }
    engine.start();
    ASSERT_TRUE(script.wait_calls(25, 5000));
    engine.stop();
    std::lock_guard g(script.lock);
    std::vector<double> gaps;
    for (size_t i = 1; i < 25; ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(script.calls[i].at - script.calls[i - 1].at).count());
    std::sort(gaps.begin(), gaps.end());
    // Spread out rather than in bursts; the band is wide so a loaded machine passes.
    EXPECT_GT(gaps[gaps.size() / 2], 20.0);
    EXPECT_LT(gaps[gaps.size() / 2], 200.0);
    // Each period reads every variable once.
    std::set<std::string> first_period;
    for (size_t i = 0; i < 12; ++i)
        first_period.insert(script.calls[i].name);
    EXPECT_EQ(first_period.size(), 12u);
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

    // After stop the workers still serve requests.
    engine.stop();
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
        std::this_thread::sleep_for(150ms);
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
    const auto t0 = std::chrono::steady_clock::now();
    auto v = engine.get("127.0.0.2", "A"); // the back-end never answers in time
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_FALSE(v->valid);
    EXPECT_EQ(v->value, text::sync_timeout);
    EXPECT_LT(waited, 5s);
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
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(engine.running);
    const size_t before = script.call_count();
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(script.call_count(), before);
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
