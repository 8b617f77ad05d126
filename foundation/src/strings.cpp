#include "qm/strings.h"

#include "qm/exception.h"

#include <cstdarg>

namespace qm {

void format_string(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    out = vformat_511(format, args);
    va_end(args);
}

std::string format_string(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat_511(format, args);
    va_end(args);
    return text;
}

void format_string(std::ostream& os, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat_511(format, args);
    va_end(args);
    os << text;
}

} // namespace qm
