#include "flashkit/families/recognizers.h"

namespace update {

bool alderamd_recognize(const std::string&, checksums_t&) { return false; }

} // namespace update
