#include "firmware_folder.h"

#include <filesystem>

namespace vistrel_test {

std::string WriteFirmware(const std::string& folder, devsim::images::family family,
                          const devsim::images::version_t& version, const std::string& word)
{
    namespace images = devsim::images;
    images::firmware_spec spec;
    spec.fam = family;
    spec.version = version;
    spec.seed = 0x5EED0000u + static_cast<uint32_t>(family);
    std::filesystem::create_directories(folder);
    const std::string path =
        folder + "/" + images::file_name(word.empty() ? images::family_name(family) : word, version, ".bin");
    images::write_file(path, images::make_firmware(spec).bytes);
    return path;
}

} // namespace vistrel_test
