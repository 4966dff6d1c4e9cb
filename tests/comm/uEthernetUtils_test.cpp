// Address helpers and the adapter table: which texts count as addresses, how they turn
// into numbers and broadcast addresses, host:port splitting, and adapter selection on a
// fixed table as well as on the real loopback adapter.
#include "comm/uEthernetUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/uAdapterTable.h"

namespace {

struct ValidIPCase {
  const char* text;
  bool valid;
};

class IsValidIPTest : public ::testing::TestWithParam<ValidIPCase> {};

TEST_P(IsValidIPTest, AcceptsExactlyDottedQuads) {
  EXPECT_EQ(IsValidIP(GetParam().text), GetParam().valid) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IsValidIPTest,
    ::testing::Values(ValidIPCase{"192.168.1.10", true}, ValidIPCase{"1.2.3.4", true},
                      ValidIPCase{"255.255.255.255", true}, ValidIPCase{"01.2.3.4", true},
                      ValidIPCase{"001.002.003.004", true}, ValidIPCase{"0.0.0.0", true},
                      ValidIPCase{"1.2.3", false}, ValidIPCase{"1.2.3.4.5", false},
                      ValidIPCase{"256.1.1.1", false}, ValidIPCase{"1..2.3", false},
                      ValidIPCase{".1.2.3.4", false}, ValidIPCase{"1.2.3.4.", false},
                      ValidIPCase{" 1.2.3.4", false}, ValidIPCase{"1.2.3.4 ", false},
                      ValidIPCase{"1.2.3.1000", false}, ValidIPCase{"0001.2.3.4", false},
                      ValidIPCase{"1.2.3.-4", false}, ValidIPCase{"a.b.c.d", false},
                      ValidIPCase{"1.2.3.4:80", false}, ValidIPCase{"", false},
                      ValidIPCase{"1.2..34567", false}, ValidIPCase{"1234567", false},
                      ValidIPCase{"1.2.3.4\n", false}, ValidIPCase{"255.255.255.2555", false}));

TEST(AddressNumbers, ConvertBothWays) {
  EXPECT_EQ(IPToInt("192.168.1.10"), 0xC0A8010Au);
  EXPECT_EQ(IntToIP(0xC0A8010Au), "192.168.1.10");
  EXPECT_EQ(IPToInt("01.2.3.4"), 0x01020304u);
  EXPECT_EQ(IPToInt("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IntToIP(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_EQ(IntToIP(0), "0.0.0.0");
  for (const char* invalid : {"256.1.1.1", "1.2.3", "", "host"}) {
    EXPECT_EQ(IPToInt(invalid), 0u) << invalid;
  }
}

struct BroadcastCase {
  const char* address;
  const char* mask;
  const char* broadcast;
};

class BroadcastTest : public ::testing::TestWithParam<BroadcastCase> {};

TEST_P(BroadcastTest, CombinesAddressAndMask) {
  EXPECT_EQ(GetBroadcastAddress(GetParam().address, GetParam().mask), GetParam().broadcast);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, BroadcastTest,
    ::testing::Values(BroadcastCase{"192.168.1.10", "255.255.255.0", "192.168.1.255"},
                      BroadcastCase{"192.168.1.10", "255.255.0.0", "192.168.255.255"},
                      BroadcastCase{"127.0.0.1", "255.0.0.0", "127.255.255.255"},
                      BroadcastCase{"192.168.1.10", "nonsense", "255.255.255.255"},
                      BroadcastCase{"nonsense", "255.255.255.0", "0.0.0.255"},
                      BroadcastCase{"0.0.0.0", "0.0.0.0", "255.255.255.255"},
                      BroadcastCase{"10.1.2.3", "255.255.255.255", "10.1.2.3"}));

struct HostPortCase {
  const char* text;
  bool ok;
  const char* host;
  int port;
};

class ParseHostAndPortTest : public ::testing::TestWithParam<HostPortCase> {};

TEST_P(ParseHostAndPortTest, SplitsAtTheFirstColon) {
  const auto& c = GetParam();
  std::string host = "unchanged";
  int port = 12345;
  ASSERT_EQ(ParseHostAndPort(c.text, host, port), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(host, c.host) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  } else {
    EXPECT_EQ(host, "unchanged");
    EXPECT_EQ(port, 12345);
  }
}

// Only names the machine resolves itself: no lookup may go out to a network.
INSTANTIATE_TEST_SUITE_P(
    Texts, ParseHostAndPortTest,
    ::testing::Values(
        HostPortCase{"10.0.0.5:9000", true, "10.0.0.5", 9000},
        HostPortCase{"10.0.0.5", true, "10.0.0.5", -1}, HostPortCase{"10.0.0.5:abc", false, "", 0},
        HostPortCase{"10.0.0.5:", false, "", 0}, HostPortCase{":8442", true, "", 8442},
        HostPortCase{"127.0.0.9: $1F90", true, "127.0.0.9", 8080},
        HostPortCase{"127.0.0.9:0x10", true, "127.0.0.9", 16},
        HostPortCase{"127.0.0.9:-1", true, "127.0.0.9", -1},
        HostPortCase{"127.0.0.9:99999", true, "127.0.0.9", 99999},
        HostPortCase{"127.0.0.9:1:2", false, "", 0},
        HostPortCase{"localhost:7", true, "127.0.0.1", 7}, HostPortCase{"", true, "", -1}));

TEST(ResolveHostName, GivesTheDottedAddressOrNothing) {
  EXPECT_EQ(ResolveHostName("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveHostName("127.0.0.7"), "127.0.0.7");
  EXPECT_EQ(ResolveHostName(""), "");
}

// --- Adapters on a fixed table ----------------------------------------------------------

std::vector<TAdapterRecord> ThreeAdapters() {
  return {{"eth0", "Wired", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
          {"wlan0", "Radio", "10.0.0.7", "255.255.0.0", ""},
          {"down0", "Unplugged", "0.0.0.0", "0.0.0.0", ""}};
}

TEST(AdapterTable, FindsAdaptersByAddressAndName) {
  TScopedAdapterTable table(ThreeAdapters());
  TAdapterRecord found;
  ASSERT_TRUE(FindAdapterByIP("10.0.0.7", found));
  EXPECT_EQ(found.ID, "wlan0");
  EXPECT_EQ(found.DescName, "Radio");
  EXPECT_EQ(found.SubnetMask, "255.255.0.0");
  ASSERT_TRUE(FindAdapterByID("eth0", found));
  EXPECT_EQ(found.IPAddress, "192.168.1.10");
  EXPECT_EQ(found.Gateway, "192.168.1.1");
  EXPECT_FALSE(FindAdapterByIP("10.0.0.8", found));
  EXPECT_FALSE(FindAdapterByID("ETH0", found));  // names compare case-sensitively
}

TEST(AdapterTable, SetByIDTakesOnTheAdapterOrChangesNothing) {
  TScopedAdapterTable table(ThreeAdapters());
  TEthernetAdapterInfo adapter;
  ASSERT_TRUE(adapter.SetByID("eth0"));
  EXPECT_EQ(adapter.IPAddress(), "192.168.1.10");
  EXPECT_EQ(adapter.SubnetMask(), "255.255.255.0");
  EXPECT_EQ(adapter.BroadcastAddress(), "192.168.1.255");
  EXPECT_EQ(adapter.Gateway(), "192.168.1.1");
  EXPECT_EQ(adapter.DescName(), "Wired");
  EXPECT_EQ(adapter.ID(), "eth0");

  EXPECT_FALSE(adapter.SetByID("missing"));
  EXPECT_EQ(adapter.ID(), "eth0");
  EXPECT_EQ(adapter.BroadcastAddress(), "192.168.1.255");

  // An adapter without an address is still taken; it broadcasts to everyone.
  ASSERT_TRUE(adapter.SetByID("down0"));
  EXPECT_EQ(adapter.BroadcastAddress(), "255.255.255.255");
}

TEST(AdapterTable, GetDefaultNeedsAListedAdapterForTheLocalAddress) {
  // The PC's own address is not in this table, so there is no default adapter and the
  // adapter is left empty rather than half filled.
  TScopedAdapterTable table(ThreeAdapters());
  TEthernetAdapterInfo adapter("x", "x", "1.2.3.4", "255.0.0.0");
  if (GetLocalIP() == "192.168.1.10" || GetLocalIP() == "10.0.0.7") GTEST_SKIP();
  EXPECT_FALSE(adapter.GetDefault());
  for (const std::string& text :
       {adapter.IPAddress(), adapter.SubnetMask(), adapter.BroadcastAddress(), adapter.Gateway(),
        adapter.DescName(), adapter.ID()}) {
    EXPECT_EQ(text, "");
  }
}

// Choosing an adapter takes the table as last read; a fresh read (a list refresh, or any
// query) brings a change of the host's adapters in, and a replaced query forgets it all.
TEST(AdapterTable, SelectionTakesTheTableAsLastRead) {
  std::vector<TAdapterRecord> host = ThreeAdapters();
  int reads = 0;
  TScopedAdapterTable table([&](std::vector<TAdapterRecord>& out) {
    ++reads;
    out = host;
    return true;
  });
  TEthernetAdapterInfo adapter;
  ASSERT_TRUE(adapter.SetByID("eth0"));
  ASSERT_TRUE(adapter.SetByID("wlan0"));
  EXPECT_EQ(reads, 1);

  host.push_back({"usb0", "Dongle", "172.16.0.2", "255.255.0.0", ""});
  host.front().IPAddress = "192.168.7.10";
  EXPECT_FALSE(adapter.SetByID("usb0")) << "not read yet";
  ASSERT_TRUE(adapter.SetByID("eth0"));
  EXPECT_EQ(adapter.IPAddress(), "192.168.1.10");
  TEthernetAdapterInfoList list;
  list.Refresh();
  EXPECT_EQ(reads, 2);
  ASSERT_TRUE(adapter.SetByID("usb0"));
  EXPECT_EQ(adapter.BroadcastAddress(), "172.16.255.255");
  ASSERT_TRUE(adapter.SetByID("eth0"));
  EXPECT_EQ(adapter.IPAddress(), "192.168.7.10");
  EXPECT_EQ(reads, 2);

  {
    TScopedAdapterTable none([](std::vector<TAdapterRecord>&) { return false; });
    EXPECT_FALSE(adapter.SetByID("eth0"));
  }
  // Back to the first query: read again, not taken from before.
  ASSERT_TRUE(adapter.SetByID("usb0"));
  EXPECT_EQ(reads, 3);
}

TEST(AdapterTable, NoAdaptersAtAll) {
  TScopedAdapterTable table([](std::vector<TAdapterRecord>&) { return false; });
  TEthernetAdapterInfoList list;
  list.Refresh();
  EXPECT_EQ(list.Count(), 0);
  TEthernetAdapterInfo adapter("x", "x", "1.2.3.4", "255.0.0.0");
  EXPECT_FALSE(adapter.GetDefault());
  EXPECT_EQ(adapter.IPAddress(), "");
  EXPECT_EQ(adapter.ID(), "");
  EXPECT_FALSE(adapter.SetByID("x"));
}

TEST(AdapterList, ListsInTheSystemsOrderAndIndexesByExactID) {
  TScopedAdapterTable table(ThreeAdapters());
  TEthernetAdapterInfoList list;
  list.Refresh();
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0)->ID(), "eth0");
  EXPECT_EQ(list.Items(1)->BroadcastAddress(), "10.0.255.255");
  EXPECT_EQ(list.Items(0)->Gateway(), "");  // entries carry no gateway
  EXPECT_EQ(list.Items(3), nullptr);
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.IndexOf("wlan0"), 1);
  EXPECT_EQ(list.IndexOf("WLAN0"), -1);
  EXPECT_EQ(list.IndexOf(list.Items(2)), 2);
  EXPECT_EQ(list.IndexOf(static_cast<const TEthernetAdapterInfo*>(nullptr)), -1);
  EXPECT_EQ(list.GetByID("down0"), list.Items(2));
  EXPECT_EQ(list.GetByID("none"), nullptr);

  list.Delete(7);
  list.Delete(-1);
  EXPECT_EQ(list.Count(), 3);
  list.Delete(0);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->ID(), "wlan0");

  // A refresh starts over from the table.
  list.Refresh();
  EXPECT_EQ(list.Count(), 3);
}

TEST(AdapterList, WriteToComboAppends) {
  TScopedAdapterTable table(ThreeAdapters());
  TEthernetAdapterInfoList list;
  list.Refresh();
  std::vector<std::string> items{"kept"};
  list.WriteToCombo(items);
  list.WriteToCombo(items);
  const std::vector<std::string> once = {"Wired (192.168.1.10)", "Radio (10.0.0.7)",
                                         "Unplugged (0.0.0.0)"};
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0], "kept");
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(items[1 + i], once[i]);
    EXPECT_EQ(items[4 + i], once[i]);
  }
}

// --- The real loopback adapter ---------------------------------------------------------

TEST(SystemAdapters, LoopbackBroadcastsToItsWholeNetwork) {
  TEthernetAdapterInfoList list;
  list.Refresh();
  ASSERT_GE(list.IndexOf("lo"), 0);
  TEthernetAdapterInfo lo;
  ASSERT_TRUE(lo.SetByID("lo"));
  EXPECT_EQ(lo.IPAddress(), "127.0.0.1");
  EXPECT_EQ(lo.SubnetMask(), "255.0.0.0");
  EXPECT_EQ(lo.BroadcastAddress(), "127.255.255.255");
  TAdapterRecord found;
  ASSERT_TRUE(FindAdapterByIP("127.0.0.1", found));
  EXPECT_EQ(found.ID, "lo");
}

}  // namespace
