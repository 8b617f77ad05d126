// devsim: simulated devices on an Ethernet interface. The main program wires
// the command line to the components and runs them in one poll loop.
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "control/control.h"
#include "images/cli.h"
#include "l2/link.h"
#include "l2/responder.h"
#include "options.h"
#include "snmp/agent.h"
#include "tftp/service.h"
#include "udp/stack.h"

namespace {

volatile sig_atomic_t stop_requested = 0;
void on_stop_signal(int) { stop_requested = 1; }

int run(const devsim::options_t& options)
{
    using namespace devsim;
    world_t world = make_world(options);
    event_log_t log(options.state_file);

    l2::link_t link(options.interface);
    auto send_frame = [&link](const frame_t& f) { return link.send(f); };
    udp::stack_t udp(world, send_frame); // outlives the services that bind its ports
    std::vector<std::unique_ptr<component_t>> components;
    auto responder = std::make_unique<l2::responder_t>(world, log, send_frame, &link, options.period, options.verbose);
    responder->set_ipv4_handler(
        [&udp](const uint8_t* frame, size_t size, bool ready) { udp.handle_frame(frame, size, ready); });
    components.push_back(std::move(responder));
    components.push_back(std::make_unique<snmp::agent_t>(world, udp, log, options.verbose));
    components.push_back(std::make_unique<tftp::service_t>(world, udp, log, options.firmware));
    if (!options.control.empty())
        components.push_back(std::make_unique<control::control_t>(options.control, world, log));

    // The stop signals are blocked except inside ppoll, so none is lost.
    sigset_t blocked, during_poll;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &during_poll);
    sigdelset(&during_poll, SIGTERM);
    sigdelset(&during_poll, SIGINT);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    log.line("started " + world.interface + " " + std::to_string(world.devices.size()));
    for (const auto& d : world.devices)
        log.line("device " + std::to_string(d.index) + " " + mac_text(d.mac) + " " + ip_text(d.ip));
    log.write_state(world);

    std::vector<pollfd> fds;
    std::vector<component_t*> owners;
    while (!stop_requested) {
        auto now = clock_t_::now();
        for (auto& c : components)
            if (c->deadline() <= now)
                c->on_deadline(now);
        auto next = clock_t_::time_point::max();
        fds.clear();
        owners.clear();
        for (auto& c : components) {
            next = std::min(next, c->deadline());
            if (c->fd() >= 0) {
                fds.push_back({c->fd(), POLLIN, 0});
                owners.push_back(c.get());
            }
        }
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - clock_t_::now());
        if (wait.count() < 0)
            wait = std::chrono::nanoseconds(0);
        if (wait > std::chrono::seconds(1))
            wait = std::chrono::seconds(1);
        timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        int ready = ppoll(fds.data(), fds.size(), &timeout, &during_poll);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLERR))
                owners[i]->on_readable();
    }
    const auto& sent = link.sent_counts();
    log.line("sent " + std::to_string(sent.device) + " device frames, " + std::to_string(sent.arp) + " arp, " +
             std::to_string(sent.other) + " other");
    log.line("stopped");
    return 0;
}

// "devsim control PATH COMMAND...": one command to a running simulator.
int send_control(const std::vector<std::string>& args)
{
    if (args.size() < 3) {
        std::fputs("usage: devsim control PATH COMMAND...\n", stderr);
        return 2;
    }
    std::string line;
    for (size_t i = 2; i < args.size(); ++i)
        line += (i > 2 ? " " : "") + args[i];
    std::string answer = devsim::control::send_command(args[1], line);
    std::puts(answer.c_str());
    return answer.rfind("ok", 0) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "control")
        return send_control(args);
    if (!args.empty() && args[0] == "images")
        return devsim::images::images_main({args.begin() + 1, args.end()});
    std::string error;
    auto options = devsim::parse_options(args, error);
    if (!options) {
        std::fprintf(stderr, "devsim: %s\n\n%s", error.c_str(), devsim::usage_text().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(devsim::usage_text().c_str(), stdout);
        return 0;
    }
    try {
        return run(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devsim: %s\n", e.what());
        return 1;
    }
}
