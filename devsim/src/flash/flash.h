// One device's flash: the family's areas, loaded from a firmware image,
// written and erased through the device's TFTP server. What the device runs
// follows the content: the newest valid code bank (the one written last)
// gives the firmware version and hardware value, the newest valid DSP bank
// the DSP program.
//
// Copies share their area buffers until one of them writes (copy on write),
// so many devices loaded from one image cost one image.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "flash/layout.h"

namespace devsim::flash {

struct running_t {
    int bank = -1; // number of the bank that runs; -1: no valid bank
    std::optional<images::stamp_t> stamp;
};

class flash_t {
public:
    // Areas without a place in the image, or beyond its end, start erased.
    flash_t(family f, std::span<const uint8_t> image);

    family fam() const { return layout_->fam; }
    const layout_t& layout() const { return *layout_; }

    std::span<const uint8_t> read(size_t area) const { return *areas_[area]; }
    // Fills the area with 0xFF: an erased bank is an invalid one.
    void erase(size_t area);
    // Stores bytes inside the area (the part beyond its end is dropped).
    void write(size_t area, size_t offset, std::span<const uint8_t> bytes);

    const running_t& firmware() const;
    std::optional<images::dsp_info_t> dsp() const;

    // Counts the changes, so that a watcher can tell the content changed.
    uint64_t changes() const { return changes_; }

    images::config_t config() const;
    void set_mac(const std::array<uint8_t, 6>& mac);

private:
    std::vector<uint8_t>& own(size_t area);
    std::vector<uint8_t> joined(const bank_t& bank) const;
    bool valid(const bank_t& bank, const std::vector<uint8_t>& bytes) const;
    // The valid bank written last (ties: the first in table order).
    const bank_t* newest(const std::vector<bank_t>& banks, std::vector<uint8_t>* bytes) const;

    const layout_t* layout_;
    std::vector<std::shared_ptr<std::vector<uint8_t>>> areas_;
    std::vector<uint64_t> written_; // per area: when last erased (0: loaded)
    uint64_t clock_ = 0;
    uint64_t changes_ = 0;
    mutable std::optional<running_t> running_; // both cached until the next change
    mutable std::optional<std::optional<images::dsp_info_t>> dsp_;
};

} // namespace devsim::flash
