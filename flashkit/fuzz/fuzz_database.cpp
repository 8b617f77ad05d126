// Any "database.ini" through the firmware folder's cache reader: every record
// it lists is a valid version and answers every search. For one input in
// four the folder's image is new to the cache: the cache written back then
// reads back with the same records.
#include "flashkit/database.h"

#include "scratch.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const vx::fuzz::scratch_t& scratch()
{
    static const vx::fuzz::scratch_t folder("database");
    static const bool image = folder.write("alder_1_0_0.bin", "x", 1);
    (void)image;
    return folder;
}

// The record a recognizer gives the folder's one image, from the input, or
// none (the image is then not recognised).
update::checksums_t image_record;
bool recognizing = false;

bool recognize_stub(const std::string&, update::checksums_t& record)
{
    record = image_record;
    return recognizing;
}

std::map<std::string, update::checksums_t> records_of(update::database_t& db)
{
    std::map<std::string, update::checksums_t> out;
    for (const update::version_ptr& v : db.find_all()) {
        check(v->valid && v->checksums.type() >= 0 && v->checksums.type() <= 5);
        (void)db.display_name(v.get());
        (void)db.image_path(*v);
        (void)db.find_compatible(v.get());
        (void)db.find_prefered(v);
        (void)db.find_sametype(v->checksums.type(), v->minor);
        out.emplace(v->file_name, v->checksums);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks a section to start with, so that short inputs
    // reach the entries; the rest is the file.
    static const char* const heads[] = {"", "[Checksums]\n", "[Device Types]\n", "[options]\n"};
    std::string ini = heads[data[0] % 4];
    ini.append(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int i = 0; i < 8; ++i)
        image_record[i] = size > 1 ? static_cast<uint32_t>(data[(1 + i) % size]) * 0x01010101u : 0;
    image_record.set_type(static_cast<int32_t>(data[0] % 6));
    recognizing = (data[0] & 0x30) == 0;
    if (!scratch().write("database.ini", ini.data(), ini.size()))
        return 0;

    std::map<std::string, update::checksums_t> first;
    {
        update::database_t db;
        db.init(scratch().folder.string(), &recognize_stub);
        first = records_of(db);
        std::string custom;
        update::version_ptr custom_version;
        (void)db.identify(image_record, custom, custom_version);
    } // a new image was recognised: the cache is written back (unless writeini says no)
    if (!recognizing)
        return 0;

    update::database_t again;
    again.init(scratch().folder.string(), &recognize_stub);
    for (const auto& [name, record] : records_of(again)) {
        auto it = first.find(name);
        check(it != first.end());
        for (int w = 0; w < 8; ++w)
            check(w == update::checksums_t::internal || it->second[w] == record[w]);
    }
    return 0;
}
