#include "flashkit/status.h"

namespace update {
namespace {

class discard_status_t : public status_t {
public:
    void set_text(const std::string&) override {}
    void set_percent(double) override {}
    std::string text() override { return {}; }
    double percent() override { return 0.0; }
};

} // namespace

void job_status_t::set_text(const std::string& value)
{
    std::lock_guard<std::mutex> guard(lock);
    status_text = value;
}

void job_status_t::set_percent(double value)
{
    std::lock_guard<std::mutex> guard(lock);
    status_percent = value;
}

std::string job_status_t::text()
{
    std::lock_guard<std::mutex> guard(lock);
    return status_text;
}

double job_status_t::percent()
{
    std::lock_guard<std::mutex> guard(lock);
    return status_percent;
}

status_t& null_status()
{
    static discard_status_t instance;
    return instance;
}

} // namespace update
