// Firmware jobs of every family against the device simulator on a veth pair,
// run through the automation server as the console runs them: an upload, and
// a download that writes every part (boot, code and configuration). The floor
// in the same run is the bare TFTP client repeating exactly the transfers of
// that job, taken from the client's own trace; the difference is what the
// family code adds (checksum passes over the temporary files, the files
// themselves, the job thread).
//
//   flashkit_job_times [runs per family, default 5]   (needs root)
#include "flashkit/flashkit_com.h"
#include "flashkit/tftp.h"

#include "images/images.h"
#include "netns.h"

#include <com/com.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace img = devsim::images;
using clock_type = std::chrono::steady_clock;

struct family_row {
    const char* name;
    img::family images; // the family of its images
};
const family_row families[] = {{"alder", img::family::alder}, {"alderamd", img::family::alder},
                               {"birch", img::family::birch}, {"birchamd", img::family::birch},
                               {"cedar", img::family::cedar}, {"dogwood", img::family::dogwood}};

const img::version_t old_version{1, 2, 3, -1}, new_version{1, 3, 0, -1};

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The client's trace lines written to standard output while fn runs.
std::vector<std::string> traced(const fs::path& file, const std::function<void()>& fn)
{
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::close(out);
    fn();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One transfer of a trace: a read of remote, or a write of length bytes.
struct transfer {
    bool write;
    std::string remote, local;
    uint32_t offset = 0, length = 0;
};

std::vector<transfer> transfers_of(const std::vector<std::string>& trace)
{
    std::vector<transfer> out;
    for (const std::string& line : trace) {
        auto arrow = line.find("->");
        if (line.rfind("tftp::get : ", 0) == 0 && arrow != std::string::npos) {
            out.push_back({false, line.substr(12, arrow - 12), line.substr(arrow + 2)});
        } else if (line.rfind("tftp::put_ex : ", 0) == 0 && arrow != std::string::npos) {
            transfer t{true, "", line.substr(15, arrow - 15)};
            auto rest = line.substr(arrow + 2);
            auto first = rest.find(" : "), second = rest.find(" : ", first + 3);
            t.remote = rest.substr(0, first);
            t.offset = static_cast<uint32_t>(std::stoul(rest.substr(first + 3, second - first - 3)));
            t.length = static_cast<uint32_t>(std::stoul(rest.substr(second + 3)));
            out.push_back(t);
        }
    }
    return out;
}

// The same transfers by the bare client; the bytes moved. A write whose local
// file the job has removed sends as many bytes of a stand-in.
double replay(const qm::ip_address_t& device, const std::vector<transfer>& list, const fs::path& scratch,
              uint64_t& bytes)
{
    const std::string stand_in = (scratch / "stand-in").string();
    std::ofstream(stand_in, std::ios::binary) << std::string(0x100000, '\0');
    const std::string got = (scratch / "got").string();
    auto start = clock_type::now();
    for (const transfer& t : list) {
        try {
            if (t.write) {
                const bool kept = fs::exists(t.local);
                tftp::settings().put_ex(device, kept ? t.local : stand_in, t.remote, kept ? t.offset : 0, t.length);
                bytes += t.length;
            } else {
                tftp::settings().get(device, t.remote, got);
                bytes += fs::file_size(got);
            }
        } catch (const qm::exception_t&) {
            // The probe files of other families: refused, as in the job.
        }
    }
    return ms_since(start);
}

template <class I> CComPtr<I> as(IUnknown* object)
{
    CComPtr<I> out;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&out));
    return out;
}

