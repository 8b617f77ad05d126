// Firmware folder of 1000 generated images of every family that recognises
// images: a cold scan (every image recognised, the cache written), a warm
// scan (records from "database.ini", no image opened or read) and a scan with
// [options] nocache=1 (every image read again).
// Image bytes read are the process's own read counter less what reading the
// same cache beside no image costs; opens come from the folder's events.
//
//   flashkit_folder_scan [images, default 1000]
#include "flashkit/database.h"
#include "flashkit/families/recognizers.h"

#include "images/images.h"

#include <windows.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
namespace img = devsim::images;

// The recognizer list in its registration order.
bool recognize_any(const std::string& path, update::checksums_t& record)
{
    for (auto recognizer : {&update::alder_recognize, &update::alderamd_recognize, &update::birch_recognize,
                            &update::birchamd_recognize, &update::cedar_recognize, &update::dogwood_recognize}) {
        if (recognizer(path, record))
            return true;
    }
    return false;
}

uint64_t read_bytes_so_far()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

int image_opens(int watch)
{
    int count = 0;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            auto* e = reinterpret_cast<inotify_event*>(p);
            std::string name = e->len ? e->name : "";
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
                ++count;
            p += sizeof(inotify_event) + e->len;
        }
    }
    return count;
}

struct result {
    double ms;
    std::size_t records;
    uint64_t image_bytes;
    int opens;
};

result scan(const fs::path& folder, int watch)
{
    image_opens(watch);
    const uint64_t before = read_bytes_so_far();
    auto t0 = std::chrono::steady_clock::now();
    std::size_t records;
    {
        update::database_t db;
        db.init(folder.string(), &recognize_any);
        records = db.find_all().size();
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    uint64_t read = read_bytes_so_far() - before;
    return {ms, records, read, image_opens(watch)};
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const fs::path folder = fs::temp_directory_path() / ("vx-scan-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    // Generated images of the four families that recognise images, in turn.
    const img::family families[] = {img::family::alder, img::family::birch, img::family::cedar, img::family::dogwood};
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        img::firmware_spec spec;
        spec.fam = families[i % 4];
        spec.version = {1 + i / 10000, (i / 100) % 100, i % 100, -1};
        img::firmware_t image = img::make_firmware(spec);
        img::write_file((folder / img::file_name(spec.fam, spec.version)).string(), image.bytes);
        total += image.bytes.size();
    }

    int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, folder.c_str(), IN_OPEN);
    result cold = scan(folder, watch);
    result warm = scan(folder, watch);
    // The same cache beside no image: what reading the cache itself costs.
    const fs::path bare = folder.string() + "-cache-only";
    fs::create_directories(bare);
    fs::copy_file(folder / "database.ini", bare / "database.ini");
    const uint64_t cache_bytes = scan(bare, watch).image_bytes;
    fs::remove_all(bare);
    for (result* r : {&warm})
        r->image_bytes = r->image_bytes > cache_bytes ? r->image_bytes - cache_bytes : 0;
    WritePrivateProfileStringA("options", "nocache", "1", (folder / "database.ini").c_str());
    result nocache = scan(folder, watch);
    nocache.image_bytes = nocache.image_bytes > cache_bytes ? nocache.image_bytes - cache_bytes : 0;
    close(watch);
    fs::remove_all(folder);

    std::printf("firmware folder of %d images of the alder, birch, cedar and dogwood families, %llu MiB\n", count,
                static_cast<unsigned long long>(total >> 20));
    std::printf("%-10s %10s %8s %14s %12s\n", "scan", "ms", "records", "image bytes", "image opens");
    for (auto [name, r] : {std::pair{"cold", cold}, std::pair{"warm", warm}, std::pair{"nocache", nocache}})
        std::printf("%-10s %10.1f %8zu %14llu %12d\n", name, r.ms, r.records,
                    static_cast<unsigned long long>(r.image_bytes), r.opens);
    std::printf("goal: the warm scan reads no image byte (%s)\n",
                warm.image_bytes == 0 && warm.opens == 0 ? "met" : "NOT met");
    return warm.opens == 0 && warm.image_bytes == 0 && warm.records == static_cast<std::size_t>(count) ? 0 : 1;
}
