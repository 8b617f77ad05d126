// Any sequence of received packets through the TFTP client's packet handling,
// for a get and for a put, and any name through the request builder. What is
// sent next must always follow from what was accepted: a get acknowledges
// the block it wrote and never writes past its bound; a put sends only the
// block after the one just acknowledged, with the file's next bytes, and
// never more than it has to send.
#include "flashkit/tftp.h"

#include "scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t get_limit = 16 * 1024;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

uint16_t get16(const unsigned char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

struct files_t {
    vx::fuzz::scratch_t scratch{"tftp"};
    std::FILE* source = nullptr; // what a put sends: byte i is i * 7 + 1
    std::FILE* target = nullptr; // what a get writes
    files_t()
    {
        std::vector<unsigned char> bytes(65536);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>(i * 7 + 1);
        scratch.write("source", bytes.data(), bytes.size());
        source = std::fopen(scratch.path("source").c_str(), "rb");
        target = std::fopen(scratch.path("target").c_str(), "w+b");
    }
    ~files_t()
    {
        if (source)
            std::fclose(source);
        if (target)
            std::fclose(target);
    }
};

files_t& files()
{
    static files_t f;
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || !files().source || !files().target)
        return 0;
    tftp& client = tftp::settings();
    client.set_get_limit(get_limit);

    // A request of any name: refused, or exactly the name between the opcode
    // and "octet".
    {
        const size_t name_length = data[0] * 3u % 600u;
        std::string name(name_length, 'n');
        std::memcpy(name.data(), data, std::min(name_length, size));
        unsigned char request[tftp::packet_size];
        try {
            const int length = tftp::build_request(request, 1, name);
            check(static_cast<size_t>(length) == name.size() + 9 &&
                  std::memcmp(request + 2, name.data(), name.size()) == 0);
        } catch (const tftp::tftp_exception_t& e) {
            check(e.code == tftp::transfer_failed &&
                  (name.size() > tftp::max_name || std::memchr(name.data(), 0, name.size())));
        }
    }

    tftp::exchange_t x;
    x.sending = data[0] & 1;
    if (x.sending) {
        x.bytes_left = (static_cast<uint32_t>(data[1]) << 8 | data[2]) % 8192u;
        std::fseek(files().source, 0, SEEK_SET);
        x.file = files().source;
    } else {
        std::fseek(files().target, 0, SEEK_SET);
        x.file = files().target;
    }
    const uint32_t to_send = x.bytes_left;
    uint32_t sent = 0;

    // Packets: a length byte, then that many bytes (a header and data).
    size_t at = 3;
    while (at < size) {
        const size_t wanted = data[at++] * 3u;
        const size_t length = std::min<size_t>(wanted, size - at);
        std::vector<unsigned char> packet(data + at, data + at + length);
        at += length;
        if (packet.size() < 4)
            continue; // the transfer loop refuses a reply shorter than its header
        const tftp::exchange_t before = x;
        tftp::outcome result;
        try {
            result = client.handle_packet(x, packet.data(), static_cast<int>(packet.size()) - 4);
        } catch (const tftp::tftp_exception_t& e) {
            check(get16(packet.data()) == 5 && e.code == tftp::transfer_failed &&
                  std::strncmp(e.what(), "TFTP Error: \"", 13) == 0);
            break;
        }
        const uint16_t block = get16(packet.data() + 2);
        if (result == tftp::outcome::repeat) {
            check(std::memcmp(&before.send_buffer, &x.send_buffer, sizeof x.send_buffer) == 0);
            continue;
        }
        if (result == tftp::outcome::failure)
            break;
        if (!x.sending) {
            // The block's ACK; the bytes written, never past the bound.
            check(x.send_length == 4 && get16(x.send_buffer) == 4 && get16(x.send_buffer + 2) == block);
            check(x.received <= get_limit && static_cast<uint64_t>(std::ftell(x.file)) == x.received);
        } else if (result == tftp::outcome::go_on) {
            // Only the block just sent was acknowledged; the next one carries
            // the next bytes of the file.
            check(block == before.sent_block);
            const uint32_t payload = static_cast<uint32_t>(x.send_length - 4);
            check(get16(x.send_buffer) == 3 && get16(x.send_buffer + 2) == static_cast<uint16_t>(block + 1));
            check(payload == std::min<uint32_t>(512, before.bytes_left) && x.bytes_left == before.bytes_left - payload);
            for (uint32_t i = 0; i < payload; ++i)
                check(x.send_buffer[4 + i] == static_cast<unsigned char>((sent + i) * 7 + 1));
            sent += payload;
            check(sent <= to_send);
        } else {
            check(block == before.sent_block && x.bytes_left == 0);
        }
        if (result == tftp::outcome::done)
            break;
    }
    return 0;
}
