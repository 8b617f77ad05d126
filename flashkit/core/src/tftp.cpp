#include "flashkit/tftp.h"

#include "flashkit/local_file.h"
#include "flashkit/status_text.h"

#include <qm/console.h>
#include <qm/errorcode.h>
#include <qm/file.h>
#include <qm/socket.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

namespace {

enum : uint16_t { op_rrq = 1, op_wrq = 2, op_data = 3, op_ack = 4, op_error = 5 };

// Large enough for any datagram, so an oversized reply is seen whole and
// refused instead of arriving cut to the packet size.
constexpr std::size_t receive_capacity = 65536;

void put16(unsigned char* at, uint16_t value)
{
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

uint16_t get16(const unsigned char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

} // namespace

// A block numbered as the last one accepted, or before it (16-bit serial
// order), was seen already: a copy made by the network or a late resend.
// Other numbers are taken as they come.
bool tftp::is_repeat(const exchange_t& x, uint16_t block)
{
    return x.have_block && static_cast<uint16_t>(x.last_block - block) < 0x8000;
}

tftp& tftp::settings()
{
    static tftp instance;
    return instance;
}

bool tftp::store_non_negative(std::atomic<int32_t>& field, int32_t value)
{
    if (value < 0)
        return false;
    field = value;
    return true;
}

int tftp::build_request(unsigned char* buffer, uint16_t opcode, const std::string& name)
{
    if (name.size() > max_name || std::memchr(name.data(), 0, name.size()))
        throw tftp_exception_t(transfer_failed, "TFTP file name longer than 507 characters or not text");
    put16(buffer, opcode);
    int length = 2;
    std::memcpy(buffer + length, name.data(), name.size());
    length += static_cast<int>(name.size());
    buffer[length++] = 0;
    std::memcpy(buffer + length, "octet", 6);
    return length + 6;
}

void tftp::get(const qm::ip_address_t& device, const std::string& remote, const std::string& local)
{
    if (debug())
        qm::console() << "tftp::get : " << remote << "->" << local << std::endl;
    exchange_t x;
    x.send_length = build_request(x.send_buffer, op_rrq, remote);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(update::create_local(local), &std::fclose);
    if (!file)
        throw qm::wapi::exception_t("error opening file");
    x.file = file.get();
    transfer(device, x, timeout());
}

void tftp::put(const qm::ip_address_t& device, const std::string& local, const std::string& remote)
{
    if (debug())
        qm::console() << "tftp::put : " << local << "->" << remote << std::endl;
    exchange_t x;
    x.send_length = build_request(x.send_buffer, op_wrq, remote);
    qm::file_t file;
    file.open(local, "rb");
    x.file = file.get();
    x.sending = true;
    const int64_t size = file.size();
    if (size < 0 || size > UINT32_MAX)
        throw tftp_exception_t(transfer_failed, update::status_text[update::text_transfer_error]);
    x.bytes_left = static_cast<uint32_t>(size);
    transfer(device, x, write_timeout());
}

void tftp::put_ex(const qm::ip_address_t& device, const std::string& local, const std::string& remote, uint32_t offset,
                  uint32_t length)
{
    if (debug())
        qm::console() << "tftp::put_ex : " << local << "->" << remote << " : " << offset << " : " << length
                      << std::endl;
    exchange_t x;
    x.send_length = build_request(x.send_buffer, op_wrq, remote);
    qm::file_t file;
    file.open(local, "rb");
    // Past the end of the file there is nothing to send: only what the file
    // holds from the offset on goes out.
    const int64_t size = file.size();
    const int64_t available = std::max<int64_t>(size - static_cast<int64_t>(offset), 0);
    file.set_position(offset);
    x.file = file.get();
    x.sending = true;
    x.bytes_left = static_cast<uint32_t>(std::min<int64_t>(length, available));
    transfer(device, x, write_timeout());
}

void tftp::transfer(const qm::ip_address_t& device, exchange_t& x, int32_t timeout_ms)
{
    using clock = std::chrono::steady_clock;
    qm::net::socket_client_t sock;
    sock.bind(qm::net::address_t(0, nullptr));
    const DWORD wait = static_cast<DWORD>(std::max<int32_t>(timeout_ms, 0));
    sock.receive_timeout = wait;
    sock.send_timeout = wait;

    qm::net::address_t peer(port(), device.to_string());
    bool port_locked = false;
    int32_t retries_left = retries();
    uint64_t holdoff_total = 0;
    std::vector<unsigned char> packet(receive_capacity);
    outcome result = outcome::go_on;

    while (result == outcome::go_on) {
        sock.send_to(peer, x.send_buffer, x.send_length);
        const auto deadline = clock::now() + std::chrono::milliseconds(wait);
        try {
            for (;;) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
                sock.receive_timeout = static_cast<DWORD>(std::max<decltype(left)>(left, 0));
                qm::net::address_t from;
                int received = sock.receive_from(from, packet.data(), static_cast<int>(packet.size()));
                // Only the device answers, and from the first reply on only
                // from that reply's port; anything else is not ours.
                if (from.sa.sin_addr.s_addr != peer.sa.sin_addr.s_addr)
                    continue;
                if (port_locked && from.sa.sin_port != peer.sa.sin_port)
                    continue;
                if (!port_locked) {
                    peer.sa.sin_port = from.sa.sin_port;
                    port_locked = true;
                }
                if (received < 4 || received > packet_size) {
                    result = outcome::failure;
                    break;
                }
                outcome handled = handle_packet(x, packet.data(), received - 4);
                // A repeat is neither written nor answered: the device sends
                // one packet per packet it receives, so answering it again
                // would double every later block. Time-outs do the resending.
                if (handled == outcome::repeat)
                    continue;
                result = handled;
                retries_left = retries();
                break;
            }
        } catch (const qm::errorcode_t& e) {
            if (debug())
                qm::console() << e.what() << std::endl;
            if (e.code != qm::errorcode_t::qmnet_sock_timeout)
                throw;
            if (retries_left <= 0)
                throw tftp_exception_t(transfer_timed_out, update::status_text[update::text_transfer_timeout]);
            holdoff_total += static_cast<uint64_t>(holdoff());
            Sleep(static_cast<DWORD>(std::min<uint64_t>(holdoff_total, INFINITE - 1)));
            --retries_left;
        }
    }
    if (result == outcome::failure)
        throw tftp_exception_t(transfer_failed, update::status_text[update::text_transfer_error]);
    if (x.last_is_ack)
        sock.send_to(peer, x.send_buffer, x.send_length);
}

tftp::outcome tftp::handle_packet(exchange_t& x, const unsigned char* packet, int data_length)
{
    const uint16_t opcode = get16(packet);
    const uint16_t block = get16(packet + 2);
    switch (opcode) {
    case op_data: {
        if (x.sending)
            return outcome::failure;
        if (!x.file)
            throw qm::wapi::exception_t("file not open");
        if (is_repeat(x, block))
            return outcome::repeat;
        x.have_block = true;
        x.last_block = block;
        put16(x.send_buffer, op_ack);
        put16(x.send_buffer + 2, block);
        x.send_length = 4;
        x.last_is_ack = true;
        if (data_length == 0)
            return outcome::done;
        // A device that keeps sending would fill the disk.
        x.received += static_cast<uint64_t>(data_length);
        if (x.received > get_limit())
            return outcome::failure;
        std::size_t written = std::fwrite(packet + 4, 1, static_cast<std::size_t>(data_length), x.file);
        return written == static_cast<std::size_t>(data_length) ? outcome::go_on : outcome::failure;
    }
    case op_ack: {
        if (!x.sending)
            return outcome::failure;
        if (!x.file)
            throw qm::wapi::exception_t("file not open");
        // Only the block just sent can be acknowledged; an earlier one is a
        // repeat, a later one was never sent.
        if (block != x.sent_block)
            return is_repeat(x, block) ? outcome::repeat : outcome::failure;
        x.have_block = true;
        x.last_block = block;
        if (x.bytes_left == 0)
            return outcome::done;
        const std::size_t wanted = std::min<uint32_t>(block_size, x.bytes_left);
        const std::size_t read = std::fread(x.send_buffer + 4, 1, wanted, x.file);
        x.bytes_left -= static_cast<uint32_t>(read);
        put16(x.send_buffer, op_data);
        x.sent_block = static_cast<uint16_t>(block + 1);
        put16(x.send_buffer + 2, x.sent_block);
        x.send_length = 4 + static_cast<int>(read);
        x.last_is_ack = false;
        // A file that ends before its length was sent would never finish.
        return read == wanted ? outcome::go_on : outcome::failure;
    }
    case op_error: {
        const char* text = reinterpret_cast<const char*>(packet + 4);
        std::size_t length = strnlen(text, static_cast<std::size_t>(data_length));
        std::string message(text, length);
        if (debug())
            qm::console() << message << std::endl;
        throw tftp_exception_t(transfer_failed, "TFTP Error: \"" + message + "\"");
    }
    default:
        return outcome::failure;
    }
}
