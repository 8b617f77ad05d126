// The control socket: text commands, one per line, from tests and people
// while the simulator runs (`devsim control PATH COMMAND...` sends one).
// Every line gets one answer line starting with "ok" or "error".
//
// Built-in commands: "fault K|all NAME[=VALUE]", "clear K|all [NAME]",
// "show K", "help". Other parts add their own with add_command.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "component.h"
#include "device.h"
#include "events.h"

namespace devsim::control {

class control_t : public component_t {
public:
    // A command's words after its name; returns the answer line ("ok ...", "error ...").
    using command_fn = std::function<std::string(const std::vector<std::string>& words)>;

    // Listens on a Unix stream socket at `path` (an old socket file there is
    // replaced). Throws std::runtime_error when it cannot.
    control_t(const std::string& path, world_t& world, event_log_t& log);
    ~control_t() override;
    control_t(const control_t&) = delete;
    control_t& operator=(const control_t&) = delete;

    void add_command(const std::string& name, const std::string& usage, command_fn fn);
    // One command line, as if it came from the socket.
    std::string execute(const std::string& line);

    int fd() const override { return epoll_; }
    void on_readable() override;

private:
    struct command {
        std::string usage;
        command_fn fn;
    };
    std::string fault(const std::vector<std::string>& words);
    std::string clear(const std::vector<std::string>& words);
    std::string show(const std::vector<std::string>& words);
    // Devices named by "K" or "all"; empty with `error` set otherwise.
    std::vector<device_t*> targets(const std::string& word, std::string& error);
    void accept_all();
    void serve(int fd);
    void drop(int fd);

    std::string path_;
    world_t& world_;
    event_log_t& log_;
    int listener_ = -1;
    int epoll_ = -1;
    std::map<int, std::string> pending_; // connection -> bytes of an unfinished line
    std::map<std::string, command> commands_;
};

// The client side: sends one command line to the socket at `path` and
// returns the answer line; "error ..." when the simulator cannot be reached.
std::string send_command(const std::string& path, const std::string& line);

} // namespace devsim::control
