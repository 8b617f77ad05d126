// The device table and the poll view against the fake servers: device
// events, watches, value display, the list rows, sorting and the copy text.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "PollView.h"

#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

using namespace vistrel_test;

namespace {

const std::string description = "1.3.6.1.2.1.1.1.0";
const std::string octets = "1.3.6.1.2.1.2.2.1.10.1";

const char* const columns_ini = "[Default Columns]\n"
                                "Description=S,1.3.6.1.2.1.1.1.0\n"
                                "Octets=D,1.3.6.1.2.1.2.2.1.10.1\n"
                                "Pair=D,1.3.9.1,1.3.9.2\n"
                                "Spare=D,1.3.9.3\n"
                                "[Start Up Columns]\n"
                                "Description=150\n"
                                "Octets=60\n"
                                "Pair=70\n";

// The table with its events recorded.
class RecordingTable : public DeviceTable {
public:
    std::vector<std::string> log;
    void OnDeviceUp(const std::string& ip, DeviceRecord& r) override { log.push_back("up " + ip + " " + r.mac); }
    void OnDeviceDown(const std::string& ip, DeviceRecord& r) override { log.push_back("down " + ip + " " + r.mac); }
    void OnDeviceRefresh(const std::string& ip, DeviceRecord& r) override
    {
        log.push_back("refresh " + ip + " " + r.mac);
    }
    void Use(Icom_adapter* a) { adapter = a; }
    std::string IpOwner(const std::string& ip) const
    {
        auto it = byIp.find(ip);
        return it == byIp.end() ? "none" : it->second->mac;
    }
};

// Runs body with the poll view set up on a live list.
void WithList(PollView& view, const std::function<void(CListCtrl*)>& body)
{
    CMenu menu;
    menu.CreatePopupMenu();
    WithListControl([&](CListCtrl* list) {
        UINT more = 0;
        view.SetUpList(list, &menu, more);
        body(list);
    });
}

class PollViewTest : public ::testing::Test {
protected:
    ScopedIni ini{columns_ini};
    FakeServers servers;
    FakeAdapter& eth0() { return World().adapters["eth0"]; }
};

} // namespace

TEST(DeviceTable, StateMachineReportsAddressesComingAndGoing)
{
    ScopedIni ini;
    RecordingTable t;
    ASSERT_EQ(t.AgeLimit(), 5000);
    const struct {
        const char* mac;
        const char* ip;
        int age;
        std::vector<std::string> events;
    } steps[] = {
        {"a1", "0.0.0.0", 0, {}},                                       // no address: nothing to poll
        {"a1", "10.0.0.5", 10, {"up 10.0.0.5 a1"}},                     // gets one
        {"a1", "10.0.0.6", 10, {"down 10.0.0.5 a1", "up 10.0.0.6 a1"}}, // moves
        {"a1", "10.0.0.6", 5000, {"down 10.0.0.6 a1"}},                 // exactly the limit: dead
        {"a1", "10.0.0.6", 6000, {}},                                   // still dead
        {"a1", "0.0.0.0", 6000, {"down 10.0.0.6 a1"}},                  // cleared while dead
        {"b2", "10.0.0.7", 9000, {}},                                   // new and already dead
        {"b2", "10.0.0.7", 100, {"up 10.0.0.7 b2"}},                    // comes alive
        {"c3", "garbage", 0, {}},                                       // unreadable address: none
        {"b2", "10.0.0.8", 9000, {"down 10.0.0.7 b2"}},                 // moves while turning dead
    };
    for (const auto& s : steps) {
        t.log.clear();
        t.Upsert(s.mac, s.ip, s.age);
        EXPECT_EQ(t.log, s.events) << s.mac << " " << s.ip << " " << s.age;
    }
    EXPECT_EQ(t.Count(), 3);
    EXPECT_EQ(t.ActiveCount(), 1) << "only c3; a1 and b2 are dead";
    EXPECT_EQ(t.IpOwner("10.0.0.8"), "b2") << "a dead device keeps its entry";
}

TEST(DeviceTable, AddressConflictKeepsTheOtherDevicesEntry)
{
    ScopedIni ini;
    RecordingTable t;
    t.Upsert("a1", "10.0.0.5", 0);
    t.Upsert("b2", "10.0.0.5", 0);
    EXPECT_EQ(t.IpOwner("10.0.0.5"), "b2") << "the last one updated";
    t.Upsert("a1", "10.0.0.9", 0);
    EXPECT_EQ(t.IpOwner("10.0.0.5"), "b2") << "a1 moving away must not drop b2 from polling";
    t.log.clear();
    t.NotifyAll();
    EXPECT_EQ(t.log, (std::vector<std::string>{"refresh 10.0.0.5 b2", "refresh 10.0.0.9 a1"}));
}

