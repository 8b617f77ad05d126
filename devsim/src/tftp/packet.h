// TFTP packets (RFC 1350 layout, numbers 16-bit big-endian).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace devsim::tftp {

enum opcode : uint16_t { op_rrq = 1, op_wrq = 2, op_data = 3, op_ack = 4, op_error = 5 };

inline constexpr size_t block_size = 512;

// 0 for a packet shorter than its opcode.
uint16_t opcode_of(std::span<const uint8_t> packet);
// Block number of DATA and ACK (the second 16-bit field); 0 when too short.
uint16_t block_of(std::span<const uint8_t> packet);

struct request_t {
    uint16_t op = 0;
    std::string name;
    std::string mode;
};
// RRQ or WRQ: opcode, name, 0, mode, 0 (options behind are ignored);
// nullopt when a field is missing or unterminated.
std::optional<request_t> parse_request(std::span<const uint8_t> packet);

std::vector<uint8_t> request_packet(uint16_t op, std::string_view name, std::string_view mode = "octet");
std::vector<uint8_t> data_packet(uint16_t block, std::span<const uint8_t> data);
std::vector<uint8_t> ack_packet(uint16_t block);
std::vector<uint8_t> error_packet(uint16_t code, std::string_view text);

} // namespace devsim::tftp
