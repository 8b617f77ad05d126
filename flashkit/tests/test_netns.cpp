// The TFTP client, the verified write and the probe walk against simulated
// devices of every family over a veth pair (root only): bank files as the
// generated images hold them, the devices' fault switches, and packet loss
// and duplication injected on the client's side of the link.
#include "flashkit/job.h"
#include "flashkit/tftp.h"

#include "images/images.h"
#include "netns.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vx::test::netns_pair;
namespace img = devsim::images;
using bytes_t = std::vector<uint8_t>;

bytes_t read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bytes_t slice(const bytes_t& bytes, std::size_t at, std::size_t size)
{
    return bytes_t(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
}

// A boot file with its configuration area blanked: each device keeps its own
// settings (its MAC) there.
bytes_t without_config(bytes_t boot, std::size_t config_at)
{
    std::fill(boot.begin() + static_cast<std::ptrdiff_t>(config_at),
              boot.begin() + static_cast<std::ptrdiff_t>(config_at + 0x400), 0);
    return boot;
}

// A unit that only says which family's probe file the device served.
template <int32_t Code>
class probed_t : public update::base_t {
public:
    static constexpr int32_t type_code = Code;
    using base_t::base_t;
    void upload(update::checksums_t& record) override { record.set_type(Code); }
    void download(const std::string&, const update::checksums_t&, update::status_t*, int32_t, int32_t,
                  int32_t) override
    {
    }
    void check_update(uint8_t*, const update::checksums_t&, const std::string&) override {}
};

template <int32_t Code>
std::shared_ptr<update::base_t> probe_of(const qm::ip_address_t& ip, update::status_t* status)
{
    static const char* const files[] = {"r2", "f8", "m01", "a01", "c01", "s01"};
    return update::probe(ip, status, files[Code], [&] { return std::make_shared<probed_t<Code>>(ip, status); });
}

class SimulatedDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        pair = std::make_unique<netns_pair>("vxh1", "vxd1");
        ASSERT_TRUE(pair->ok()) << pair->error();
        ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.78.1/24"));
        dir = std::filesystem::temp_directory_path() / ("vx-flashkit-netns-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        client().set_port(69);
        client().set_timeout(300);
        client().set_write_timeout(300);
        client().set_retries(3);
        client().set_holdoff(10);
    }
    void TearDown() override
    {
        devsim.reset();
        pair.reset();
        std::filesystem::remove_all(dir);
    }

    static tftp& client() { return tftp::settings(); }
    static qm::ip_address_t device(int k)
    {
        qm::ip_address_t ip;
        ip.parse("192.168.78." + std::to_string(10 + k));
        return ip;
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    // Devices of the given families, device K loaded with images[K] when given.
    void start(const std::string& families, const std::vector<img::firmware_t>& images,
               std::vector<std::string> options = {})
    {
        std::vector<std::string> argv{vx::test::devsim_path(), "-i", "vxd1", "--period", "60000", "--ip-base",
                                      "192.168.78.10", "--families", families,
                                      "-n", std::to_string(std::count(families.begin(), families.end(), ',') + 1)};
        for (std::size_t k = 0; k < images.size(); ++k) {
            std::string file = path("image" + std::to_string(k) + ".bin");
            img::write_file(file, images[k].bytes);
            argv.push_back("--firmware");
            argv.push_back(std::to_string(k) + "=" + file);
        }
        argv.insert(argv.end(), options.begin(), options.end());
        devsim = pair->spawn(netns_pair::b, argv);
        ASSERT_TRUE(devsim->wait_for_line("started vxd1", 10s));
    }

    template <class F>
    void on_host(F fn)
    {
        pair->in_namespace(netns_pair::a, fn);
    }

    std::unique_ptr<netns_pair> pair;
    std::unique_ptr<vx::test::background_process> devsim;
    std::filesystem::path dir;
};

img::firmware_t image_of(img::family f, img::version_t v = {1, 2, 3, -1})
{
    img::firmware_spec spec;
    spec.fam = f;
    spec.version = v;
    return img::make_firmware(spec);
}

TEST_F(SimulatedDevices, BankFilesReadAndVerifiedWritesOfEveryLayout)
{
    auto alder = image_of(img::family::alder);
    auto cedar = image_of(img::family::cedar);
    auto dogwood = image_of(img::family::dogwood);
    auto newer = image_of(img::family::alder, {1, 21, 0, -1});
    start("alder,cedar,dogwood", {alder, cedar, dogwood});
    on_host([&] {
        struct row {
            int device;
            const char* file;
            const bytes_t& image;
            std::size_t at, size;
        };
        for (const row& r : {row{0, "m01", alder.bytes, 0, 0x4000}, row{0, "m06", alder.bytes, 0x40000, 0x20000},
                             row{1, "r3", cedar.bytes, 0x8000, 0x4000}, row{2, "f8", dogwood.bytes, 0x70000, 0x10000},
                             row{2, "f1", dogwood.bytes, 0, 0x10000}}) {
            client().get(device(r.device), r.file, path(r.file));
            bytes_t got = read_file(path(r.file));
            bytes_t expected = slice(r.image, r.at, r.size);
            if (std::string(r.file) == "f8") {
                got = without_config(got, 0xFC00);
                expected = without_config(expected, 0xFC00);
            }
            EXPECT_TRUE(got == expected) << r.file;
        }

        // New code into the other bank, verified by reading it back, as the
        // families write every bank.
        std::string image = path("newer.bin");
        img::write_file(image, newer.bytes);
        probed_t<2> unit(device(0), nullptr);
        checksum_t code(0, 0x3FFFF, 3);
        unit.put_and_read_back(image, "m08", 0x40000, 0x20000, code);
        unit.put_and_read_back(image, "m09", 0x60000, 0x20000, code);
        EXPECT_TRUE(code.check());
        EXPECT_EQ(code.value(), newer.record[img::code_cs]);
        // An empty write invalidates a bank: it no longer checks.
        unit.put_file(image, "m06", 0, 0);
        checksum_t old(0, 0x3FFFF, 3);
        unit.get_file("m06", path("m06"));
        unit.get_file("m07", path("m07"));
        old.feed(path("m06"));
        old.feed(path("m07"));
        EXPECT_FALSE(old.check());
    });
}

TEST_F(SimulatedDevices, ProbeWalkFindsEachFamily)
{
    update::clear_families();
    update::register_family<probed_t<2>>(&probe_of<2>, nullptr);
    update::register_family<probed_t<3>>(&probe_of<3>, nullptr);
    update::register_family<probed_t<4>>(&probe_of<4>, nullptr);
    update::register_family<probed_t<5>>(&probe_of<5>, nullptr);
    update::register_family<probed_t<0>>(&probe_of<0>, nullptr);
    update::register_family<probed_t<1>>(&probe_of<1>, nullptr);
    start("alder,alderamd,birch,birchamd,cedar,dogwood", {});
    on_host([&] {
        const int32_t expected[] = {2, 3, 4, 5, 0, 1};
        for (int k = 0; k < 6; ++k) {
            update::upload_job_t job(nullptr, device(k), nullptr);
            job.start();
            for (int i = 0; i < 2000 && job.done() == 0; ++i)
                std::this_thread::sleep_for(10ms);
            EXPECT_EQ(job.done(), update::job_t::succeeded) << k << ": " << job.status().text();
            EXPECT_EQ(update::type_code(job.outcome().unit.get()), expected[k]) << k;
        }
        update::upload_job_t nobody(nullptr, device(9), nullptr);
        client().set_retries(0);
        nobody.start();
        for (int i = 0; i < 2000 && nobody.done() == 0; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(nobody.status().text(),
                  "Timeout during firmware file transfer.\r\nPlease check network connections and try again.");
    });
    update::clear_families();
}

TEST_F(SimulatedDevices, FaultSwitchesEndIntactOrWithTheirText)
{
    auto alder = image_of(img::family::alder);
    start("alder,alder,alder,alder,alder,alder", {alder, alder, alder, alder, alder, alder},
          {"--fault", "0=tftp-drop=3", "--fault", "1=tftp-duplicate=4", "--fault", "2=tftp-stop-after=3",
           "--fault", "3=tftp-refuse-write", "--fault", "4=tftp-corrupt-write", "--fault", "5=tftp-silent"});
    on_host([&] {
        const bytes_t boot2 = slice(alder.bytes, 0x4000, 0x2000);
        for (int k : {0, 1}) {
            client().get(device(k), "m02", path("m02"));
            EXPECT_TRUE(read_file(path("m02")) == boot2) << k;
        }
        auto failure = [](const std::function<void()>& transfer) -> std::string {
            try {
                transfer();
            } catch (const tftp::tftp_exception_t& e) {
                return std::to_string(e.code) + " " + e.what();
            }
            return "no failure";
        };
        const std::string timeout =
            "4 Timeout during firmware file transfer.\r\nPlease check network connections and try again.";
        EXPECT_EQ(failure([&] { client().get(device(2), "m02", path("x")); }), timeout);
        EXPECT_EQ(failure([&] { client().get(device(5), "m02", path("x")); }), timeout);
        std::string image = path("image.bin");
        img::write_file(image, alder.bytes);
        EXPECT_EQ(failure([&] { client().put_ex(device(3), image, "m02", 0x4000, 0x2000); }),
                  "3 TFTP Error: \"Access violation\"");
        // A write the device stores wrong is caught by reading it back.
        probed_t<2> unit(device(4), nullptr);
        checksum_t boot(0, 0x6000, 3);
        unit.put_and_read_back(image, "m01", 0, 0x4000, boot);
        unit.put_and_read_back(image, "m02", 0x4000, 0x2000, boot);
        EXPECT_FALSE(boot.check());
    });
}

TEST_F(SimulatedDevices, LossAndDuplicationOnTheLink)
{
    auto dogwood = image_of(img::family::dogwood);
    start("dogwood", {dogwood});
    // One datagram in five arriving at the host is dropped, one in five of
    // the rest doubled; the host's own datagrams cross the link untouched,
    // so the device sees the doubled acknowledgements the client must not
    // multiply.
    ASSERT_EQ(pair->run(netns_pair::a, "nft -f - <<'EOF'\n"
                                       "table netdev vxloss {\n"
                                       "  chain ingress {\n"
                                       "    type filter hook ingress device vxh1 priority 0;\n"
                                       "    ip protocol udp numgen random mod 5 0 drop\n"
                                       "    ip protocol udp numgen random mod 5 0 dup to vxh1\n"
                                       "  }\n"
                                       "}\n"
                                       "EOF"),
              0);
    client().set_timeout(100);
    client().set_write_timeout(100);
    client().set_retries(30);
    client().set_holdoff(0);
    on_host([&] {
        int intact = 0;
        for (const char* file : {"f8", "f1", "f3"}) {
            try {
                client().get(device(0), file, path(file));
                bytes_t expected = slice(dogwood.bytes, file[1] == '8' ? 0x70000 : file[1] == '1' ? 0 : 0x20000,
                                         0x10000);
                bytes_t got = read_file(path(file));
                if (file[1] == '8') {
                    got = without_config(got, 0xFC00);
                    expected = without_config(expected, 0xFC00);
                }
                EXPECT_TRUE(got == expected) << file << ": corrupt file reported as read";
                ++intact;
            } catch (const tftp::tftp_exception_t& e) {
                EXPECT_EQ(e.code, 4) << e.what();
            }
        }
        std::string image = path("image.bin");
        img::write_file(image, dogwood.bytes);
        probed_t<1> unit(device(0), nullptr);
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