// Runs the job to its end; its state.
long finish(IDispatch* job_dispatch)
{
    CComPtr<Ijob> job = as<Ijob>(job_dispatch);
    long done = 0;
    while (job && job->get_done(&done) == S_OK && done == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done;
}

std::string name_of(IDispatch* version)
{
    BSTR text = nullptr;
    if (!version || as<Iversion>(version)->get_name(&text) != S_OK)
        return "";
    std::string out = com::bstr_to_utf8(text);
    SysFreeString(text);
    return out;
}

CComPtr<IDispatch> version_named(Iupdater* updater, const std::string& name)
{
    CComPtr<IDispatch> all;
    updater->find_all(&all);
    long length = 0;
    as<Icom_vector>(all)->get_length(&length);
    for (long i = 0; i < length; ++i) {
        CComPtr<IDispatch> item;
        as<Icom_vector>(all)->at(i, &item);
        if (name_of(item) == name)
            return item;
    }
    return nullptr;
}

struct result_row {
    std::vector<double> upload, upload_floor, download, download_floor;
    uint64_t upload_bytes = 0, download_bytes = 0;
    bool ok = true;
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!vx::test::running_as_root()) {
        std::fprintf(stderr, "flashkit_job_times: needs root for network namespaces\n");
        return 1;
    }
    const fs::path root = fs::temp_directory_path() / ("vx-jobs-bench-" + std::to_string(::getpid()));
    const fs::path folder = root / "firmware", scratch = root / "scratch";
    fs::create_directories(folder);
    fs::create_directories(scratch);
    fs::create_directories(root / "home");
    setenv("XDG_CONFIG_HOME", (root / "home").c_str(), 1);
    void* library = dlopen(FLASHKIT_LIB, RTLD_NOW | RTLD_LOCAL);
    auto register_server = library ? reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer")) : nullptr;
    if (!register_server || register_server() != S_OK) {
        std::fprintf(stderr, "flashkit_job_times: cannot register %s\n", FLASHKIT_LIB);
        return 1;
    }

    std::vector<std::string> argv_devsim{vx::test::devsim_path(),
                                         "-i",
                                         "vxd0",
                                         "--period",
                                         "60000",
                                         "--ip-base",
                                         "192.168.77.10",
                                         "-n",
                                         "6",
                                         "--families",
                                         "alder,alderamd,birch,birchamd,cedar,dogwood"};
    for (int k = 0; k < 6; ++k) {
        for (const img::version_t& v : {old_version, new_version}) {
            img::firmware_spec spec;
            spec.fam = families[k].images;
            spec.version = v;
            img::write_file((folder / img::file_name(spec.fam, v)).string(), img::make_firmware(spec).bytes);
        }
        argv_devsim.push_back("--firmware");
        argv_devsim.push_back(std::to_string(k) + "=" +
                              (folder / img::file_name(families[k].images, old_version)).string());
    }
    vx::test::netns_pair pair("vxh0", "vxd0");
    if (!pair.ok() || !pair.add_address(vx::test::netns_pair::a, "192.168.77.1/24")) {
        std::fprintf(stderr, "flashkit_job_times: %s\n", pair.error().c_str());
        return 1;
    }
    auto devsim = pair.spawn(vx::test::netns_pair::b, argv_devsim);
    if (!devsim->wait_for_line("started vxd0", std::chrono::seconds(10))) {
        std::fprintf(stderr, "flashkit_job_times: the simulator did not start\n");
        return 1;
    }
    fs::current_path(scratch);

    std::vector<result_row> results(6);
    pair.in_namespace(vx::test::netns_pair::a, [&] {
        CoInitialize(nullptr);
        {
            CComPtr<IUnknown> unknown;
            CoCreateInstance(CLSID_updater, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&unknown));
            CComPtr<Iupdater> updater = as<Iupdater>(unknown);
            if (!updater)
                return;
            // The same settings for the server's client and the bare one.
            updater->put_timeout(2000);
            updater->put_write_timeout(2000);
            updater->put_retries(2);
            updater->put_holdoff(10);
            tftp& bare = tftp::settings();
            bare.set_timeout(2000);
            bare.set_write_timeout(2000);
            bare.set_retries(2);
            bare.set_holdoff(10);
            updater->init(_bstr_t(folder.c_str()));
            updater->put_debug(1);
            for (int k = 0; k < 6; ++k) {
                const std::string address = "192.168.77." + std::to_string(10 + k);
                qm::ip_address_t device;
                device.parse(address);
                result_row& r = results[static_cast<std::size_t>(k)];
                for (int run = 0; run < runs && r.ok; ++run) {
                    CComPtr<IDispatch> job, unit;
                    auto start = clock_type::now();
                    auto trace = traced(root / "trace", [&] {
                        r.ok = updater->upload(_bstr_t(address.c_str()), &job) == S_OK && finish(job) == 1;
                    });
                    r.upload.push_back(ms_since(start));
                    if (!r.ok)
                        break;
                    r.upload_bytes = 0;
                    r.upload_floor.push_back(replay(device, transfers_of(trace), scratch, r.upload_bytes));
                    as<Ijob>(job)->result(&unit);

                    const std::string target = std::string(img::family_name(families[k].images)) + " version " +
                        img::version_text(run % 2 ? old_version : new_version);
                    CComPtr<IDispatch> version = version_named(updater, target), download;
                    start = clock_type::now();
                    trace = traced(root / "trace", [&] {
                        r.ok = as<Iunit>(unit)->download3(version, 2, 1, 2, &download) == S_OK && finish(download) == 1;
                    });
                    r.download.push_back(ms_since(start));
                    if (!r.ok)
                        break;
                    r.download_bytes = 0;
                    r.download_floor.push_back(replay(device, transfers_of(trace), scratch, r.download_bytes));
                }
            }
            updater->put_debug(0);
        }
        CoUninitialize();
    });
    devsim.reset();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(root);

    std::printf("firmware jobs on the simulator through libflashkit.so vs the bare TFTP client repeating the same "
                "transfers, median of %d runs\n",
                runs);
    std::printf("%-9s %10s %9s %9s %6s   %10s %9s %9s %6s\n", "family", "read KiB", "upload ms", "floor ms", "ratio",
                "moved KiB", "write ms", "floor ms", "ratio");
    bool ok = true;
    for (int k = 0; k < 6; ++k) {
        const result_row& r = results[static_cast<std::size_t>(k)];
        ok = ok && r.ok;
        const double u = median(r.upload), uf = median(r.upload_floor), d = median(r.download),
                     df = median(r.download_floor);
        std::printf("%-9s %10llu %9.1f %9.1f %6.2f   %10llu %9.1f %9.1f %6.2f%s\n", families[k].name,
                    static_cast<unsigned long long>(r.upload_bytes / 1024), u, uf, uf > 0 ? u / uf : 0,
                    static_cast<unsigned long long>(r.download_bytes / 1024), d, df, df > 0 ? d / df : 0,
                    r.ok ? "" : "  FAILED");
    }
    return ok ? 0 : 1;
}
