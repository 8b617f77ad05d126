// net-snmp's own command-line clients against the simulator's agents over a
// veth pair: reads, walks and typed sets, mixed families and bundle counts,
// and the SNMP fault switches from the command line and the control socket.
// Needs root and the snmp package.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "l2/frames.h"
#include "l2/link.h"
#include "netns.h"

namespace {

using namespace std::chrono_literals;
using vx::test::netns_pair;
const auto capture = vx::test::command_output;

size_t count_lines(const std::string& text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

const std::string E = "1.3.6.1.4.1.2680.1.1";

class SnmpNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        if (vx::test::run_command("command -v snmpget >/dev/null") != 0)
            GTEST_SKIP() << "needs net-snmp's clients";
        pair_ = std::make_unique<netns_pair>("vxh0", "vxd0");
        ASSERT_TRUE(pair_->ok()) << pair_->error();
        ASSERT_TRUE(pair_->add_address(netns_pair::a, "192.168.77.1/24"));
        control_ = "/tmp/devsim-control-" + std::to_string(::getpid());
    }
    void TearDown() override
    {
        devsim_.reset();
        pair_.reset();
    }
    void start(std::vector<std::string> options, bool addressed = true)
    {
        std::vector<std::string> argv{
            vx::test::devsim_path(), "-i", "vxd0", "--period", "60000", "--control", control_};
        if (addressed)
            argv.insert(argv.end(), {"--ip-base", "192.168.77.10"});
        argv.insert(argv.end(), options.begin(), options.end());
        devsim_ = pair_->spawn(netns_pair::b, argv);
        ASSERT_TRUE(devsim_->wait_for_line("started vxd0", 30s));
    }
    // A net-snmp client run in the host namespace; "TOOL ARGS" with v1 added.
    std::string client(const std::string& tool, int device, const std::string& args,
                       const std::string& community = "tagrok", const std::string& timing = "-t 10 -r 2")
    {
        return capture("ip netns exec " + pair_->ns(netns_pair::a) + " " + tool + " -v1 -c " + community + " " +
                       timing + " -On 192.168.77." + std::to_string(10 + device) + " " + args);
    }
    std::string control(const std::string& command)
    {
        return capture(vx::test::devsim_path() + " control " + control_ + " " + command);
    }

    std::unique_ptr<netns_pair> pair_;
    std::unique_ptr<vx::test::background_process> devsim_;
    std::string control_;
};

TEST_F(SnmpNetns, NetSnmpClientsReadWalkAndWriteMixedDevices)
{
    start({"-n", "4", "--families", "alder,birch,cedar,dogwood", "--bundles", "1=16/16", "--bundles", "2=1/1"});

    // Every device answers from its own address with its own family.
    const char* families[] = {"alder", "birch", "cedar", "dogwood"};
    for (int k = 0; k < 4; ++k)
        EXPECT_NE(client("snmpget", k, "1.3.6.1.2.1.1.1.0").find(std::string("STRING: \"") + families[k]),
                  std::string::npos)
            << "device " << k;

    // Bundle counts per device: a walk of the transmitter bundle column.
    EXPECT_EQ(count_lines(client("snmpwalk", 1, E + ".7.1.1.2")), 16u);
    EXPECT_EQ(count_lines(client("snmpwalk", 2, E + ".7.1.1.2")), 1u);
    EXPECT_EQ(count_lines(client("snmpwalk", 2, E + ".7.2.1.3")), 8u) << "one transmitter of eight channels";

    // get-next finds the DSP control table on a device that has a DSP, and
    // nothing of the processor subtree on one that has none.
    std::string entry = client("snmpgetnext", 1, "1.3.6.1.4.1.2680.1.4.2");
    EXPECT_NE(entry.find(".1.3.6.1.4.1.2680.1.4.2."), std::string::npos) << entry;
    EXPECT_NE(entry.find(".1.0 = INTEGER: 8"), std::string::npos) << entry;
    EXPECT_EQ(client("snmpwalk", 0, "1.3.6.1.4.1.2680.1.4").find("INTEGER"), std::string::npos);

    // Typed sets: text, integer and octets; per-device values.
    std::string set = client(
        "snmpset", 0, "1.3.6.1.2.1.1.5.0 s stage-left " + E + ".7.1.1.2.1 i 4242 " + E + ".10.1.4.0 x 01602bfd0001",
        "quenmil");
    EXPECT_NE(set.find("STRING: \"stage-left\""), std::string::npos) << set;
    std::string after = client("snmpget", 0, "1.3.6.1.2.1.1.5.0 " + E + ".7.1.1.2.1 " + E + ".10.1.4.0");
    EXPECT_NE(after.find("\"stage-left\""), std::string::npos) << after;
    EXPECT_NE(after.find("INTEGER: 4242"), std::string::npos) << after;
    EXPECT_NE(after.find("01 60 2B FD 00 01"), std::string::npos) << after;
    EXPECT_NE(client("snmpget", 3, "1.3.6.1.2.1.1.5.0").find("\"dogwood-3\""), std::string::npos);
    EXPECT_TRUE(devsim_->wait_for_line("snmp-set 0 1.3.6.1.2.1.1.5.0=\"stage-left\"", 30s));

    EXPECT_NE(client("snmpset", 0, "1.3.6.1.2.1.1.5.0 i 5", "quenmil").find("badValue"), std::string::npos);
    EXPECT_NE(client("snmpset", 0, "1.3.6.1.2.1.1.1.0 s x", "quenmil").find("noSuchName"), std::string::npos);
    EXPECT_NE(client("snmpget", 0, E + ".99.0").find("noSuchName"), std::string::npos);
    EXPECT_NE(client("snmpset", 0, "1.3.6.1.2.1.1.5.0 s x", "tagrok", "-t 0.3 -r 0").find("Timeout"), std::string::npos)
        << "the read community cannot write";

    // The whole view of a device: every variable once, in order, to the end.
    std::string walk = client("snmpwalk", 3, ".1");
    EXPECT_GT(count_lines(walk), 100u);
    EXPECT_EQ(walk.find("Error"), std::string::npos) << walk.substr(0, 400);
}

