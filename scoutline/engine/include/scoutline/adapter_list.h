// The machine's network adapters as the registry lists them, with the name
// clients choose them by, the name the raw packet library opens, and their
// configured IPv4 address and mask; builds adapter engines on request.
#pragma once

#include <scoutline/adapter.h>
#include <scoutline/types.h>

#include <w32n.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qm::vx {

// Owner of one open registry key handle.
class QMHkey {
public:
    QMHkey() = default;
    explicit QMHkey(HKEY key) : key(key) {}
    virtual ~QMHkey()
    {
        if (key)
            RegCloseKey(key);
    }
    QMHkey(const QMHkey&) = delete;
    QMHkey& operator=(const QMHkey&) = delete;

    // Opens path under HKEY_LOCAL_MACHINE for reading; false when it does not open.
    bool open(const std::string& path);

    HKEY key = nullptr;
};

enum class windows_family_t { windows95, windows2000, windows_nt, other };

class adapter_list_t {
public:
    // Fills a record for an adapter subkey; nonzero ends the scan.
    using registry_source_t = std::function<DWORD(W32N_ADAPTER_INFO& record, const char* subkey)>;

    // The family and records come from the raw packet library.
    adapter_list_t();
    // For a given family and record source.
    adapter_list_t(windows_family_t family, registry_source_t source);

    void names(std::vector<std::string>& out) const;
    // A new engine for the adapter of that name (opened at once), or null.
    std::unique_ptr<adapter_t> create_adapter(const std::string& name) const;

    const std::map<std::string, adapter_info_t>& get_adapters() const { return adapters; }
    const std::map<std::string, std::string>& get_bindings() const { return bindings; }

    static windows_family_t current_family();
    static registry_source_t library_source();

private:
    void scan(windows_family_t family, const registry_source_t& source);
    void fill_bindings();
    bool read_tcpip(const std::string& key_path, adapter_info_t& info);
    bool read_windows95(const std::string& subkey, adapter_info_t& info);

    std::map<std::string, std::string> bindings;
    std::map<std::string, adapter_info_t> adapters;
};

} // namespace qm::vx
