#include "flashkit/job.h"

#include <windows.h>

namespace update {

void job_t::set_text(const std::string& text) { job_status.set_text(text); }

int32_t job_t::done()
{
    if (!thread_ended())
        return running;
    std::lock_guard<std::mutex> guard(job_lock);
    return state;
}

void job_t::cancel()
{
    std::lock_guard<std::mutex> guard(job_lock);
    cancel_flag = 1;
}

void job_t::result(IDispatch** output)
{
    if (output)
        *output = nullptr;
}

void job_t::run(const std::function<void()>& body)
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    int32_t end_state;
    try {
        body();
        std::lock_guard<std::mutex> guard(job_lock);
        end_state = cancel_flag ? cancelled : succeeded;
    } catch (const qm::exception_t& e) {
        job_status.set_text(e.what());
        end_state = failed;
    } catch (...) {
        job_status.set_text("Unknown Error");
        end_state = failed;
    }
    std::lock_guard<std::mutex> guard(job_lock);
    state = end_state;
}

} // namespace update
