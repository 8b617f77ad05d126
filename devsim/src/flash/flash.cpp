#include "flash/flash.h"

#include <algorithm>

#include "images/words.h"

namespace devsim::flash {

flash_t::flash_t(family f, std::span<const uint8_t> image) : layout_(&layout_of(f))
{
    for (const auto& a : layout_->areas) {
        auto bytes = std::make_shared<std::vector<uint8_t>>(a.size, 0xFF);
        if (a.image_offset >= 0 && static_cast<size_t>(a.image_offset) < image.size()) {
            auto part = image.subspan(a.image_offset);
            std::copy_n(part.begin(), std::min<size_t>(a.size, part.size()), bytes->begin());
        }
        areas_.push_back(std::move(bytes));
    }
    written_.assign(areas_.size(), 0);
}

std::vector<uint8_t>& flash_t::own(size_t area)
{
    if (areas_[area].use_count() > 1)
        areas_[area] = std::make_shared<std::vector<uint8_t>>(*areas_[area]);
    running_.reset();
    dsp_.reset();
    ++changes_;
    return *areas_[area];
}

void flash_t::erase(size_t area)
{
    auto& bytes = own(area);
    std::fill(bytes.begin(), bytes.end(), 0xFF);
    written_[area] = ++clock_;
}

void flash_t::write(size_t area, size_t offset, std::span<const uint8_t> data)
{
    auto& bytes = own(area);
    if (offset >= bytes.size())
        return;
    std::copy_n(data.begin(), std::min(data.size(), bytes.size() - offset), bytes.begin() + offset);
}

std::vector<uint8_t> flash_t::joined(const bank_t& bank) const
{
    std::vector<uint8_t> bytes;
    for (size_t a : bank.areas)
        bytes.insert(bytes.end(), areas_[a]->begin(), areas_[a]->end());
    return bytes;
}

bool flash_t::valid(const bank_t& bank, const std::vector<uint8_t>& bytes) const
{
    if (bank.length == 0)
        return images::uld_check(bytes).valid;
    return images::region_valid(bytes, 0, bank.length, 3);
}

const bank_t* flash_t::newest(const std::vector<bank_t>& banks, std::vector<uint8_t>* out) const
{
    const bank_t* best = nullptr;
    uint64_t best_time = 0;
    for (const auto& bank : banks) {
        uint64_t time = 0;
        for (size_t a : bank.areas)
            time = std::max(time, written_[a]);
        if (best && time <= best_time)
            continue;
        auto bytes = joined(bank);
        if (!valid(bank, bytes))
            continue;
        best = &bank;
        best_time = time;
        if (out)
            *out = std::move(bytes);
    }
    return best;
}

const running_t& flash_t::firmware() const
{
    if (!running_) {
        running_t r;
        if (const bank_t* bank = newest(layout_->code_banks, nullptr)) {
            r.bank = bank->number;
            r.stamp = images::read_stamp(read(bank->areas.front()).subspan(layout_->stamp_offset));
        }
        running_ = r;
    }
    return *running_;
}

std::optional<images::dsp_info_t> flash_t::dsp() const
{
    if (!dsp_) {
        std::vector<uint8_t> bytes;
        dsp_ = newest(layout_->dsp_banks, &bytes) ? images::read_dsp(bytes) : std::nullopt;
    }
    return *dsp_;
}

images::config_t flash_t::config() const
{
    return images::read_config(read(layout_->config_area), layout_->config_offset, layout_->config_width);
}

void flash_t::set_mac(const std::array<uint8_t, 6>& mac)
{
    auto c = config();
    c.mac = mac;
    images::write_config(own(layout_->config_area), layout_->config_offset, layout_->config_width, c);
}

} // namespace devsim::flash
