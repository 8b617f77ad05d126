#include "tftp/packet.h"

#include <algorithm>

namespace devsim::tftp {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

uint16_t get16(std::span<const uint8_t> p, size_t at)
{
    return p.size() < at + 2 ? 0 : static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

// The NUL-terminated text at `at`; nullopt when no terminator follows.
std::optional<std::string> text_at(std::span<const uint8_t> p, size_t& at)
{
    auto end = std::find(p.begin() + at, p.end(), 0);
    if (end == p.end())
        return std::nullopt;
    std::string text(p.begin() + at, end);
    at = static_cast<size_t>(end - p.begin()) + 1;
    return text;
}

} // namespace

uint16_t opcode_of(std::span<const uint8_t> packet) { return get16(packet, 0); }
uint16_t block_of(std::span<const uint8_t> packet) { return get16(packet, 2); }

std::optional<request_t> parse_request(std::span<const uint8_t> packet)
{
    request_t r;
    r.op = opcode_of(packet);
    if (r.op != op_rrq && r.op != op_wrq)
        return std::nullopt;
    size_t at = 2;
    auto name = text_at(packet, at);
    if (!name)
        return std::nullopt;
    auto mode = text_at(packet, at);
    if (!mode)
        return std::nullopt;
    r.name = std::move(*name);
    r.mode = std::move(*mode);
    return r;
}

std::vector<uint8_t> request_packet(uint16_t op, std::string_view name, std::string_view mode)
{
    std::vector<uint8_t> out;
    put16(out, op);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    out.insert(out.end(), mode.begin(), mode.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> data_packet(uint16_t block, std::span<const uint8_t> data)
{
    std::vector<uint8_t> out;
    out.reserve(4 + data.size());
    put16(out, op_data);
    put16(out, block);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> ack_packet(uint16_t block)
{
    std::vector<uint8_t> out;
    put16(out, op_ack);
    put16(out, block);
    return out;
}

std::vector<uint8_t> error_packet(uint16_t code, std::string_view text)
{
    std::vector<uint8_t> out;
    put16(out, op_error);
    put16(out, code);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

} // namespace devsim::tftp
