#include "tftp/faults.h"

#include <charconv>

namespace devsim::tftp {

bool faults_t::set(std::string_view text, std::string& error) {
    auto colon = text.find(':');
    std::string_view name = text.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    auto count = [&](unsigned& field) {
        unsigned n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc{} || end != value.data() + value.size()) {
            error = "expected a number in TFTP fault: " + std::string(text);
            return false;
        }
        field = n;
        sent = 0;
        return true;
    };
    auto file = [&](std::string& field) {
        field = value.empty() ? "*" : std::string(value);
        return true;
    };
    if (name == "silent" && value.empty()) {
        silent = true;
        return true;
    }
    if (name == "clear" && value.empty()) {
        *this = faults_t{};
        return true;
    }
    if (name == "drop") return count(drop);
    if (name == "duplicate") return count(duplicate);
    if (name == "stop-after") return count(stop_after);
    if (name == "refuse-write") return file(refuse_write);
    if (name == "corrupt-write") return file(corrupt_write);
    error = "unknown TFTP fault: " + std::string(text);
    return false;
}

std::string faults_t::text() const {
    std::string out;
    auto add = [&](const std::string& item) { out += (out.empty() ? "" : " ") + item; };
    if (silent) add("silent");
    if (drop) add("drop:" + std::to_string(drop));
    if (duplicate) add("duplicate:" + std::to_string(duplicate));
    if (stop_after) add("stop-after:" + std::to_string(stop_after));
    if (!refuse_write.empty()) add("refuse-write:" + refuse_write);
    if (!corrupt_write.empty()) add("corrupt-write:" + corrupt_write);
    return out.empty() ? "none" : out;
}

}  // namespace devsim::tftp