TEST(DeviceTable, RefreshWalksTheServerWithItsAgeLimitAndTheAdaptersNetwork)
{
    ScopedIni ini("[Configuration]\nAge To Die=1000\n");
    FakeServers servers;
    auto& devices = World().adapters["eth0"].devices;
    devices["00602b000001"] = {"192.168.1.10", 10};
    devices["00602b000002"] = {"0.0.0.0", 10};
    devices["00602b000003"] = {"192.168.1.12", 1000};
    RecordingTable t;
    t.Refresh(); // no adapter yet: nothing
    EXPECT_EQ(t.Count(), 0);
    t.Use(AdapterObject());
    t.Refresh();
    EXPECT_EQ(t.log, (std::vector<std::string>{"up 192.168.1.10 00602b000001"}));
    EXPECT_EQ(t.Count(), 3);
    EXPECT_EQ(t.ActiveCount(), 2);
    EXPECT_EQ(t.AdapterMask().to_string(), "255.255.255.0");
    EXPECT_EQ(t.AdapterNetwork().to_string(), "192.168.1.0");
}

TEST_F(PollViewTest, CreatesThePollerWithTheSettings)
{
    {
        PollView view;
        EXPECT_TRUE(World().pollerStarted);
        EXPECT_EQ(World().Calls("poller."),
                  (std::vector<std::string>{"poller.start", "poller.num_threads 5", "poller.retry_count 3",
                                            "poller.timeout 3000"}));
        EXPECT_EQ(view.PollRate(), 5);
    }
    ScopedIni other("[Poller]\nPoll Rate=0\nNumber Of Threads=9\nRetry Count=1\nTimeout=700\n");
    World().calls.clear();
    PollView view;
    EXPECT_EQ(World().Calls("poller."),
              (std::vector<std::string>{"poller.start", "poller.num_threads 9", "poller.retry_count 1",
                                        "poller.timeout 700"}));
    EXPECT_EQ(view.PollRate(), 1) << "a rate below 1 would divide by zero";
}

TEST_F(PollViewTest, WatchesFollowDevicesAndColumns)
{
    PollView view;
    view.StartDiscovery(AdapterObject());
    EXPECT_TRUE(eth0().started);
    EXPECT_EQ(eth0().sendReservation, 1) << "autosend defaults to 1";
    WithList(view, [&](CListCtrl* list) {
        eth0().devices["aa"] = {"10.0.0.1", 0};
        eth0().devices["bb"] = {"0.0.0.0", 0};
        Tick(view);
        const std::set<std::pair<std::string, std::string>> expected = {
            {"10.0.0.1", description}, {"10.0.0.1", octets}, {"10.0.0.1", "1.3.9.1"}, {"10.0.0.1", "1.3.9.2"}};
        EXPECT_EQ(World().watches, expected);

        // A column shown later is watched on alive devices and gets its list column.
        EXPECT_TRUE(view.AddColumn("Spare"));
        EXPECT_EQ(World().watches.count({"10.0.0.1", "1.3.9.3"}), 1u);
        EXPECT_EQ(list->GetHeaderCtrl()->GetItemCount(), 7);
        EXPECT_FALSE(view.AddColumn("Spare")) << "already shown";
        EXPECT_TRUE(view.RemoveColumn("Spare"));
        EXPECT_EQ(World().watches.count({"10.0.0.1", "1.3.9.3"}), 0u);
        EXPECT_EQ(list->GetHeaderCtrl()->GetItemCount(), 6);

        // Dead: every watch of the device ends; the row stays, offline.
        eth0().devices["aa"].age = 7000;
        Tick(view);
        EXPECT_TRUE(World().watches.empty());
        EXPECT_EQ(World().Calls("poller.end_device_watch"),
                  (std::vector<std::string>{"poller.end_device_watch 10.0.0.1"}));
        LVITEM item{};
        item.mask = LVIF_IMAGE;
        item.iItem = 0;
        list->GetItem(&item);
        EXPECT_EQ(item.iImage, view.OfflineImage());
        EXPECT_EQ(list->GetItemCount(), 2);

        // Refresh (F5): watches cleared, dead and unaddressed devices forgotten.
        World().calls.clear();
        view.Clear();
        EXPECT_EQ(World().Calls("poller.clear_watch").size(), 1u);
        EXPECT_EQ(World().Calls("adapter.device_remove"),
                  (std::vector<std::string>{"adapter.device_remove aa", "adapter.device_remove bb"}));
        EXPECT_EQ(list->GetItemCount(), 0);
    });
}

