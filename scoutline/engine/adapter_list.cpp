// The adapter list: network adapters from the registry in the layout of the
// running Windows family (95, 2000 or NT), with their IPv4 configuration.
#include <scoutline/adapter_list.h>

#include <qm/console.h>

#include <w32n.h>

#include <cstring>
#include <ostream>

namespace qm::vx {

namespace {

constexpr DWORD value_buffer = 260;

const char* const class_key_95 = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
const char* const class_key_2000 = "System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char* const class_key_nt = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

// A value of at most 260 bytes; false when it is missing or does not fit.
bool read_value(HKEY key, const char* name, std::string& data)
{
    char buffer[value_buffer + 1] = {};
    DWORD type = 0;
    DWORD size = value_buffer;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS)
        return false;
    data.assign(buffer, size);
    return true;
}

// The first text of a string or multi-string value.
bool read_text(HKEY key, const char* name, std::string& text)
{
    std::string data;
    if (!read_value(key, name, data))
        return false;
    text = data.c_str();
    return true;
}

// Four bytes in network order.
bool read_address_bytes(HKEY key, const char* name, qm::ip_address_t& ip)
{
    std::string data;
    if (!read_value(key, name, data) || data.size() < 4)
        return false;
    ip.assign_network_bytes(reinterpret_cast<const uint8_t*>(data.data()));
    return true;
}

// The first value name of a bindings key other than the default value.
bool first_binding(HKEY key, std::string& binding)
{
    for (DWORD index = 0;; ++index) {
        char name[value_buffer] = {};
        DWORD name_size = sizeof name;
        const LONG result = RegEnumValueA(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return false;
        if (name[0] != '\0' && std::strcmp(name, "(Default)") != 0) {
            binding = name;
            return true;
        }
    }
}

} // namespace

bool QMHkey::open(const std::string& path)
{
    if (key) {
        RegCloseKey(key);
        key = nullptr;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    key = opened;
    return true;
}

windows_family_t adapter_list_t::current_family()
{
    if (W32N_IsWindows95())
        return windows_family_t::windows95;
    if (W32N_IsWindows2000())
        return windows_family_t::windows2000;
    if (W32N_IsWindowsNT())
        return windows_family_t::windows_nt;
    return windows_family_t::other;
}

adapter_list_t::registry_source_t adapter_list_t::library_source()
{
    return [](W32N_ADAPTER_INFO& record, const char* subkey) -> DWORD {
        return W32N_GetAdapterRegistryInfo(&record, subkey);
    };
}

adapter_list_t::adapter_list_t() : adapter_list_t(current_family(), library_source()) {}

adapter_list_t::adapter_list_t(windows_family_t family, registry_source_t source) { scan(family, source); }

void adapter_list_t::names(std::vector<std::string>& out) const
{
    for (const auto& [name, info] : adapters)
        out.push_back(name);
}

std::unique_ptr<adapter_t> adapter_list_t::create_adapter(const std::string& name) const
{
    auto it = adapters.find(name);
    if (it == adapters.end()) {
        qm::console() << "Failed to find the adapter: " << name << std::endl;
        return nullptr;
    }
    return std::make_unique<adapter_t>(it->second);
}

void adapter_list_t::scan(windows_family_t family, const registry_source_t& source)
{
    const char* class_key = nullptr;
    switch (family) {
    case windows_family_t::windows95:
        class_key = class_key_95;
        break;
    case windows_family_t::windows2000:
        class_key = class_key_2000;
        break;
    case windows_family_t::windows_nt:
        class_key = class_key_nt;
        break;
    case windows_family_t::other:
        return;
    }

    if (family == windows_family_t::windows95) {
        fill_bindings();
        for (const auto& [key, value] : bindings)
            qm::console() << key << " = " << value << std::endl;
    }

    QMHkey classes;
    if (!classes.open(class_key))
        return;
    for (DWORD index = 0;; ++index) {
        char subkey[value_buffer] = {};
        if (RegEnumKeyA(classes.key, index, subkey, sizeof subkey) != ERROR_SUCCESS)
            break;

        W32N_ADAPTER_INFO record;
        std::memset(&record, 0, sizeof record);
        if (source(record, subkey) != 0)
            break;
        record.Description[sizeof record.Description - 1] = '\0';
        record.Title[sizeof record.Title - 1] = '\0';
        record.ServiceName[sizeof record.ServiceName - 1] = '\0';

        adapter_info_t info;
        info.description = record.Description;
        info.service = record.ServiceName;
        if (family == windows_family_t::windows95)
            info.name = record.Title;
        else
            info.name = "[" + std::to_string(index) + "] " + record.Title;

        qm::console() << "\nFound adapter " << subkey << " dwIndex=" << index << "\n"
                      << "Description: " << info.description << "\n"
                      << "Title: " << info.name << "\n"
                      << "Service name: " << info.service << std::endl;

        bool listed = false;
        switch (family) {
        case windows_family_t::windows95:
            info.open_name = subkey;
            listed = read_windows95(subkey, info);
            break;
        case windows_family_t::windows2000:
            info.open_name = "\\Device\\" + info.service;
            {
                const std::string path =
                    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + info.service;
                try {
                    listed = read_tcpip(path, info);
                } catch (...) {
                    qm::console() << "Failed to open registry key (Unknown Exception ):" << path << std::endl;
                    listed = false;
                }
            }
            break;
        case windows_family_t::windows_nt:
            info.open_name = "\\Device\\" + info.service;
            listed = read_tcpip("SYSTEM\\CurrentControlSet\\Services\\" + info.service + "\\Parameters\\Tcpip", info);
            break;
        case windows_family_t::other:
            break;
        }
        if (listed)
            adapters[info.name] = info;
    }
}

bool adapter_list_t::read_tcpip(const std::string& key_path, adapter_info_t& info)
{
    QMHkey key;
    std::string dhcp_value;
    if (!key.open(key_path) || !read_value(key.key, "EnableDHCP", dhcp_value)) {
        qm::console() << "Failed to open registry key: " << key_path << std::endl;
        return false;
    }
    const bool dhcp = !dhcp_value.empty() && dhcp_value[0] != '\0';

    std::string text;
    info.ip.clear();
    info.mask.clear();
    if (read_text(key.key, dhcp ? "DhcpIPAddress" : "IPAddress", text))
        info.ip.assign_text(text);
    if (read_text(key.key, dhcp ? "DhcpSubnetMask" : "SubnetMask", text))
        info.mask.assign_text(text);

    qm::console() << "Using dhcp: " << (dhcp ? 1 : 0) << "\n"
                  << "IP Address: " << info.ip << "\n"
                  << "Subnet Mask: " << info.mask << std::endl;
    return true;
}

bool adapter_list_t::read_windows95(const std::string& subkey, adapter_info_t& info)
{
    info.ip.clear();
    info.mask.clear();
    const unsigned long n = std::strtoul(subkey.c_str(), nullptr, 10);

    auto binding = bindings.find("Net\\" + subkey);
    if (binding == bindings.end()) {
        qm::console() << "Adapter Not found" << std::endl;
    } else {
        const std::string network_path = "Enum\\Network\\" + binding->second;
        QMHkey network;
        std::string driver;
        if (!network.open(network_path) || !read_text(network.key, "Driver", driver)) {
            qm::console() << "Failed to open registry key: " << network_path << std::endl;
            return false;
        }

        // A class key that cannot be opened leaves 0.0.0.0; the adapter stays listed.
        const std::string class_path = "SYSTEM\\CurrentControlSet\\Services\\Class\\" + driver;
        QMHkey settings;
        std::string text;
        if (settings.open(class_path)) {
            if (read_text(settings.key, "IPAddress", text))
                info.ip.assign_text(text);
            if (read_text(settings.key, "IPMask", text))
                info.mask.assign_text(text);
        }

        if (info.ip.is_null()) {
            const std::string dhcp_path =
                "SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo0" + std::to_string(n);
            QMHkey dhcp;
            if (dhcp.open(dhcp_path)) {
                qm::ip_address_t server;
                if (!read_address_bytes(dhcp.key, "DhcpServer", server)) {
                    qm::console() << "Failed to open registry key: " << dhcp_path << std::endl;
                    return false;
                }
                if (server.number == 0xFFFFFFFFu) {
                    if (read_text(dhcp.key, "IPAutoconfigurationAddress", text))
                        info.ip.assign_text(text);
                } else {
                    read_address_bytes(dhcp.key, "DhcpIPAddress", info.ip);
                }
                read_address_bytes(dhcp.key, "DhcpSubnetMask", info.mask);
            }
        }
    }

    qm::console() << "IP Address: " << info.ip << "\n"
                  << "Subnet Mask: " << info.mask << std::endl;
    return true;
}

void adapter_list_t::fill_bindings()
{
    // Dial-up adapters.
    {
        const std::string root = "Enum\\Root\\Net";
        QMHkey net;
        bool failed = !net.open(root);
        for (DWORD index = 0; !failed; ++index) {
            char instance[value_buffer] = {};
            if (RegEnumKeyA(net.key, index, instance, sizeof instance) != ERROR_SUCCESS)
                break;
            const std::string instance_path = root + "\\" + instance;
            QMHkey key;
            std::string driver;
            QMHkey binding_key;
            std::string binding;
            if (!key.open(instance_path) || !read_text(key.key, "Driver", driver) ||
                !binding_key.open(instance_path + "\\Bindings") || !first_binding(binding_key.key, binding)) {
                failed = true;
                break;
            }
            bindings[driver] = binding;
        }
        if (failed)
            qm::console() << "Failed to open dial-up registry key" << std::endl;
    }

    // Hardware adapters.
    for (const char* enumerator : {"Enum\\PCI", "Enum\\ISAPNP", "Enum\\PCMCIA"}) {
        QMHkey bus;
        if (!bus.open(enumerator))
            continue;
        bool stopped = false;
        for (DWORD d = 0; !stopped; ++d) {
            char device[value_buffer] = {};
            if (RegEnumKeyA(bus.key, d, device, sizeof device) != ERROR_SUCCESS)
                break;
            const std::string device_path = std::string(enumerator) + "\\" + device;
            QMHkey device_key;
            if (!device_key.open(device_path))
                continue;
            for (DWORD i = 0;; ++i) {
                char instance[value_buffer] = {};
                if (RegEnumKeyA(device_key.key, i, instance, sizeof instance) != ERROR_SUCCESS)
                    break;
                const std::string instance_path = device_path + "\\" + instance;
                QMHkey key;
                std::string driver;
                if (!key.open(instance_path) || !read_text(key.key, "Driver", driver))
                    continue;
                if (driver.size() != 8 || driver.compare(0, 3, "Net") != 0)
                    continue;
                QMHkey binding_key;
                if (!binding_key.open(instance_path + "\\Bindings")) {
                    qm::console() << "Failed to open registry key" << std::endl;
                    stopped = true;
                    break;
                }
                std::string binding;
                if (first_binding(binding_key.key, binding))
                    bindings[driver] = binding;
            }
        }
    }
}

} // namespace qm::vx
