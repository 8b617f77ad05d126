// A stand-in configuration library for the launcher's tests: it exports both
// entry points, records the launch block it was given with the texts it
// points at, walks the selection through the block's callbacks (on the
// calling thread, or on a worker thread while the caller's event loop runs,
// as the report entry point does) and returns a scripted result.
#pragma once

#include <tunedeck/LaunchBlock.h>

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace launch_probe {

struct Step {
    int result = -1;
    std::string ip; // the text handed out, "<null>" for none
    bool operator==(const Step&) const = default;
};
void PrintTo(const Step& step, std::ostream* out);
using Walk = std::vector<Step>;

struct Script {
    int result = LAUNCH_OK;
    enum { NoWalk, OnCaller, OnWorker } walk = NoWalk;
    // The all-devices flag of each walk (the last one for the later walks);
    // none: the block's.
    std::vector<int> all;
    // On the walking thread after each step (walk number, step number in it).
    std::function<void(size_t walk, size_t index, const Step& step)> between;
    // After a walk ended: walk once more while this holds.
    std::function<bool(size_t walks, const Walk& last)> again;
};

struct Call {
    std::string entry;
    LaunchBlock block{};
    std::string ip, writeCommunity, readCommunity; // the texts, "<null>" for none
    std::vector<Walk> walks;
    std::thread::id walker; // the thread that walked
};

// The script of every later call; the calls so far.
Script& Next();
std::vector<Call>& Calls();
void Reset();

} // namespace launch_probe
