// TFTP client of the firmware server: octet mode, 512-byte blocks, one socket
// per transfer. It keeps the devices' departures from RFC 1350: a read ends
// only on an empty DATA packet, a write sends no empty DATA packet after a
// full last block (nor for an empty file), and the client alone resends on a
// time-out. One settings record serves the whole process.
#pragma once

#include <qm/address.h>
#include <qm/exception.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

class tftp {
public:
    // code 3: the transfer failed; code 4: the transfer timed out.
    class tftp_exception_t : public qm::exception_t {
    public:
        tftp_exception_t(int32_t code, std::string text) : qm::exception_t(std::move(text)), code(code) {}
        int32_t code = 0;
    };

    enum : int32_t { transfer_failed = 3, transfer_timed_out = 4 };
    static constexpr int packet_size = 516;
    static constexpr int block_size = 512;
    // Room for the request's opcode, "octet" and the two terminators.
    static constexpr std::size_t max_name = 507;

    // The process-wide client with its settings, made on first use.
    static tftp& settings();

    // Remote file into a local file ("wb"), with the read time-out.
    void get(const qm::ip_address_t& device, const std::string& remote, const std::string& local);
    // Whole local file as the remote file, with the write time-out.
    void put(const qm::ip_address_t& device, const std::string& local, const std::string& remote);
    // length bytes of the local file from offset (fewer when the file ends
    // first) as the remote file, with the write time-out.
    void put_ex(const qm::ip_address_t& device, const std::string& local, const std::string& remote, uint32_t offset,
                uint32_t length);

    // Settings. The setters refuse negative values (false, nothing changed):
    // a negative time-out or hold-off would wait without end.
    bool debug() const { return debug_flag.load(); }
    void set_debug(bool on) { debug_flag = on; }
    int32_t timeout() const { return read_timeout_ms.load(); }
    bool set_timeout(int32_t ms) { return store_non_negative(read_timeout_ms, ms); }
    int32_t write_timeout() const { return write_timeout_ms.load(); }
    bool set_write_timeout(int32_t ms) { return store_non_negative(write_timeout_ms, ms); }
    int32_t retries() const { return retry_count.load(); }
    bool set_retries(int32_t count) { return store_non_negative(retry_count, count); }
    int32_t holdoff() const { return holdoff_ms.load(); }
    bool set_holdoff(int32_t ms) { return store_non_negative(holdoff_ms, ms); }
    // The device's server port; 69 unless a test moves it.
    uint16_t port() const { return server_port.load(); }
    void set_port(uint16_t value) { server_port = value; }

    // The most a get takes before it fails: far above any device file, so a
    // device that keeps sending cannot fill the disk. Tests lower it.
    static constexpr uint64_t default_get_limit = 64ull << 20;
    uint64_t get_limit() const { return get_limit_bytes.load(); }
    void set_get_limit(uint64_t bytes) { get_limit_bytes = bytes; }

    // The packet handling of one transfer, apart from its socket: what a
    // received packet does to the local file and what is sent next.
    enum class outcome { go_on, done, failure, repeat };
    struct exchange_t {
        FILE* file = nullptr;
        bool sending = false;    // a put
        uint32_t bytes_left = 0; // a put's bytes still to send
        uint64_t received = 0;   // a get's bytes written so far
        bool have_block = false; // a block was accepted (get) or acknowledged (put)
        uint16_t last_block = 0; // its number
        uint16_t sent_block = 0; // a put's last DATA block sent (0: the request)
        unsigned char send_buffer[packet_size] = {};
        int send_length = 0;
        bool last_is_ack = false;
    };
    // One received packet of data_length bytes behind its 4-byte header.
    outcome handle_packet(exchange_t& x, const unsigned char* packet, int data_length);
    // A request packet; the name must fit and hold no zero byte.
    static int build_request(unsigned char* buffer, uint16_t opcode, const std::string& name);

private:
    tftp() = default;

    static bool store_non_negative(std::atomic<int32_t>& field, int32_t value);

    void transfer(const qm::ip_address_t& device, exchange_t& x, int32_t timeout_ms);
    static bool is_repeat(const exchange_t& x, uint16_t block);

    std::atomic<bool> debug_flag{false};
    std::atomic<int32_t> read_timeout_ms{5000};
    std::atomic<int32_t> write_timeout_ms{30000};
    std::atomic<int32_t> retry_count{4};
    std::atomic<int32_t> holdoff_ms{100};
    std::atomic<uint16_t> server_port{69};
    std::atomic<uint64_t> get_limit_bytes{default_get_limit};
};
