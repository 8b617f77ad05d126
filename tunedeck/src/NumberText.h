// Numbers, MAC addresses and byte strings typed into the dialogs.
#pragma once

#include <cstddef>
#include <cstdint>

// A number as the dialogs accept it: decimal, or hexadecimal after "0x" or
// "X" (either case). Leading blanks are skipped; the number ends at the end
// of the text, a blank or ':'; any other character, no digits at all or a
// value above 0xFFFFFFFF make it no number (false).
bool ParseNumber(const char* text, uint32_t& value);

// Six hexadecimal pairs, separated by ':' or blanks (or not at all).
bool ParseMac(const char* text, unsigned char mac[6]);

// Hexadecimal pairs with blanks and ':' ignored: the number of bytes stored
// (1..maximum), or -1 for an odd digit count, another character, no bytes or
// more than `maximum` bytes.
int ParseHexBytes(const char* text, unsigned char* bytes, int maximum);
