// The TFTP client and the verified write against a simulated device over a
// veth pair (root only), with packet loss and duplication injected on the
// client's side of the link: every file arrives intact or the failure is
// reported with its text, never a corrupt file reported as read.
#include "flashkit/tftp.h"

#include "images/images.h"
#include "netns.h"
#include "scratch_folder.h"
#include "test_family.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

using namespace std::chrono_literals;
using vx::test::bytes_t;
using vx::test::netns_pair;
namespace img = devsim::images;

// The bytes of a bank file; in "f8" the configuration area is blanked, as the
// device keeps its own settings (its MAC) there.
bytes_t bank(const bytes_t& bytes, const std::string& file)
{
    bytes_t out = bytes;
    if (file == "f8")
        std::fill(out.begin() + 0xFC00, out.begin() + 0x10000, 0);
    return out;
}

TEST(SimulatedDevice, LossAndDuplicationOnTheLink)
{
    if (!vx::test::running_as_root())
        GTEST_SKIP() << "needs root for network namespaces";
    vx::test::scratch_folder dir("flashkit-netns");
    img::firmware_spec spec;
    spec.fam = img::family::dogwood;
    spec.version = {1, 2, 3, -1};
    const img::firmware_t dogwood = img::make_firmware(spec);
    const std::string image = dir.file("image.bin", dogwood.bytes);

    netns_pair pair("vxh1", "vxd1");
    ASSERT_TRUE(pair.ok()) << pair.error();
    ASSERT_TRUE(pair.add_address(netns_pair::a, "192.168.78.1/24"));
    auto devsim = pair.spawn(netns_pair::b,
                             {vx::test::devsim_path(), "-i", "vxd1", "--period", "60000", "--ip-base", "192.168.78.10",
                              "--families", "dogwood", "-n", "1", "--firmware", "0=" + image});
    ASSERT_TRUE(devsim->wait_for_line("started vxd1", 30s));
    // One datagram in five arriving at the host is dropped, one in five of
    // the rest doubled; the host's own datagrams cross the link untouched,
    // so the device sees the doubled acknowledgements the client must not
    // multiply.
    ASSERT_EQ(pair.run(netns_pair::a,
                       "nft -f - <<'EOF'\n"
                       "table netdev vxloss {\n"
                       "  chain ingress {\n"
                       "    type filter hook ingress device vxh1 priority 0;\n"
                       "    ip protocol udp numgen random mod 5 0 drop\n"
                       "    ip protocol udp numgen random mod 5 0 dup to vxh1\n"
                       "  }\n"
                       "}\n"
                       "EOF"),
              0);
    // Every loss costs a brief time-out; a transfer gives up only after more
    // than ten seconds without an answer, which the loss alone never makes.
    tftp& client = tftp::settings();
    client.set_port(69);
    client.set_timeout(vx::test::tftp_brief_ms);
    client.set_write_timeout(vx::test::tftp_brief_ms);
    client.set_retries(vx::test::tftp_brief_retries);
    client.set_holdoff(0);
    qm::ip_address_t device;
    device.parse("192.168.78.10");

    pair.in_namespace(netns_pair::a, [&] {
        int intact = 0;
        for (const auto& [file, at] : {std::pair{"f8", 0x70000}, std::pair{"f1", 0}, std::pair{"f3", 0x20000}}) {
            const std::string local = (dir.path / file).string();
            try {
                client.get(device, file, local);
                const bytes_t expected(dogwood.bytes.begin() + at, dogwood.bytes.begin() + at + 0x10000);
                EXPECT_TRUE(bank(vx::test::scratch_folder::read(local), file) == bank(expected, file))
                    << file << ": corrupt file reported as read";
                ++intact;
            } catch (const tftp::tftp_exception_t& e) {
                EXPECT_EQ(e.code, 4) << e.what();
            }
        }
        vx::test::bare_unit_t unit(device, nullptr);
        try {
            checksum_t code(0, 0x7FFE, 3);
            unit.put_and_read_back(image, "f2", 0, 0x10000, code);
            EXPECT_TRUE(code.check()) << "a verified write that does not check";
            ++intact;
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "Unexpected error during firmware file transfer.");
        }
        std::cout << intact << " of 4 transfers intact\n";
        EXPECT_GT(intact, 0);
    });
}

} // namespace
