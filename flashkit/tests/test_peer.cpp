// The TFTP client against tftpd-hpa on loopback inside the test's own network
// namespace (root only), also with packet loss and duplication injected on
// the namespace's loopback by nftables (this kernel has no netem):
// every file arrives intact or the failure is reported with its text.
#include "flashkit/tftp.h"

#include "scratch_folder.h"
#include "snmpd_fixture.h"
#include "tftpd.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

using vx::test::random_text;
using vx::test::text_of;

void spill(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
    std::filesystem::permissions(path, std::filesystem::perms::all);
}

// The written file, read once it has its full length (tftpd-hpa writes each
// block behind its acknowledgement), or when only a fault keeps it short.
std::string written(const std::filesystem::path& path, std::size_t size)
{
    for (int i = 0; i < 3000; ++i) {
        std::error_code error;
        if (std::filesystem::file_size(path, error) >= size && !error)
            break;
        std::this_thread::sleep_for(10ms);
    }
    return text_of(path.string());
}

class TftpdPeer : public ::testing::Test {
protected:
    // The server waits a second before its first resend and gives up after
    // half a minute without an answer: a slow client is never dropped.
    static void SetUpTestSuite() { start_server(1000000); }
    static void start_server(int resend_us)
    {
        if (!vx::test::running_as_root())
            return;
        if (!vx::test::enter_private_netns(&setup_error))
            return;
        root = std::filesystem::temp_directory_path() / ("vx-tftpd-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "srv");
        std::filesystem::create_directories(root / "local");
        std::filesystem::permissions(root / "srv", std::filesystem::perms::all);
        server = new vx::test::tftpd((root / "srv").string(), resend_us);
        // Ready once it listens and a request for a missing file is refused.
        qm::ip_address_t ip;
        ip.parse("127.0.0.1");
        client().set_port(69);
        client().set_timeout(vx::test::tftp_patient_ms);
        client().set_retries(2);
        if (server->wait_listening()) {
            try {
                client().get(ip, "not-there", (root / "local" / "probe").string());
            } catch (const tftp::tftp_exception_t& e) {
                if (e.code == 3)
                    return;
            }
        }
        setup_error = "in.tftpd did not answer";
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        if (!root.empty())
            std::filesystem::remove_all(root);
    }
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error.empty()) << setup_error;
        ip.parse("127.0.0.1");
        client().set_port(69);
        client().set_timeout(vx::test::tftp_patient_ms);
        client().set_write_timeout(vx::test::tftp_patient_ms);
        client().set_retries(2);
        client().set_holdoff(10);
    }

    static tftp& client() { return tftp::settings(); }
    static std::filesystem::path srv(const std::string& name) { return root / "srv" / name; }
    static std::string local(const std::string& name) { return (root / "local" / name).string(); }

    qm::ip_address_t ip;
    static inline std::string setup_error;
    static inline std::filesystem::path root;
    static inline vx::test::tftpd* server = nullptr;
};

TEST_F(TftpdPeer, FilesOfEverySizeArriveIntact)
{
    // Reads of whole blocks end on the server's empty block.
    for (std::size_t size :
         {std::size_t{0}, std::size_t{512}, std::size_t{1024}, std::size_t{0x4000}, std::size_t{1} << 20}) {
        std::string content = random_text(size, static_cast<unsigned>(size));
        spill(srv("get.bin"), content);
        client().get(ip, "get.bin", local("got.bin"));
        EXPECT_TRUE(text_of(local("got.bin")) == content) << size;
    }
    for (std::size_t size : {std::size_t{0}, std::size_t{700}, std::size_t{1024}, std::size_t{1} << 20}) {
        std::string content = random_text(size, static_cast<unsigned>(size) + 1);
        spill(local("put.bin"), content);
        client().put(ip, local("put.bin"), "put" + std::to_string(size));
        EXPECT_TRUE(written(srv("put" + std::to_string(size)), size) == content) << size;
    }
    std::string image = random_text(0x8000, 3);
    spill(local("image.bin"), image);
    client().put_ex(ip, local("image.bin"), "slice", 0x2000, 0x4000);
    EXPECT_TRUE(written(srv("slice"), 0x4000) == image.substr(0x2000, 0x4000));
}

