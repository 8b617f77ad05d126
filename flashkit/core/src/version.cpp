#include "flashkit/version.h"

#include <algorithm>
#include <locale>
#include <sstream>

namespace update {

version_t::version_t(const std::string& name, const checksums_t& record) : file_name(name), checksums(record)
{
    std::string words = name;
    std::replace(words.begin(), words.end(), '_', ' ');
    std::istringstream in(words);
    in.imbue(std::locale::classic());
    std::string word;
    int32_t numbers[3] = {};
    if (in >> word >> numbers[0] >> numbers[1] >> numbers[2]) {
        type_word = word;
        major = numbers[0];
        minor = numbers[1];
        build = numbers[2];
        valid = 1;
        int32_t fourth = 0;
        if (in >> fourth)
            patch = fourth;
    }
    if (checksums.type() < type_cedar || checksums.type() > type_birchamd)
        valid = 0;
}

bool version_t::is_compatible(const version_t* other) const { return other && other->type_word == type_word; }

bool version_t::newer_than(const version_t* other) const
{
    if (!other)
        return true;
    if (other->type_word != type_word)
        return false;
    return other->value() < value();
}

uint32_t version_t::value() const
{
    return (static_cast<uint32_t>(major) << 24) + (static_cast<uint32_t>(minor) << 16) +
        (static_cast<uint32_t>(build) << 8) + static_cast<uint32_t>(patch);
}

} // namespace update
