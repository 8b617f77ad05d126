// The address history: pairing rules, the allocator, and VXHistory.ini.
#include <scoutline/ip_history.h>

#include <qm/log_file.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace qm::vx;

namespace {

qm::mac_address_t mac(const std::string& text)
{
    qm::mac_address_t m;
    m.assign_text(text);
    return m;
}

qm::ip_address_t ip(const std::string& text)
{
    qm::ip_address_t a;
    a.assign_text(text);
    return a;
}

// The MAC that owns an address, or the address a MAC has, as text; "(none)"
// when the history has no such entry.
std::string owner_text(ip_history_t& h, const std::string& address)
{
    const auto owner = h.owner_of(ip(address));
    return owner ? owner->to_string() : "(none)";
}

std::string address_text(ip_history_t& h, const std::string& m)
{
    const auto address = h.address_of(mac(m));
    return address ? address->to_string() : "(none)";
}

assignment_item_t automatic(const std::string& m) { return assignment_item_t{mac(m), qm::ip_address_t(), 1}; }

class History : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/scoutline-history-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = dir + "/VXHistory.ini";
    }
    void TearDown() override
    {
        std::remove(file.c_str());
        rmdir(dir.c_str());
    }
    std::string read_file()
    {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write_file(const std::string& text) { std::ofstream(file) << text; }

    std::string dir;
    std::string file;
};

} // namespace

TEST_F(History, AddKeepsPairsOneToOne)
{
    ip_history_t h(file);
    h.add(mac("000000000001"), ip("10.0.0.5"));
    h.add(mac("000000000001"), ip("10.0.0.6")); // the device moved
    EXPECT_EQ(h.get_state(ip("10.0.0.5")), ip_state_free);
    EXPECT_FALSE(h.owner_of(ip("10.0.0.5")));
    h.add(mac("000000000002"), ip("10.0.0.6")); // another device took its address
    EXPECT_FALSE(h.address_of(mac("000000000001")));
    EXPECT_EQ(owner_text(h, "10.0.0.6"), "000000000002");
    EXPECT_EQ(h.get_state(ip("10.0.0.6")), ip_state_seen);
    // Null MAC or address: nothing.
    h.add(qm::mac_address_t(), ip("10.0.0.7"));
    h.add(mac("000000000003"), qm::ip_address_t());
    EXPECT_EQ(h.size(), 1u);
}

TEST_F(History, OwnAddressSurvivesClaims)
{
    ip_history_t h(file);
    h.set_range(ip("10.0.0.1"), ip("10.0.0.3"));
    h.mark_own(ip("10.0.0.2"));
    // A station announcing or answering with the adapter's own address does not
    // make it an ordinary address again.
    h.add(mac("000000000001"), ip("10.0.0.2"));
    EXPECT_EQ(h.get_state(ip("10.0.0.2")), ip_state_own);
    h.add(mac("000000000001"), ip("10.0.0.9"));
    EXPECT_EQ(h.get_state(ip("10.0.0.2")), ip_state_own);
    h.add(mac("000000000002"), ip("10.0.0.1"));
    h.add(mac("000000000003"), ip("10.0.0.3"));
    EXPECT_TRUE(h.suggest(automatic("0000000000aa")).is_null());
    // Not even as a remembered address.
    EXPECT_TRUE(h.suggest(automatic("000000000001")).is_null());
    h.mark_own(qm::ip_address_t()); // no address: nothing marked
    EXPECT_EQ(h.get_state(qm::ip_address_t()), ip_state_free);
}

TEST_F(History, SuggestRoundRobinAndRemembered)
{
    ip_history_t h(file);
    h.set_range(ip("10.0.0.10"), ip("10.0.0.12"));
    h.add(mac("000000000001"), ip("10.0.0.10"));
    h.add(mac("000000000002"), ip("10.0.0.11"));
    EXPECT_EQ(h.suggest(automatic("0000000000aa")).to_string(), "10.0.0.12");
    EXPECT_EQ(h.get_cursor().to_string(), "10.0.0.13");
    // The cursor past the end wraps; the chosen address keeps state 0 until heard.
    EXPECT_EQ(h.suggest(automatic("0000000000bb")).to_string(), "10.0.0.12");
    // A device coming back gets its old address without moving the cursor.
    EXPECT_EQ(h.suggest(automatic("000000000001")).to_string(), "10.0.0.10");
    EXPECT_EQ(h.get_cursor().to_string(), "10.0.0.13");
    h.add(mac("0000000000bb"), ip("10.0.0.12"));
    EXPECT_TRUE(h.suggest(automatic("0000000000cc")).is_null());

    // A remembered address outside the range is not handed back.
    h.set_range(ip("10.0.0.20"), ip("10.0.0.21"));
    EXPECT_EQ(h.get_cursor().to_string(), "10.0.0.20");
    EXPECT_EQ(h.suggest(automatic("000000000001")).to_string(), "10.0.0.20");
    EXPECT_EQ(address_text(h, "000000000001"), "10.0.0.10");
}