TEST_F(TftpdPeer, RefusalsAndShortEndsAreReported)
{
    try {
        client().get(ip, "missing.bin", local("x"));
        FAIL();
    } catch (const tftp::tftp_exception_t& e) {
        EXPECT_EQ(e.code, 3);
        EXPECT_EQ(std::string(e.what()).rfind("TFTP Error: \"File not found", 0), 0u) << e.what();
    }
    // The server ends a read on a short block; the client waits for an
    // empty one and reports a time-out, not a complete file.
    spill(srv("short.bin"), random_text(700, 5));
    client().set_timeout(200);
    client().set_retries(1);
    try {
        client().get(ip, "short.bin", local("short.bin"));
        FAIL();
    } catch (const tftp::tftp_exception_t& e) {
        EXPECT_EQ(e.code, 4);
    }
}

class LossyPeer : public TftpdPeer {
protected:
    // A short first resend time (50 ms), so that a lost packet costs the
    // server little: the client resends, but a standard server answers only
    // the packet it waits for. Its own give-up after three seconds without
    // an answer is a failure the test reports, never a wrong file.
    static void SetUpTestSuite() { start_server(50000); }
    void SetUp() override
    {
        TftpdPeer::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // One datagram in five is dropped, and one in five of the rest sent twice.
        ASSERT_EQ(std::system("nft -f - <<'EOF'\n"
                              "table netdev vxloss {\n"
                              "  chain ingress {\n"
                              "    type filter hook ingress device lo priority 0;\n"
                              "    ip protocol udp numgen random mod 5 0 drop\n"
                              "    ip protocol udp numgen random mod 5 0 dup to lo\n"
                              "  }\n"
                              "}\n"
                              "EOF"),
                  0);
        // Every loss costs a brief time-out. The client gives up after four
        // seconds without an answer, which outlasts the server's own three:
        // waiting longer for a server that has given up would only add time
        // to a failure the test reports.
        constexpr int32_t lossy_retries = 40;
        client().set_timeout(vx::test::tftp_brief_ms);
        client().set_write_timeout(vx::test::tftp_brief_ms);
        client().set_retries(lossy_retries);
        client().set_holdoff(0);
    }
    void TearDown() override
    {
        if (vx::test::running_as_root())
            std::system("nft delete table netdev vxloss 2>/dev/null");
    }
};

TEST_F(LossyPeer, EveryFileArrivesIntactOrTheFailureIsReported)
{
    const std::string timeout_text =
        "Timeout during firmware file transfer.\r\nPlease check network connections and try again.";
    int intact = 0;
    int reported = 0;
    for (unsigned round = 0; round < 6; ++round) {
        std::string content = random_text(0x8000 + 512 * round, round);
        spill(srv("lossy.bin"), content);
        std::filesystem::remove(local("lossy.bin"));
        try {
            client().get(ip, "lossy.bin", local("lossy.bin"));
            EXPECT_TRUE(text_of(local("lossy.bin")) == content) << "get round " << round << ": corrupt file";
            ++intact;
        } catch (const tftp::tftp_exception_t& e) {
            EXPECT_TRUE(e.what() == timeout_text || std::string(e.what()).rfind("TFTP Error: \"", 0) == 0 ||
                        std::string(e.what()) == "Unexpected error during firmware file transfer.")
                << e.what();
            std::cout << "get round " << round << ": " << e.what() << "\n";
            ++reported;
        }
        std::string sent = random_text(0x6000 + 300 * round, round + 100);
        spill(local("send.bin"), sent);
        try {
            client().put(ip, local("send.bin"), "sent" + std::to_string(round));
            std::string got = written(srv("sent" + std::to_string(round)), sent.size());
            std::size_t at = 0;
            while (at < got.size() && at < sent.size() && got[at] == sent[at])
                ++at;
            EXPECT_TRUE(got == sent) << "put round " << round << ": corrupt file, " << got.size() << " of "
                                     << sent.size() << " bytes, first difference at " << at;
            ++intact;
        } catch (const tftp::tftp_exception_t& e) {
            EXPECT_FALSE(std::string(e.what()).empty());
            std::cout << "put round " << round << ": " << e.what() << "\n";
            ++reported;
        }
    }
    std::cout << intact << " transfers intact, " << reported << " failures reported\n";
    EXPECT_GT(intact, 0);
}

} // namespace
