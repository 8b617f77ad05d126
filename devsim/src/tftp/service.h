// The devices' flash and TFTP servers in the simulator: port 69 of every
// device, transfer ports from the UDP stack, the tftp-* fault switches of
// the device record, and the device record's firmware, hardware and DSP
// fields kept in step with what its flash holds.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "component.h"
#include "events.h"
#include "flash/flash.h"
#include "tftp/server.h"
#include "udp/stack.h"

namespace devsim::tftp {

class service_t : public component_t {
public:
    // Pause between a change of a flash and the update of its device's record.
    static constexpr std::chrono::milliseconds settle{100};

    // `firmware`: per device (index, or -1 for all, in order) an image file
    // or a version to generate; others get their family's default version.
    // Throws std::runtime_error when an image file cannot be read.
    service_t(world_t& world, udp::stack_t& stack, event_log_t& log,
              const std::vector<std::pair<int, std::string>>& firmware);
    ~service_t() override;

    clock_t_::time_point deadline() const override;
    void on_deadline(clock_t_::time_point now) override;

    flash::flash_t& flash(int device) { return units_.at(static_cast<size_t>(device))->flash; }

private:
    struct unit_t {
        unit_t(device_t& d, const flash::flash_t& f);
        device_t& device;
        flash::flash_t flash;
        faults_t faults;
        long drop_armed = 0; // the tftp-drop value the countdown started from
        long duplicate_armed = 0;
        uint64_t shown = 0; // flash changes the device record shows
        clock_t_::time_point refresh = clock_t_::time_point::max();
        std::optional<images::dsp_info_t> dsp_shown;
        std::unique_ptr<server_t> server;
    };

    void on_datagram(unit_t& unit, const udp::datagram_t& d);
    void take_switches(unit_t& unit);
    void give_back_switches(unit_t& unit);
    // Copies what the flash says into the device record; `announce` logs it.
    void show(unit_t& unit, bool announce);

    udp::stack_t& stack_;
    event_log_t& log_;
    std::vector<std::unique_ptr<unit_t>> units_; // by device index
    bool closing_ = false;
};

} // namespace devsim::tftp
