// Registry tree operations and the hive text format.
#include "reg_hive.h"

#include "win32/registry.h"

#include <algorithm>
#include <cstdio>

namespace vx::reg {

const char* const kHiveHeader = "; veltrix registry hive 1";
const size_t kMaxDepth = 512;

namespace {

unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c; }

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char kHex[] = "0123456789abcdef";

void append_hex_byte(std::string& out, unsigned char b)
{
    out += kHex[b >> 4];
    out += kHex[b & 15];
}

} // namespace

int compare_names(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = upper(static_cast<unsigned char>(a[i])), y = upper(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool same_names(std::string_view a, std::string_view b) { return a.size() == b.size() && compare_names(a, b) == 0; }

Key* Key::find_sub_key(std::string_view n)
{
    auto it = std::lower_bound(sub_keys.begin(), sub_keys.end(), n,
                               [](const Key& k, std::string_view v) { return compare_names(k.name, v) < 0; });
    return it != sub_keys.end() && same_names(it->name, n) ? &*it : nullptr;
}

const Key* Key::find_sub_key(std::string_view n) const { return const_cast<Key*>(this)->find_sub_key(n); }

Key& Key::add_sub_key(std::string_view n)
{
    auto it = std::lower_bound(sub_keys.begin(), sub_keys.end(), n,
                               [](const Key& k, std::string_view v) { return compare_names(k.name, v) < 0; });
    if (it != sub_keys.end() && same_names(it->name, n))
        return *it;
    Key k;
    k.name = std::string(n);
    return *sub_keys.insert(it, std::move(k));
}

namespace {

// Erases the entry called n; false when there is none.
template <class List> bool remove_named(List& list, std::string_view n)
{
    for (auto it = list.begin(); it != list.end(); ++it)
        if (same_names(it->name, n)) {
            list.erase(it);
            return true;
        }
    return false;
}

} // namespace

bool Key::remove_sub_key(std::string_view n) { return remove_named(sub_keys, n); }

Value* Key::find_value(std::string_view n)
{
    for (auto& v : values)
        if (same_names(v.name, n))
            return &v;
    return nullptr;
}

const Value* Key::find_value(std::string_view n) const { return const_cast<Key*>(this)->find_value(n); }

void Key::set_value(std::string_view n, DWORD type, std::string data)
{
    if (Value* v = find_value(n)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    values.push_back(Value{std::string(n), type, std::move(data)});
}

bool Key::remove_value(std::string_view n) { return remove_named(values, n); }

std::string quote_text(std::string_view bytes)
{
    std::string out = "\"";
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case 0:
            out += "\\0";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                append_hex_byte(out, c);
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string encode_key_name(std::string_view name)
{
    std::string out;
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '%' || c == '[' || c == ']' || c < 0x20 || c == 0x7f) {
            out += '%';
            append_hex_byte(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

namespace {

void write_value(const Value& v, std::string& out)
{
    out += v.name.empty() ? std::string("@") : quote_text(v.name);
    out += '=';
    switch (v.type) {
    case REG_DWORD:
        if (v.data.size() == 4) {
            uint32_t n = 0;
            for (int i = 3; i >= 0; --i)
                n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x", n);
            out += buf;
            break;
        }
        [[fallthrough]];
    default: {
        if (v.type == REG_BINARY) {
            out += "hex:";
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            out += buf;
        }
        for (size_t i = 0; i < v.data.size(); ++i) {
            if (i)
                out += ',';
            append_hex_byte(out, static_cast<unsigned char>(v.data[i]));
        }
        break;
    }
    case REG_SZ:
        out += "sz:" + quote_text(v.data);
        break;
    case REG_EXPAND_SZ:
        out += "expand_sz:" + quote_text(v.data);
        break;
    case REG_MULTI_SZ:
        out += "multi_sz:" + quote_text(v.data);
        break;
    }
    out += '\n';
}

void write_key(const Key& key, const std::string& path, bool is_root, std::string& out)
{
    auto write_kept = [&] {
        for (const auto& line : key.kept)
            out += line + "\n";
    };
    // The root's kept lines stand before any key line, where they were read.
    if (is_root)
        write_kept();
    if (!is_root || !key.values.empty())
        out += "[" + path + "]\n";
    for (const auto& v : key.values)
        write_value(v, out);
    if (!is_root)
        write_kept();
    for (const auto& sub : key.sub_keys)
        write_key(sub, is_root ? encode_key_name(sub.name) : path + "\\" + encode_key_name(sub.name), false, out);
}

// Reads a quoted text with escapes at text[pos] (the opening quote); pos
// ends after the closing quote.
bool read_quoted(std::string_view text, size_t& pos, std::string& out, std::string& error)
{
    out.clear();
    if (pos >= text.size() || text[pos] != '"') {
        error = "expected '\"'";
        return false;
    }
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= text.size())
            break;
        switch (text[pos]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case '0':
            out += '\0';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            int hi = pos + 1 < text.size() ? hex_digit(text[pos + 1]) : -1;
            int lo = pos + 2 < text.size() ? hex_digit(text[pos + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "bad \\x escape";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default:
            error = "unknown escape";
            return false;
        }
    }
    error = "unterminated text";
    return false;
}

bool read_hex_list(std::string_view s, std::string& out, std::string& error)
{
    out.clear();
    if (s.empty())
        return true;
    size_t pos = 0;
    for (;;) {
        if (pos + 2 > s.size()) {
            error = "bad hex byte";
            return false;
        }
        int hi = hex_digit(s[pos]), lo = hex_digit(s[pos + 1]);
        if (hi < 0 || lo < 0) {
            error = "bad hex byte";
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        if (pos == s.size())
            return true;
        if (s[pos] != ',') {
            error = "expected ','";
            return false;
        }
        ++pos;
    }
}

bool parse_key_path(std::string_view s, std::vector<std::string>& parts, std::string& error)
{
    parts.clear();
    if (s.empty())
        return true; // the root
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\') {
            if (cur.empty()) {
                error = "empty key name";
                return false;
            }
            parts.push_back(std::move(cur));
            cur.clear();
        } else if (c == '%') {
            int hi = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
            int lo = i + 2 < s.size() ? hex_digit(s[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "bad % escape in key name";
                return false;
            }
            if (hi == 0 && lo == 0) {
                error = "NUL in a key name";
                return false;
            }
            // A backslash separates keys: no name holds one, and it could
            // not be written back as part of a name.
            if (hi * 16 + lo == '\\') {
                error = "backslash in a key name";
                return false;
            }
            cur += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '[' || c == ']' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            error = "unescaped character in key name";
            return false;
        } else {
            cur += c;
        }
    }
    if (cur.empty()) {
        error = "empty key name";
        return false;
    }
    parts.push_back(std::move(cur));
    if (parts.size() > kMaxDepth) {
        error = "key nested too deep";
        return false;
    }
    return true;
}

bool parse_value_line(std::string_view line, Key& key, std::string& error)
{
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
        pos = 1;
    } else if (!read_quoted(line, pos, name, error)) {
        return false;
    } else if (name.empty()) {
        error = "empty value name (use @)";
        return false;
    } else if (name.find('\0') != std::string::npos) {
        error = "NUL in a value name";
        return false;
    }
    if (pos >= line.size() || line[pos] != '=') {
        error = "expected '='";
        return false;
    }
    std::string_view rest = line.substr(pos + 1);
    size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        error = "expected a type";
        return false;
    }
    std::string_view type = rest.substr(0, colon);
    std::string_view body = rest.substr(colon + 1);
    std::string data;
    DWORD t = 0;
    if (type == "dword") {
        if (body.size() != 8) {
            error = "dword needs 8 hex digits";
            return false;
        }
        uint32_t n = 0;
        for (char c : body) {
            int d = hex_digit(c);
            if (d < 0) {
                error = "bad dword";
                return false;
            }
            n = (n << 4) | static_cast<uint32_t>(d);
        }
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>((n >> (8 * i)) & 0xff);
        t = REG_DWORD;
    } else if (type == "sz" || type == "expand_sz" || type == "multi_sz") {
        size_t p = 0;
        if (!read_quoted(body, p, data, error))
            return false;
        if (p != body.size()) {
            error = "text after the closing quote";
            return false;
        }
        t = type == "sz" ? REG_SZ : type == "expand_sz" ? REG_EXPAND_SZ : REG_MULTI_SZ;
    } else if (type == "hex") {
        if (!read_hex_list(body, data, error))
            return false;
        t = REG_BINARY;
    } else if (type.size() > 5 && type.substr(0, 4) == "hex(" && type.back() == ')') {
        std::string_view num = type.substr(4, type.size() - 5);
        if (num.size() > 8) {
            error = "bad type number";
            return false;
        }
        for (char c : num) {
            int d = hex_digit(c);
            if (d < 0) {
                error = "bad type number";
                return false;
            }
            t = (t << 4) | static_cast<DWORD>(d);
        }
        if (!read_hex_list(body, data, error))
            return false;
    } else {
        error = "unknown value type";
        return false;
    }
    key.set_value(name, t, std::move(data));
    return true;
}

} // namespace

std::string write_hive(const Key& root)
{
    std::string out = std::string(kHiveHeader) + "\n";
    write_key(root, "", true, out);
    return out;
}

void parse_hive(std::string_view text, Key& root, std::vector<Damage>& damage)
{
    root = Key{};
    damage.clear();
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return;               // empty file: empty hive
    Key* current = nullptr;   // null before the first key line: the root keeps what comes
    bool unknown_key = false; // after an unreadable key line, until the next good one
    size_t pos = 0;
    size_t line_no = 0;
    std::vector<std::string> parts;
    Key scratch;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        const std::string_view raw = text.substr(pos, end - pos); // kept as it is
        std::string_view line = raw;
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++line_no;
        if (line_no == 1) {
            if (line == kHiveHeader)
                continue;
            damage.push_back(Damage{1, "not a veltrix registry hive (first line)", std::string(line)});
        }
        if (line.empty() || line[0] == ';')
            continue;
        Key& holder = current ? *current : root;
        std::string what;
        bool ok = true;
        if (line[0] == '[') {
            if (line.back() != ']') {
                ok = false;
                what = "key line without ']'";
            } else if ((ok = parse_key_path(line.substr(1, line.size() - 2), parts, what))) {
                current = &root;
                for (const auto& p : parts)
                    current = &current->add_sub_key(p);
                unknown_key = false;
                continue;
            }
            unknown_key = true;
        } else if (line[0] == '"' || line[0] == '@') {
            if (unknown_key) {
                scratch.values.clear();
                ok = parse_value_line(line, scratch, what);
            } else if (!current) {
                ok = false;
                what = "value before any key";
            } else if (parse_value_line(line, *current, what)) {
                continue;
            } else {
                ok = false;
            }
        } else {
            ok = false;
            what = "unrecognised line";
        }
        holder.kept.emplace_back(raw);
        // A bad first line is listed once, as not being the header.
        if (!ok && line_no != 1)
            damage.push_back(Damage{line_no, std::move(what), std::string(line)});
    }
}

bool parse_hive_strict(std::string_view text, Key& root, std::string& error)
{
    std::vector<Damage> damage;
    parse_hive(text, root, damage);
    if (damage.empty())
        return true;
    root = Key{};
    error = "line " + std::to_string(damage.front().line) + ": " + damage.front().what;
    return false;
}

} // namespace vx::reg
