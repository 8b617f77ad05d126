// Feeds arbitrary bytes as a hive file, enumerates everything through the
// Reg* calls, and checks that a parsed hive, damage and all, survives writing
// and re-reading.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "../src/reg_hive.h"

namespace {

void walk(HKEY key, int depth)
{
    DWORD subs = 0, max_sub = 0, values = 0, max_name = 0, max_data = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subs, &max_sub, nullptr, &values, &max_name, &max_data,
                         nullptr, nullptr) != ERROR_SUCCESS)
        abort();
    std::vector<char> name(max_name + 1 > 1 ? max_name + 1 : 2);
    std::vector<BYTE> data(max_data + 1);
    for (DWORD i = 0; i < values && i < 64; ++i) {
        DWORD name_size = static_cast<DWORD>(name.size()), data_size = max_data, type = 0;
        if (RegEnumValueA(key, i, name.data(), &name_size, nullptr, &type, data.data(), &data_size) != ERROR_SUCCESS)
            abort();
        DWORD size = 0;
        if (RegQueryValueExA(key, name.data(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size != data_size)
            abort();
        if (size > 0) {
            DWORD small = size - 1;
            if (RegQueryValueExA(key, name.data(), nullptr, nullptr, data.data(), &small) != ERROR_MORE_DATA)
                abort();
        }
    }
    std::vector<char> sub(max_sub + 1);
    for (DWORD i = 0; i < subs && i < 64; ++i) {
        if (RegEnumKeyA(key, i, sub.data(), static_cast<DWORD>(sub.size())) != ERROR_SUCCESS)
            abort();
        if (depth > 40)
            continue;
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, sub.data(), 0, KEY_READ, &child) != ERROR_SUCCESS)
            abort();
        walk(child, depth + 1);
        if (RegCloseKey(child) != ERROR_SUCCESS)
            abort();
    }
}

size_t kept_lines(const vx::reg::Key& key)
{
    size_t n = key.kept.size();
    for (const auto& sub : key.sub_keys)
        n += kept_lines(sub);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    // Whatever the text, what is written reads back as the same hive: the
    // same keys and values, every kept line, and no new damage.
    vx::reg::Key root;
    std::vector<vx::reg::Damage> damage;
    vx::reg::parse_hive(text, root, damage);
    std::string once = vx::reg::write_hive(root);
    vx::reg::Key again;
    std::vector<vx::reg::Damage> damage_again;
    vx::reg::parse_hive(once, again, damage_again);
    if (vx::reg::write_hive(again) != once || kept_lines(again) != kept_lines(root) ||
        damage_again.size() > damage.size())
        abort();
    // The machine view takes only whole text.
    if (vx_registry_load_machine_text(text.data(), text.size()) !=
        (damage.empty() ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT))
        abort();
    walk(HKEY_LOCAL_MACHINE, 0);
    return 0;
}
