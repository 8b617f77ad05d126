// Fault switches of one device's TFTP server, set on the command line or at
// run time by text: "silent", "drop:N", "duplicate:N", "stop-after:N",
// "refuse-write[:FILE]", "corrupt-write[:FILE]" (FILE "*" or absent: every
// file), and "clear".
#pragma once

#include <string>
#include <string_view>

namespace devsim::tftp {

struct faults_t {
    bool silent = false;        // answers nothing at all
    unsigned drop = 0;          // the N-th packet sent from now is lost (once)
    unsigned duplicate = 0;     // the N-th packet sent from now goes out twice (once)
    unsigned stop_after = 0;    // every transfer goes silent after N data blocks
    std::string refuse_write;   // write requests for this file (or "*") get an ERROR
    std::string corrupt_write;  // writes to this file (or "*") store one byte wrong
    unsigned sent = 0;          // packets sent since drop or duplicate was set

    // Applies one switch; false (with `error`) for an unknown or malformed one.
    bool set(std::string_view text, std::string& error);
    // The switches that are on, as set() takes them, blank-separated ("none").
    std::string text() const;

    bool refuses(const std::string& file) const { return matches(refuse_write, file); }
    bool corrupts(const std::string& file) const { return matches(corrupt_write, file); }

private:
    static bool matches(const std::string& pattern, const std::string& file) {
        return !pattern.empty() && (pattern == "*" || pattern == file);
    }
};

}  // namespace devsim::tftp
