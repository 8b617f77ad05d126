#include "flashkit/families/recognizers.h"

namespace update {

bool birchamd_recognize(const std::string& path, checksums_t& record)
{
    return birch_family_recognize(path, record, type_birchamd);
}

} // namespace update
