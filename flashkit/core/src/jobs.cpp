#include "flashkit/job.h"

#include "flashkit/config_copy.h"
#include "flashkit/status_text.h"
#include "flashkit/tftp.h"

namespace update {
namespace {

// Once its job has ended, a unit no longer reports to that job's status.
void release_status(base_t* unit, status_t* status)
{
    if (unit && unit->status == status)
        unit->status = &null_status();
}

} // namespace

upload_job_t::upload_job_t(std::shared_ptr<database_t> database_, const qm::ip_address_t& address_,
                           unit_factory_t factory_)
    : database(std::move(database_)), address(address_), factory(std::move(factory_))
{}

upload_job_t::~upload_job_t()
{
    try {
        stop();
    } catch (...) {}
}

void upload_job_t::thread_function()
{
    run([this] {
        for (probe_t each : probe_list()) {
            try {
                unit = each(address, &status());
            } catch (const tftp::tftp_exception_t& e) {
                // A device that does not answer answers no other probe either.
                if (e.code == tftp::transfer_timed_out)
                    throw qm::exception_t(status_text[text_transfer_timeout]);
            } catch (...) {}
            if (unit)
                break;
        }
        if (!unit)
            throw qm::exception_t("Error uploading firmware from " + address.to_string());
        try {
            checksums_t record;
            unit->upload(record);
            keep_config(*unit);
            if (database)
                version = database->identify(record, custom, custom_version);
        } catch (...) {
            // A unit whose upload failed has nothing a download could rely
            // on (banks, configuration sector): the result has no unit.
            release_status(unit.get(), &status());
            unit.reset();
            version.reset();
            custom_version.reset();
            custom.clear();
            throw;
        }
        release_status(unit.get(), &status());
    });
}

upload_result_t upload_job_t::outcome()
{
    if (!thread_ended())
        throw qm::exception_t("Haven't finished the operation, no result.");
    return {unit, database, version, custom, custom_version};
}

void upload_job_t::result(IDispatch** output)
{
    upload_result_t found = outcome();
    IDispatch* object = factory ? factory(found) : nullptr;
    if (output)
        *output = object;
    else if (object)
        object->Release();
}

download_job_t::download_job_t(std::shared_ptr<base_t> unit_, std::string image_, const checksums_t& checksums_,
                               int32_t boot, int32_t runtime, int32_t config)
    : unit(std::move(unit_)), image(std::move(image_)), checksums(checksums_), boot_range(boot), runtime_range(runtime),
      config_range(config)
{
    if (unit && !unit->claim())
        throw qm::exception_t("the unit is busy with another job");
    claimed = unit != nullptr;
}

download_job_t::~download_job_t()
{
    try {
        stop();
    } catch (...) {}
    release_unit();
}

void download_job_t::release_unit()
{
    if (claimed)
        unit->release();
    claimed = false;
}

void download_job_t::thread_function()
{
    run([this] {
        if (!unit)
            throw qm::exception_t("object error");
        if (unit->config_source == base_t::config_source_t::erased)
            throw qm::exception_t(config_erased_text);
        try {
            unit->download(image, checksums, &status(), boot_range, runtime_range, config_range);
        } catch (...) {
            release_status(unit.get(), &status());
            throw;
        }
        release_status(unit.get(), &status());
    });
    // Free for the next job before done() can report this one's end.
    release_unit();
}

dspdeploy_job_t::dspdeploy_job_t(std::shared_ptr<dsp_context_t> context_, std::string file_,
                                 const qm::ip_address_t& address_)
    : context(std::move(context_)), file(std::move(file_)), address(address_)
{}

dspdeploy_job_t::~dspdeploy_job_t()
{
    try {
        stop();
    } catch (...) {}
}

void dspdeploy_job_t::thread_function()
{
    run([this] {
        if (!context)
            throw qm::exception_t("object error");
        context->deploy(address, file, status());
    });
}

dspdownload_job_t::dspdownload_job_t(std::shared_ptr<dsp_context_t> context_, std::string file_,
                                     const qm::ip_address_t& address_)
    : context(std::move(context_)), file(std::move(file_)), address(address_)
{}

dspdownload_job_t::~dspdownload_job_t()
{
    try {
        stop();
    } catch (...) {}
}

void dspdownload_job_t::thread_function()
{
    run([this] {
        if (!context)
            throw qm::exception_t("object error");
        context->download(address, file, status());
    });
}

dsp_savearg_job_t::dsp_savearg_job_t(std::shared_ptr<dsp_context_t> context_, const qm::ip_address_t& address_)
    : context(std::move(context_)), address(address_)
{}

dsp_savearg_job_t::~dsp_savearg_job_t()
{
    try {
        stop();
    } catch (...) {}
}

void dsp_savearg_job_t::thread_function()
{
    run([this] {
        if (!context)
            throw qm::exception_t("object error");
        context->save_args(address, status());
    });
}

} // namespace update
