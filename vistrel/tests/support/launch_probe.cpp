#include "launch_probe.h"

#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>

namespace launch_probe {

namespace {

std::string Text(const char* text) { return text ? text : "<null>"; }

void WalkAll(const LaunchBlock& block, const Script& script, Call& call)
{
    call.walker = std::this_thread::get_id();
    do {
        const size_t n = call.walks.size();
        const int all = script.all.empty() ? block.AllDevices : script.all[std::min(n, script.all.size() - 1)];
        Walk walk;
        const char* ip = nullptr;
        for (int r = block.GetFirst(&ip, all);; r = block.GetNext(&ip, all)) {
            walk.push_back({r, Text(ip)});
            if (script.between)
                script.between(call.walks.size(), walk.size() - 1, walk.back());
            if (r == LAUNCH_SELECT_END || walk.size() > 1000)
                break;
        }
        call.walks.push_back(walk);
    } while (script.again && script.again(call.walks.size(), call.walks.back()));
}

int Entry(const char* name, LaunchBlock* block)
{
    const Script script = Next();
    Calls().push_back(
        {name, *block, Text(block->IpAddress), Text(block->WriteCommunity), Text(block->ReadCommunity), {}, {}});
    Call& call = Calls().back();
    if (script.walk == Script::OnCaller) {
        WalkAll(*block, script, call);
    } else if (script.walk == Script::OnWorker) {
        QEventLoop loop;
        std::thread worker([&] {
            WalkAll(*block, script, call);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
    }
    return script.result;
}

} // namespace

void PrintTo(const Step& step, std::ostream* out) { *out << "{" << step.result << ", " << step.ip << "}"; }

Script& Next()
{
    static Script script;
    return script;
}

std::vector<Call>& Calls()
{
    static std::vector<Call> calls;
    return calls;
}

void Reset()
{
    Next() = Script();
    Calls().clear();
}

} // namespace launch_probe

extern "C" __attribute__((visibility("default"))) int RunTunedeck(LaunchBlock* block)
{
    return launch_probe::Entry("RunTunedeck", block);
}

extern "C" __attribute__((visibility("default"))) int RunVeltrixReport(LaunchBlock* block)
{
    return launch_probe::Entry("RunVeltrixReport", block);
}
