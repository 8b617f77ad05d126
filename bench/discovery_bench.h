// A discovery server for benchmarks: the real automation objects over one
// adapter that is known to the registry view only (its engine never opens
// it) and whose device table the bench fills; reached in process and across
// the local-server transport from a child process that serves them on its
// main thread, as the Scoutline program does.
#pragma once

#include <scoutline/com/interfaces.h>

#include <sys/types.h>

#include <string>

class discovery_bench_t {
public:
    // Registers the objects and fills the table with `devices` MACs
    // 00602b000000 + K; with_addresses gives device K the address ip_of(K).
    discovery_bench_t(int devices, bool with_addresses);
    ~discovery_bench_t();
    discovery_bench_t(const discovery_bench_t&) = delete;
    discovery_bench_t& operator=(const discovery_bench_t&) = delete;

    bool ok() const { return local_adapter && remote_adapter; }
    // Stops the child process; the remote objects are released first.
    void stop_server();

    static std::string ip_of(int device); // 10.9.x.y

    CComPtr<Imanager> local, remote;
    CComPtr<Icom_adapter> local_adapter, remote_adapter;

private:
    std::string dir;
    pid_t server = -1;
};
