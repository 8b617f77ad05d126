// printf-style formatting into strings and streams, cut to 511 characters.
#pragma once

#include <ostream>
#include <string>

namespace qm {

// Replaces the string's contents with the formatted text.
void format_string(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string format_string(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes the formatted text to the stream.
void format_string(std::ostream& os, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace qm
