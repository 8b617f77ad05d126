// Test support: a scripted device-style TFTP server on a loopback address,
// run on its own thread. Like the devices it answers from a new port, sends
// one packet per packet it receives and never resends on its own; a read
// ends with an empty DATA packet. One transfer at a time: a new request ends
// the one under way, a resend of its own request is recorded and left
// unanswered. Switches make it drop, repeat or mangle packets, and it records
// every packet it received.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vx::test {

struct tftp_packet {
    uint16_t opcode = 0;
    uint16_t block = 0;        // DATA and ACK
    std::string name;          // RRQ and WRQ
    std::size_t data_size = 0; // DATA
    // When the kernel queued it: taken as it is sent (loopback), so the time
    // between two packets is never shortened by a late reader.
    std::chrono::nanoseconds at{0};
};

class tftp_peer {
public:
    // Listens on address:port (port 0: any free one).
    explicit tftp_peer(const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~tftp_peer();
    tftp_peer(const tftp_peer&) = delete;
    tftp_peer& operator=(const tftp_peer&) = delete;

    uint16_t port() const { return listen_port; }

    // Served files by name; writes land here too.
    void set_file(const std::string& name, std::string content);
    std::string file(const std::string& name);
    bool has_file(const std::string& name);

    // Behaviour switches, set before the transfer.
    std::atomic<bool> silent{false};         // never answers
    std::atomic<int> drop_data{0};           // DATA blocks (by number) not sent the first time
    std::atomic<int> drop_data_also{0};      // and a second one
    std::atomic<int> drop_ack{-1};           // ACKs (by number) not sent the first time
    std::atomic<bool> repeat_data{false};    // every DATA sent twice
    std::atomic<bool> repeat_ack{false};     // every ACK sent twice
    std::atomic<int> reply_size{0};          // >0: the first reply is this many bytes of junk
    std::atomic<int> ack_ahead{0};           // the DATA block of this number is acknowledged as the next one
    std::atomic<int> first_reply_late_ms{0}; // the first reply leaves this long after the request
    // Non-empty: a request is answered by ERROR with this text.
    void set_error_text(const std::string& text);
    // Non-empty: a junk DATA 1 from this address precedes the first reply.
    void set_foreign_address(const std::string& address);
    std::atomic<bool> foreign_port{false}; // a junk DATA from another port of the same address too

    // Packets received so far, in order.
    std::vector<tftp_packet> received();
    // Waits until at least n packets arrived (false on time-out).
    bool wait_for(std::size_t n, int timeout_ms = 30000);

private:
    void serve();
    void session(int sock, const tftp_packet& request, const sockaddr_in& client);
    void note(const tftp_packet& p);

    int listen_socket = -1;
    uint16_t listen_port = 0;
    std::string address;
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, std::string> files;
    std::string error_text;
    std::string foreign_address;
    std::vector<tftp_packet> log;
    std::thread worker;
};

} // namespace vx::test
