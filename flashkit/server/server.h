// What the automation classes of libflashkit.so share: the error convention
// at the boundary, the strict address parse, and the makers of the objects
// that methods hand out (each with one reference for the caller). A further
// class of the library (the DSP deployer) uses the same helpers.
#pragma once

#include "flashkit/database.h"
#include "flashkit/flashkit_com.h"
#include "flashkit/job.h"

#include <atl/atlcom.h>
#include <qm/address.h>
#include <qm/exception.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

namespace flashkit {

using database_ptr = std::shared_ptr<update::database_t>;

// Runs the member's work. A qm::exception_t becomes the error object of the
// class (prefix followed by the exception's text) and a failure result; so
// does anything else, with "Unknown Error".
template <class F> HRESULT guarded(REFCLSID clsid, REFIID iid, const char* prefix, F&& work)
{
    try {
        work();
        return S_OK;
    } catch (const qm::exception_t& e) {
        return AtlReportError(clsid, (std::string(prefix) + e.what()).c_str(), iid);
    } catch (const std::bad_alloc&) {
        return AtlReportError(clsid, (std::string(prefix) + "out of memory").c_str(), iid, E_OUTOFMEMORY);
    } catch (...) {
        return AtlReportError(clsid, (std::string(prefix) + "Unknown Error").c_str(), iid);
    }
}

// A dotted IPv4 address, strictly; "invalid IP address" otherwise.
qm::ip_address_t parse_address(BSTR text);

// Text of an automation string ("ANSI" text is UTF-8).
std::string text_of(BSTR text);

// A new BSTR of the text for an [out] parameter; throws on failure.
BSTR new_text(const std::string& text);

// Hands a started job to a new job object; the job object owns it from then
// on. Throws qm::exception_t when the object cannot be made (the job is then
// deleted, which waits for its operation).
IDispatch* make_job(std::unique_ptr<update::job_t> job);

// Builds the job, starts its thread at once and hands it to a new job object.
template <class Job, class... Args> IDispatch* start_job(Args&&... args)
{
    auto job = std::make_unique<Job>(std::forward<Args>(args)...);
    job->start();
    return make_job(std::move(job));
}

// A new version object of the record (which may be none).
IDispatch* make_version(update::version_ptr record, database_ptr database);

// Whether the object is a version object of this server; when it is, its
// record (maybe none) and database.
bool version_of(IDispatch* object, update::version_ptr& record, database_ptr& database);

// The record of a version object of this server (maybe none); "invalid
// parameter passed" for any other object.
update::version_ptr version_argument(IDispatch* object);

// A new collection of version objects.
IDispatch* make_vector(std::vector<update::version_ptr> records, database_ptr database);

// A new unit object of an upload's result.
IDispatch* make_unit(const update::upload_result_t& found);

// A new check object of a unit's eight flag bytes.
IDispatch* make_update_check(const uint8_t flags[8]);

} // namespace flashkit