TEST_F(History, SuggestPrefersFreeOverFileAndHandlesOddRanges)
{
    write_file("[(0) eth]\n000000000001=10.0.0.1\n000000000002=10.0.0.2\n");
    ip_history_t h(file);
    h.load("[0] eth");
    h.set_range(ip("10.0.0.1"), ip("10.0.0.3"));
    EXPECT_EQ(h.suggest(automatic("0000000000aa")).to_string(), "10.0.0.3");
    h.add(mac("0000000000aa"), ip("10.0.0.3"));
    // Only addresses the file remembers are left: the first from the cursor.
    EXPECT_EQ(h.suggest(automatic("0000000000bb")).to_string(), "10.0.0.1");

    // A reversed range is empty.
    h.set_range(ip("10.0.0.9"), ip("10.0.0.8"));
    EXPECT_TRUE(h.suggest(automatic("0000000000bb")).is_null());
    // A range ending at the top of the address space wraps its cursor safely.
    h.set_range(ip("255.255.255.254"), ip("255.255.255.255"));
    EXPECT_EQ(h.suggest(automatic("0000000000bb")).to_string(), "255.255.255.254");
    EXPECT_EQ(h.suggest(automatic("0000000000bb")).to_string(), "255.255.255.255");
    EXPECT_EQ(h.get_cursor().to_string(), "0.0.0.0");
    EXPECT_EQ(h.suggest(automatic("0000000000bb")).to_string(), "255.255.255.254");
    // The whole address space has no 32-bit size: nothing is suggested.
    h.set_range(ip("0.0.0.0"), ip("255.255.255.255"));
    EXPECT_TRUE(h.suggest(automatic("0000000000bb")).is_null());
    EXPECT_TRUE(h.suggest(automatic("0000000000bb")).is_null());
}

TEST_F(History, LoadSaveSectionFile)
{
    write_file("[Timeouts]\nARPSleepMS=10\n[(1) card (x)]\n00602b0a1b2c=192.168.1.23\n"
               "00602B0A1B2D=192.168.1.24\nnot a line\nzz=1.2.3.4\n00602b0a1b2e=junk\n00602b0a1b30=1.2.3\r4\n"
               "00602b0a1b2f=192.168.1.26\n");
    ip_history_t h(file);
    h.load("[1] card [x]");
    // Entries that are not a MAC and an address are skipped; the rest load.
    EXPECT_EQ(h.size(), 3u);
    EXPECT_EQ(h.get_state(ip("192.168.1.24")), ip_state_from_file);
    EXPECT_EQ(owner_text(h, "192.168.1.24"), "00602b0a1b2d");
    EXPECT_EQ(owner_text(h, "192.168.1.26"), "00602b0a1b2f");

    // Two MACs with one address: only the later stays.
    h.add(mac("0000000000aa"), ip("192.168.1.23"));
    h.add(mac("00602b0a1b2d"), ip("192.168.1.2"));
    // A device heard with an address replaces its unreadable entry.
    h.add(mac("00602b0a1b2e"), ip("192.168.1.30"));
    h.save("[1] card [x]");
    const std::string text = read_file();
    EXPECT_NE(text.find("[Timeouts]\nARPSleepMS=10\n"), std::string::npos) << text;
    // Skipped entries stay, except one that cannot be written back as one line.
    EXPECT_NE(text.find("[(1) card (x)]\n00602b0a1b2d=192.168.1.2\n0000000000aa=192.168.1.23\n"
                        "00602b0a1b2f=192.168.1.26\n00602b0a1b2e=192.168.1.30\nzz=1.2.3.4\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("00602b0a1b2c"), std::string::npos) << text;
    EXPECT_EQ(text.find("junk"), std::string::npos) << text;
    EXPECT_EQ(text.find("1b30"), std::string::npos) << text;

    ip_history_t again(file);
    again.load("[1] card [x]");
    EXPECT_EQ(again.size(), 4u);
    EXPECT_EQ(owner_text(again, "192.168.1.2"), "00602b0a1b2d");
    again.save("[1] card [x]");
    EXPECT_EQ(read_file(), text);
}

TEST_F(History, SectionTooLargeToReadIsLeftAsItStands)
{
    // A value past the read ceiling: what follows it cannot be read, so the
    // section must not be rewritten from the part that was.
    const std::string text =
        "[big]\n000000000001=10.0.0.1\n000000000002=" + std::string(5 << 20, '9') + "\n000000000003=10.0.0.3\n";
    write_file(text);
    ip_history_t h(file);
    h.load("big");
    EXPECT_EQ(h.size(), 1u);
    h.add(mac("000000000004"), ip("10.0.0.4"));
    h.save("big");
    EXPECT_TRUE(read_file() == text);
}

TEST_F(History, LargeSectionIsReadWhole)
{
    // 1000 entries are about 26 KB, well past a 16 KiB read: every entry must
    // come back, including the last, and survive a save.
    std::string text = "[big]\n";
    for (int i = 0; i < 1000; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "0000000%05x=10.%d.%d.123\n", i + 1, (i + 1) / 250, (i + 1) % 250);
        text += line;
    }
    write_file(text);
    ip_history_t h(file);
    h.load("big");
    ASSERT_EQ(h.size(), 1000u);
    EXPECT_EQ(owner_text(h, "10.4.0.123"), "0000000003e8");
    h.save("big");
    ip_history_t again(file);
    again.load("big");
    EXPECT_EQ(again.size(), 1000u);
    EXPECT_EQ(address_text(again, "0000000003e8"), "10.4.0.123");
}

TEST_F(History, PlainFileNameLivesBesideTheProgram)
{
    ip_history_t h("VXHistory.ini");
    EXPECT_EQ(h.path(), GetProgramDirectory() + "VXHistory.ini");
    EXPECT_EQ(ip_history_t::section_name("[12] a[b]"), "(12) a(b)");
}
