// Progress of a running operation: a status text and a percentage, read by
// the client's thread while a job's thread writes them.
#pragma once

#include <mutex>
#include <string>

namespace update {

class status_t {
public:
    virtual void set_text(const std::string& text) = 0;
    virtual void set_percent(double value) = 0;
    virtual std::string text() = 0;
    virtual double percent() = 0;

protected:
    ~status_t() = default;
};

// Every operation holds the lock for the whole read or write, so a reader
// always sees a whole text.
class job_status_t : public status_t {
public:
    void set_text(const std::string& value) override;
    void set_percent(double value) override;
    std::string text() override;
    double percent() override;

private:
    std::string status_text;
    double status_percent = 0.0;
    std::mutex lock;
};

// A status that keeps nothing: what a unit reports to once the job that
// lent it its status has ended.
status_t& null_status();

} // namespace update