TEST_F(PollViewTest, CellsShowCounterIncreasesJoinedValuesAndReadOnceValues)
{
    PollView view;
    view.StartDiscovery(AdapterObject());
    WithList(view, [&](CListCtrl* list) {
        eth0().devices["aa"] = {"10.0.0.1", 0};
        Tick(view);
        const struct {
            std::vector<FakeChange> changes;
            std::string description, octets, pair;
        } ticks[] = {
            {{{octets, "100", 65}, {"1.3.9.1", "7", 2}}, "", "0", "7/"},
            {{{octets, "150", 65}, {"1.3.9.2", "9", 2}}, "", "50", "7/9"},
            {{{octets, "90", 65}, {description, "Timeout", 4, 0}}, "Timeout", "Overflow", "7/9"},
            {{{octets, "garbage", 5, 0}, {description, "Veltrix RX/8", 4}}, "Veltrix RX/8", "garbage", "7/9"},
            {{{"1.3.9.1", "a/b", 4}}, "Veltrix RX/8", "garbage", "a/b/9"},
            {{{"1.3.9.1", "c", 4}}, "Veltrix RX/8", "garbage", "c/9"},
        };
        for (const auto& t : ticks) {
            World().changes["10.0.0.1"] = t.changes;
            Tick(view);
            EXPECT_EQ(CellOf(list, 1, "aa", 3), t.description);
            EXPECT_EQ(CellOf(list, 1, "aa", 4), t.octets);
            EXPECT_EQ(CellOf(list, 1, "aa", 5), t.pair);
        }
        // The description was read once (after its good value), the counter still is.
        EXPECT_EQ(World().Calls("poller.end_watch"),
                  (std::vector<std::string>{"poller.end_watch 10.0.0.1 " + description}));
        EXPECT_EQ(World().watches.count({"10.0.0.1", octets}), 1u);
    });
}

