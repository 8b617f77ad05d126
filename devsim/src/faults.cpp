#include "faults.h"

#include <cerrno>
#include <cstdlib>

namespace devsim {

const std::vector<fault_info>& all_faults()
{
    static const std::vector<fault_info> table = {
        {"snmp-silent", false, 0, 0, "the SNMP agent answers nothing (a set is not applied)"},
        {"snmp-late", true, 1, 600000, "every SNMP answer leaves VALUE ms late (1..600000)"},
        {"snmp-error", true, 1, 18,
         "every SNMP request is answered with error status VALUE\n"
         "                                           (1..18), index 1; nothing is set"},
        {"snmp-uptime", true, 0, 2000000000,
         "sysUpTime stays at VALUE hundredths of a second (for\n"
         "                                           reports compared byte for byte)"},
        {"tftp-silent", false, 0, 0, "the TFTP server answers nothing"},
        {"tftp-drop", true, 1, 1000000,
         "the VALUE-th TFTP packet the device sends from now\n"
         "                                           is lost (once)"},
        {"tftp-duplicate", true, 1, 1000000,
         "the VALUE-th TFTP packet the device sends from now\n"
         "                                           goes out twice (once)"},
        {"tftp-stop-after", true, 1, 1000000, "every TFTP transfer goes silent after VALUE blocks"},
        {"tftp-refuse-write", false, 0, 0, "TFTP write requests get ERROR 2 (Access violation)"},
        {"tftp-corrupt-write", false, 0, 0,
         "every TFTP write stores a byte of its first block\n"
         "                                           wrong"},
    };
    return table;
}

const fault_info* find_fault(const std::string& name)
{
    for (const auto& f : all_faults())
        if (name == f.name)
            return &f;
    return nullptr;
}

std::optional<std::pair<std::string, long>> parse_fault(const std::string& text, std::string& error)
{
    auto eq = text.find('=');
    std::string name = text.substr(0, eq);
    const fault_info* info = find_fault(name);
    if (!info) {
        error = "unknown fault: " + name;
        return std::nullopt;
    }
    if (!info->takes_value) {
        if (eq != std::string::npos) {
            error = "fault " + name + " takes no value";
            return std::nullopt;
        }
        return std::make_pair(name, 1L);
    }
    std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
    char* end = nullptr;
    errno = 0;
    long v = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
    if (value.empty() || errno != 0 || *end != '\0' || v < info->min || v > info->max) {
        error = "fault " + name + " needs a value " + std::to_string(info->min) + ".." + std::to_string(info->max);
        return std::nullopt;
    }
    return std::make_pair(name, v);
}

std::string faults_help()
{
    std::string text;
    for (const auto& f : all_faults()) {
        std::string head = std::string(25, ' ') + f.name + (f.takes_value ? "=VALUE" : "");
        if (head.size() < 42)
            head.resize(42, ' ');
        else
            head += "\n" + std::string(42, ' '); // a long name: the help below it
        text += head + " " + f.help + "\n";
    }
    return text;
}

} // namespace devsim