TEST_F(SnmpNetns, FaultSwitchesFromTheCommandLineAndAtRunTime)
{
    start({"-n", "3", "--fault", "0=snmp-silent"});
    const std::string name = "1.3.6.1.2.1.1.5.0";
    EXPECT_NE(client("snmpget", 0, name, "tagrok", "-t 0.5 -r 1").find("Timeout"), std::string::npos);
    EXPECT_NE(client("snmpget", 1, name).find("STRING"), std::string::npos);

    EXPECT_EQ(control("fault 1 snmp-error=5"), "ok\n");
    EXPECT_TRUE(devsim_->wait_for_line("fault 1 snmp-error 5", 30s));
    EXPECT_NE(client("snmpget", 1, name).find("genError"), std::string::npos);
    EXPECT_NE(client("snmpset", 1, name + " s renamed", "quenmil").find("genError"), std::string::npos);

    // A late answer misses a short time-out and arrives within a long one.
    EXPECT_EQ(control("fault 2 snmp-late=1500"), "ok\n");
    EXPECT_NE(client("snmpget", 2, name, "tagrok", "-t 0.4 -r 0").find("Timeout"), std::string::npos);
    EXPECT_NE(client("snmpget", 2, name, "tagrok", "-t 15 -r 0").find("alder-2"), std::string::npos);

    EXPECT_EQ(control("clear all"), "ok\n");
    for (int k = 0; k < 3; ++k)
        EXPECT_NE(client("snmpget", k, name).find("alder-" + std::to_string(k)), std::string::npos) << k;
    EXPECT_NE(client("snmpget", 1, name).find("alder-1"), std::string::npos) << "the refused set changed nothing";

    EXPECT_EQ(control("fault 9 snmp-silent").rfind("error", 0), 0u);
    EXPECT_EQ(control("fault 0 snmp-late=0").rfind("error", 0), 0u);
    EXPECT_EQ(control("show 2"), "ok device 2 00:60:2b:10:00:03 192.168.77.12 alder 2/2\n");
}

TEST_F(SnmpNetns, ADeviceAnswersAtTheAddressRarpGaveIt)
{
    start({"-n", "2"}, false);
    EXPECT_NE(client("snmpget", 1, "1.3.6.1.2.1.1.5.0", "tagrok", "-t 0.3 -r 0").find("Timeout"), std::string::npos)
        << "no address, no answer";
    pair_->in_namespace(netns_pair::a, [] {
        devsim::l2::link_t host("vxh0");
        host.send(devsim::build_rarp_reply({0x00, 0x60, 0x2B, 0x10, 0x00, 0x02}, host.own_mac(), 0xC0A84D01,
                                           0xC0A84D0B)); // 192.168.77.11
    });
    ASSERT_TRUE(devsim_->wait_for_line("assigned 00:60:2b:10:00:02 192.168.77.11", 30s));
    EXPECT_NE(client("snmpget", 1, "1.3.6.1.2.1.1.5.0").find("alder-1"), std::string::npos);
    EXPECT_NE(client("snmpget", 1, E + ".9.2.2.0").find("IpAddress: 192.168.77.11"), std::string::npos);
}

} // namespace
