// Registry tree and its text file format (see win32/registry.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

namespace vx::reg {

struct Value {
    std::string name; // "" = the default value
    DWORD type = 0;
    std::string data; // bytes, exactly as set
};

struct Key {
    std::string name;
    std::vector<Value> values; // creation order
    std::vector<Key> sub_keys; // kept in name order (compare_names)
    // Unreadable lines found under this key, verbatim and in file order;
    // written back after its values (the root's: before anything else), so
    // that they are read back in the same place.
    std::vector<std::string> kept;

    Key* find_sub_key(std::string_view n);
    const Key* find_sub_key(std::string_view n) const;
    Key& add_sub_key(std::string_view n); // finds or inserts in order
    bool remove_sub_key(std::string_view n);
    Value* find_value(std::string_view n);
    const Value* find_value(std::string_view n) const;
    void set_value(std::string_view n, DWORD type, std::string data);
    bool remove_value(std::string_view n);
};

// ASCII case-insensitive comparison; order as the upper-case names.
int compare_names(std::string_view a, std::string_view b);
bool same_names(std::string_view a, std::string_view b);

extern const char* const kHiveHeader;
extern const size_t kMaxDepth; // deepest key path, as on Windows

// One unreadable line of a hive text.
struct Damage {
    size_t line = 0;  // from 1
    std::string what; // the problem
    std::string text; // the line
};

// Parses hive text into root (emptied first), every line it can. An
// unreadable line costs only itself: it is kept in the key it appears under
// and listed in damage. A key line that cannot be read keeps the lines that
// follow it, up to the next good key line, with it (their key is unknown).
// A first line that is not the header is listed, then read as any other.
void parse_hive(std::string_view text, Key& root, std::vector<Damage>& damage);
// The same for text that must be whole (the machine view): false at the
// first unreadable line, root then empty and error "line <n>: <problem>".
bool parse_hive_strict(std::string_view text, Key& root, std::string& error);
std::string write_hive(const Key& root);

// Pieces of the format, shared with the machine view builder.
std::string quote_text(std::string_view bytes);     // "..." with escapes
std::string encode_key_name(std::string_view name); // %XX for '%', '[', ']', controls

} // namespace vx::reg
