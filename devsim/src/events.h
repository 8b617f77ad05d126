// What the simulator reports: one line per event on standard output, and
// optionally a state file rewritten (atomically) after every change, so that
// tests can follow it either way.
#pragma once

#include <string>

#include "device.h"

namespace devsim {

class event_log_t {
public:
    explicit event_log_t(std::string state_file = {}) : state_file_(std::move(state_file)) {}

    void line(const std::string& text);
    void write_state(const world_t& world);

private:
    std::string state_file_;
};

} // namespace devsim