TEST(PollViewValues, CountersAreUnsigned32Bit)
{
    EXPECT_EQ(CounterDelta("4294967295", "4294967000"), "295");
    EXPECT_EQ(CounterDelta("3000000000", "5"), "2999999995");
    EXPECT_EQ(CounterDelta("5", "3000000000"), "Overflow");
    EXPECT_EQ(CounterDelta("150", "100"), "50");
    EXPECT_EQ(SortNumber("99999999999999999999999999"), SortNumber("99999999999999999999999998"));
    EXPECT_EQ(SortNumber("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(SortNumber("4294967296"), 4294967296u) << "Counter64 values are read whole";
    EXPECT_EQ(SortNumber("-1"), UINT64_MAX) << "negative values sort after the positive ones";
    EXPECT_EQ(SortNumber(" 12abc"), 12u);
    EXPECT_EQ(SortNumber("x"), 0u);
}

TEST_F(PollViewTest, PollPeriodGrowsWithTheWatches)
{
    PollView view;
    view.StartDiscovery(AdapterObject());
    WithList(view, [&](CListCtrl*) {
        eth0().devices["aa"] = {"10.0.0.1", 0};
        Tick(view); // 4 watches, rate 5: nothing sent
        EXPECT_TRUE(World().Calls("poller.poll_period").empty());
        eth0().devices["bb"] = {"10.0.0.2", 0};
        eth0().devices["cc"] = {"10.0.0.3", 0};
        Tick(view); // 12 watches: 3 s
        EXPECT_EQ(World().Calls("poller.poll_period"), (std::vector<std::string>{"poller.poll_period 3000"}));
    });
}

TEST_F(PollViewTest, RowsInMacOrderSortingAndCopyText)
{
    ScopedIni sortIni("[Default Columns]\nUp,time=D,1.3.6.1.2.1.1.3.0\nName=S,1.3.6.1.2.1.1.5.0\n"
                      "[Start Up Columns]\nUp,time=50\nName=60\n");
    PollView view;
    view.StartDiscovery(AdapterObject());
    WithList(view, [&](CListCtrl* list) {
        eth0().devices["bb"] = {"10.0.0.1", 0};
        eth0().devices["cc"] = {"9.0.0.1", 0};
        Tick(view);
        eth0().devices["aa"] = {"10.0.0.2", 9000};
        Tick(view);
        EXPECT_EQ(ColumnTexts(list, 1), (std::vector<std::string>{"aa", "bb", "cc"}));
        World().changes["10.0.0.1"] = {{"1.3.6.1.2.1.1.3.0", "10", 67}, {"1.3.6.1.2.1.1.5.0", "rack, left", 4}};
        World().changes["9.0.0.1"] = {{"1.3.6.1.2.1.1.3.0", "9", 67}, {"1.3.6.1.2.1.1.5.0", "b", 4}};
        Tick(view);

        std::string text;
        view.CopyText(text);
        EXPECT_EQ(text,
                  "S,MAC Address,IP Address,\"Up,time\",Name,\r\n"
                  ",,,1.3.6.1.2.1.1.3.0,1.3.6.1.2.1.1.5.0,\r\n"
                  "0,aa,10.0.0.2,,,\r\n"
                  "1,bb,10.0.0.1,10,\"rack, left\",\r\n"
                  "1,cc,9.0.0.1,9,b,\r\n");

        view.SortBy(1); // the initial sort column is 1: the first click sorts descending
        EXPECT_EQ(ColumnTexts(list, 1), (std::vector<std::string>{"cc", "bb", "aa"}));
        view.SortBy(1);
        EXPECT_EQ(ColumnTexts(list, 1), (std::vector<std::string>{"aa", "bb", "cc"}));
        view.SortBy(2);
        EXPECT_EQ(ColumnTexts(list, 2), (std::vector<std::string>{"9.0.0.1", "10.0.0.1", "10.0.0.2"}));
        view.SortBy(0);
        EXPECT_EQ(ColumnTexts(list, 1)[2], "aa") << "online rows before the offline one";
        // TimeTicks sort as text; a new row keeps coming at its MAC rank.
        view.SortBy(3);
        EXPECT_EQ(ColumnTexts(list, 3), (std::vector<std::string>{"", "10", "9"}));
        view.SortBy(4);
        view.SortBy(4);
        EXPECT_EQ(ColumnTexts(list, 4), (std::vector<std::string>{"rack, left", "b", ""}));
        eth0().devices["ab"] = {"0.0.0.0", 0};
        Tick(view);
        EXPECT_EQ(ColumnTexts(list, 1)[1], "ab");
        EXPECT_EQ(list->GetItemCount(), 4);
    });
}

TEST_F(PollViewTest, NumericSortFollowsTheFirstDevicesValueType)
{
    const struct {
        long type;
        std::vector<std::string> values, sorted;
    } cases[] = {
        {2, {"3000000000", "10", "9"}, {"9", "10", "3000000000"}},
        // Counter64 at and beyond 2^32.
        {70, {"4294967296", "10", "4294967295"}, {"10", "4294967295", "4294967296"}},
    };
    for (const auto& c : cases) {
        ScopedIni sortIni("[Default Columns]\nCount=D,1.3.9.9\n[Start Up Columns]\nCount=50\n");
        PollView view;
        view.StartDiscovery(AdapterObject());
        WithList(view, [&](CListCtrl* list) {
            for (int i = 0; i < 3; ++i)
                eth0().devices[std::string(2, char('a' + i))] = {"10.0.0." + std::to_string(i + 1), 0};
            Tick(view);
            for (int i = 0; i < 3; ++i)
                World().changes["10.0.0." + std::to_string(i + 1)] = {{"1.3.9.9", c.values[size_t(i)], c.type}};
            Tick(view);
            view.SortBy(3);
            EXPECT_EQ(ColumnTexts(list, 3), c.sorted) << "type " << c.type;
        });
    }
}

TEST_F(PollViewTest, AddressCommandsReachTheAdapter)
{
    PollView view;
    view.SetDeviceAddress("aa", ParseIp("10.0.0.9")); // no adapter yet: nothing
    view.SetAddressRange("10.0.0.50", "10.0.0.60", true);
    EXPECT_TRUE(World().Calls("adapter.put").empty());
    view.StartDiscovery(AdapterObject());
    eth0().devices["aa"] = {"10.0.0.1", 0};
    view.SetDeviceAddress("aa", ParseIp("10.0.0.9"));
    view.SetAddressRange("10.0.0.50", "10.0.0.60", true);
    EXPECT_EQ(World().Calls("adapter.put_ip_start"), (std::vector<std::string>{"adapter.put_ip_start 10.0.0.50"}));
    EXPECT_EQ(World().Calls("adapter.put_ip_end"), (std::vector<std::string>{"adapter.put_ip_end 10.0.0.60"}));
    EXPECT_EQ(eth0().autoassign, 1);
    EXPECT_EQ(World().Calls("device.put_ip"), (std::vector<std::string>{"device.put_ip aa 10.0.0.9"}));
}
