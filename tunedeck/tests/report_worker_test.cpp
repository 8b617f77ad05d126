// The report worker's ends that need no device: a thread that cannot start,
// and a stop while the worker waits in a selection callback for the thread
// that stops it (as the console's callbacks wait for its GUI thread).
#include "ReportWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "no_threads.h"

namespace {

class Recorder : public CReportWorker::Sink {
public:
    void OnRange(int) override {}
    void OnProgress(const char*) override {}
    void OnFinished(int r) override
    {
        result = r;
        ++finished;
    }
    std::atomic<int> result{-1};
    std::atomic<int> finished{0};
};

// Calls handed to one thread, which runs them only when it serves them.
class CallQueue {
public:
    // Runs `call` on the serving thread and waits for it; false when it was
    // not served within a minute.
    bool Call(std::function<void()> call)
    {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> served = done->get_future();
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_calls.push_back([call, done] {
                call();
                done->set_value();
            });
        }
        return served.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
    }
    void Serve()
    {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            calls.swap(m_calls);
        }
        for (auto& call : calls)
            call();
    }

private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_calls;
};

CallQueue* g_gui = nullptr;
std::promise<void> g_entered;
std::atomic<bool> g_served{false};

// The console's callback: it reads the console's list on the GUI thread.
int ReadConsoleList(const char** ip, int)
{
    *ip = nullptr;
    static std::once_flag once;
    std::call_once(once, [] { g_entered.set_value(); });
    g_served = g_gui->Call([] {});
    return LAUNCH_SELECT_END;
}

TEST(ReportWorker, StopServesTheCallbackTheWorkerWaitsIn)
{
    CallQueue gui;
    g_gui = &gui;
    Recorder sink;
    CReportWorker worker(sink);
    worker.SetWaitService([&gui] { gui.Serve(); });
    LaunchBlock block{};
    block.GetFirst = ReadConsoleList;
    block.GetNext = ReadConsoleList;
    worker.TakeSettings(block);
    ASSERT_EQ(worker.Start(), 0);

    worker.Run("unused", false);
    ASSERT_EQ(g_entered.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
    worker.Stop(); // on the thread the callback waits for
    EXPECT_FALSE(worker.Running());
    EXPECT_TRUE(g_served);
    EXPECT_EQ(sink.finished, 1);
    EXPECT_EQ(sink.result, CReportWriter::kUserAbort);
}

TEST(ReportWorker, AThreadThatCannotStartGivesResultOne)
{
    Recorder sink;
    CReportWorker worker(sink);
    {
        tdtest::NoNewThreads noThreads;
        EXPECT_EQ(worker.Start(), LAUNCH_LOAD_FAILED);
    }
    EXPECT_FALSE(worker.Running());
    worker.Run("unused", true); // nothing runs
    worker.Stop();
    EXPECT_EQ(sink.finished, 0);

    // Once threads can be made again, the worker starts.
    EXPECT_EQ(worker.Start(), 0);
    EXPECT_TRUE(worker.Running());
    worker.Stop();
}

} // namespace
