// Jobs: every long operation runs on its own worker thread while the client
// polls its percentage, status text and completion. Nothing is called back.
#pragma once

#include "flashkit/base.h"
#include "flashkit/database.h"
#include "flashkit/status.h"

#include <qm/address.h>
#include <qm/thread.h>

#include <com/unknown.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace update {

class job_t {
public:
    enum state_t : int32_t { running = 0, succeeded = 1, failed = 2, cancelled = 3 };

    job_t() = default;
    virtual ~job_t() = default;
    job_t(const job_t&) = delete;
    job_t& operator=(const job_t&) = delete;

    virtual void set_text(const std::string& text);
    // The final state once the job's thread has ended, else 0.
    virtual int32_t done();
    // Asks for state 3 instead of 1 at the end; never interrupts the operation.
    virtual void cancel();
    // The result object of the job; none unless the job makes one.
    virtual void result(IDispatch** output);
    // Whether the job's own thread has ended.
    virtual bool thread_ended() const = 0;

    status_t& status() { return job_status; }

protected:
    // The frame around every job body: raised priority, then the body; a
    // qm::exception_t ends it as failed with its text, anything else with
    // "Unknown Error"; otherwise the state is 3 after a cancel, else 1.
    void run(const std::function<void()>& body);

private:
    int32_t state = running;
    uint8_t cancel_flag = 0;
    job_status_t job_status;
    std::mutex job_lock;
};

// What a finished upload found, for the unit object the client receives.
struct upload_result_t {
    std::shared_ptr<base_t> unit;
    std::shared_ptr<database_t> database;
    version_ptr version;
    std::string custom;
    version_ptr custom_version;
};

// Makes the client's unit object (a new object with one reference) from an
// upload's result.
using unit_factory_t = std::function<IDispatch*(const upload_result_t&)>;

// The DSP operations that the DSP jobs run.
class dsp_context_t {
public:
    virtual ~dsp_context_t() = default;
    virtual void deploy(const qm::ip_address_t& address, const std::string& file, status_t& status) = 0;
    virtual void download(const qm::ip_address_t& address, const std::string& file, status_t& status) = 0;
    virtual void save_args(const qm::ip_address_t& address, status_t& status) = 0;
};

// Each job class is a thread first and a job second. Its destructor waits for
// its thread before any of its parts is freed, so releasing a running job
// blocks until the operation ends.

class upload_job_t : public qm::proc::thread_t, public job_t {
public:
    upload_job_t(std::shared_ptr<database_t> database, const qm::ip_address_t& address, unit_factory_t factory);
    ~upload_job_t() override;

    // A new unit object on every call; fails before the job has ended.
    void result(IDispatch** output) override;
    bool thread_ended() const override { return !qm::proc::thread_t::running; }
    // The result record itself (same failure before the end).
    upload_result_t outcome();

protected:
    void thread_function() override;

private:
    std::shared_ptr<database_t> database;
    qm::ip_address_t address;
    std::shared_ptr<base_t> unit;
    version_ptr version;
    std::string custom;
    version_ptr custom_version;
    unit_factory_t factory;
};

class download_job_t : public qm::proc::thread_t, public job_t {
public:
    // Claims the unit for the job's life: "the unit is busy with another
    // job" while another job holds it.
    download_job_t(std::shared_ptr<base_t> unit, std::string image, const checksums_t& checksums, int32_t boot,
                   int32_t runtime, int32_t config);
    ~download_job_t() override;
    bool thread_ended() const override { return !qm::proc::thread_t::running; }

protected:
    void thread_function() override;

private:
    void release_unit();

    std::shared_ptr<base_t> unit;
    bool claimed = false;
    std::string image;
    checksums_t checksums;
    int32_t boot_range;
    int32_t runtime_range;
    int32_t config_range;
};

class dspdeploy_job_t : public qm::proc::thread_t, public job_t {
public:
    dspdeploy_job_t(std::shared_ptr<dsp_context_t> context, std::string file, const qm::ip_address_t& address);
    ~dspdeploy_job_t() override;
    bool thread_ended() const override { return !qm::proc::thread_t::running; }

protected:
    void thread_function() override;

private:
    std::shared_ptr<dsp_context_t> context;
    std::string file;
    qm::ip_address_t address;
};

class dspdownload_job_t : public qm::proc::thread_t, public job_t {
public:
    dspdownload_job_t(std::shared_ptr<dsp_context_t> context, std::string file, const qm::ip_address_t& address);
    ~dspdownload_job_t() override;
    bool thread_ended() const override { return !qm::proc::thread_t::running; }

protected:
    void thread_function() override;

private:
    std::shared_ptr<dsp_context_t> context;
    std::string file;
    qm::ip_address_t address;
};

class dsp_savearg_job_t : public qm::proc::thread_t, public job_t {
public:
    dsp_savearg_job_t(std::shared_ptr<dsp_context_t> context, const qm::ip_address_t& address);
    ~dsp_savearg_job_t() override;
    bool thread_ended() const override { return !qm::proc::thread_t::running; }

protected:
    void thread_function() override;

private:
    std::shared_ptr<dsp_context_t> context;
    qm::ip_address_t address;
};

} // namespace update
