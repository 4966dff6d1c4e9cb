#include "comm/uEthernetUtils.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <mutex>
#include <sstream>

#include "comm/uAdapterTable.h"
#include "data/uNumText.h"

namespace {

std::string InAddrText(in_addr addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
}

// The first gateway of each interface, from the kernel's IPv4 routing table, read once for
// the whole adapter table. A missing or unreadable table only leaves the gateways empty.
std::vector<std::pair<std::string, std::string>> Gateways() {
  std::vector<std::pair<std::string, std::string>> gateways;
  std::ifstream routes("/proc/net/route");
  std::string line;
  std::getline(routes, line);  // column titles
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags;
    if (!(fields >> iface >> destination >> gateway >> flags)) continue;
    const unsigned long flagBits = std::strtoul(flags.c_str(), nullptr, 16);
    if ((flagBits & RTF_GATEWAY) == 0) continue;
    bool seen = false;
    for (const auto& g : gateways) seen = seen || g.first == iface;
    if (seen) continue;
    // The table prints the address as the raw 32-bit word in host order.
    in_addr addr{};
    addr.s_addr = static_cast<in_addr_t>(std::strtoul(gateway.c_str(), nullptr, 16));
    gateways.emplace_back(iface, InAddrText(addr));
  }
  return gateways;
}

// Every interface that carries an IPv4 address, in the order the system lists them,
// with its first address and mask. Interfaces without IPv4 cannot carry QLink traffic
// and are left out.
bool SystemAdapterTable(std::vector<TAdapterRecord>& adapters) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  const auto gateways = Gateways();
  for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_name == nullptr || ifa->ifa_addr == nullptr) continue;
    if (ifa->ifa_addr->sa_family != AF_INET) continue;
    const std::string name = ifa->ifa_name;
    bool seen = false;
    for (const auto& a : adapters) seen = seen || a.ID == name;
    if (seen) continue;
    TAdapterRecord record;
    record.ID = name;
    record.DescName = name;
    record.IPAddress = InAddrText(reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr);
    record.SubnetMask =
        ifa->ifa_netmask != nullptr
            ? InAddrText(reinterpret_cast<const sockaddr_in*>(ifa->ifa_netmask)->sin_addr)
            : "0.0.0.0";
    for (const auto& g : gateways)
      if (g.first == name) record.Gateway = g.second;
    adapters.push_back(std::move(record));
  }
  freeifaddrs(list);
  return true;
}

std::mutex gQueryMutex;
TAdapterTableQuery gQuery;

// The host's network configuration as last read. Selecting an adapter takes it from here;
// the uses that need it fresh (opening a socket, the settings dialog's list) read it again,
// which brings this up to date.
struct TLastRead {
  bool HasTable = false;
  bool TableOk = false;
  std::vector<TAdapterRecord> Table;
  bool HasLocalIP = false;
  std::string LocalIP;
};
std::mutex gLastMutex;
TLastRead gLast;

void Remember(bool ok, const std::vector<TAdapterRecord>& table) {
  std::lock_guard lock(gLastMutex);
  gLast.HasTable = true;
  gLast.TableOk = ok;
  gLast.Table = table;
}

// The first adapter whose address or ID equals the text.
bool FindIn(const std::vector<TAdapterRecord>& table, bool byID, const std::string& text,
            TAdapterRecord& found) {
  for (const auto& a : table) {
    if ((byID ? a.ID : a.IPAddress) == text) {
      found = a;
      return true;
    }
  }
  return false;
}

// IPv4 addresses of a name as the system's resolver gives them, in its order.
std::vector<std::string> LookUpIPv4(const std::string& name) {
  std::vector<std::string> result;
  if (name.empty()) return result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address, not one per socket type
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return result;
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
    result.push_back(InAddrText(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr));
  }
  freeaddrinfo(found);
  return result;
}

}  // namespace

bool QueryAdapterTable(std::vector<TAdapterRecord>& adapters) {
  TAdapterTableQuery query;
  {
    std::lock_guard lock(gQueryMutex);
    query = gQuery;
  }
  adapters.clear();
  const bool ok = query ? query(adapters) : SystemAdapterTable(adapters);
  if (!ok) adapters.clear();
  Remember(ok, adapters);
  return ok;
}

bool LastAdapterTable(std::vector<TAdapterRecord>& adapters) {
  {
    std::lock_guard lock(gLastMutex);
    if (gLast.HasTable) {
      adapters = gLast.Table;
      return gLast.TableOk;
    }
  }
  return QueryAdapterTable(adapters);
}

std::string LastLocalIP() {
  {
    std::lock_guard lock(gLastMutex);
    if (gLast.HasLocalIP) return gLast.LocalIP;
  }
  return GetLocalIP();
}

TAdapterTableQuery SetAdapterTableQuery(TAdapterTableQuery query) {
  {
    std::lock_guard lock(gQueryMutex);
    std::swap(gQuery, query);
  }
  // What was read through the previous query no longer describes the host.
  std::lock_guard lock(gLastMutex);
  gLast = TLastRead{};
  return query;
}

bool IsValidIP(const std::string& AText) {
  if (AText.size() < 7 || AText.size() > 15 || AText[0] == '.') return false;
  int dots = 0;
  int digits = 0;
  int value = 0;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '.') {
      if (i + 1 >= AText.size() || AText[i + 1] < '0' || AText[i + 1] > '9') return false;
      ++dots;
      digits = 0;
      value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  return dots == 3;
}

uint32_t IPToInt(const std::string& AText) {
  if (!IsValidIP(AText)) return 0;
  uint32_t result = 0;
  uint32_t part = 0;
  for (char c : AText) {
    if (c == '.') {
      result = (result << 8) | part;
      part = 0;
    } else {
      part = part * 10 + static_cast<uint32_t>(c - '0');
    }
  }
  return (result << 8) | part;
}

std::string IntToIP(uint32_t AValue) {
  return std::to_string(AValue >> 24) + "." + std::to_string((AValue >> 16) & 0xFF) + "." +
         std::to_string((AValue >> 8) & 0xFF) + "." + std::to_string(AValue & 0xFF);
}

std::string GetBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask) {
  const uint32_t mask = IPToInt(ASubnetMask);
  return IntToIP((IPToInt(AIPAddress) & mask) | ~mask);
}

std::string ResolveHostName(const std::string& AName) {
  const auto addresses = LookUpIPv4(AName);
  return addresses.empty() ? std::string() : addresses.back();
}

std::string GetLocalIP() {
  char name[HOST_NAME_MAX + 1] = {};
  std::string ip;
  if (gethostname(name, sizeof name - 1) == 0) {
    const auto addresses = LookUpIPv4(name);
    if (!addresses.empty()) ip = addresses.front();
  }
  std::lock_guard lock(gLastMutex);
  gLast.HasLocalIP = true;
  gLast.LocalIP = ip;
  return ip;
}

bool FindAdapterByIP(const std::string& AIPAddress, TAdapterRecord& AAdapter) {
  std::vector<TAdapterRecord> table;
  return QueryAdapterTable(table) && FindIn(table, false, AIPAddress, AAdapter);
}

bool FindAdapterByID(const std::string& AID, TAdapterRecord& AAdapter) {
  std::vector<TAdapterRecord> table;
  return QueryAdapterTable(table) && FindIn(table, true, AID, AAdapter);
}

bool ParseHostAndPort(const std::string& AText, std::string& AHost, int& APort) {
  std::string host = AText;
  int port = -1;
  const size_t colon = AText.find(':');
  if (colon != std::string::npos) {
    int32_t value = 0;
    if (!ParseIntegerText(std::string_view(AText).substr(colon + 1), value)) return false;
    port = value;
    host = AText.substr(0, colon);
  }
  if (!host.empty() && !IsValidIP(host)) host = ResolveHostName(host);
  AHost = host;
  APort = port;
  return true;
}

// --- TEthernetAdapterInfo -------------------------------------------------------------

TEthernetAdapterInfo::TEthernetAdapterInfo(std::string AID, std::string ADescName,
                                           std::string AIPAddress, std::string ASubnetMask)
    : FIPAddress(std::move(AIPAddress)),
      FSubnetMask(std::move(ASubnetMask)),
      FDescName(std::move(ADescName)),
      FID(std::move(AID)) {
  FBroadcastAddress = GetBroadcastAddress(FIPAddress, FSubnetMask);
}

void TEthernetAdapterInfo::Clear() {
  FIPAddress.clear();
  FSubnetMask.clear();
  FBroadcastAddress.clear();
  FGateway.clear();
  FDescName.clear();
  FID.clear();
}

bool TEthernetAdapterInfo::GetDefault() {
  FIPAddress = LastLocalIP();
  std::vector<TAdapterRecord> table;
  TAdapterRecord found;
  if (IsValidIP(FIPAddress) && LastAdapterTable(table) && FindIn(table, false, FIPAddress, found)) {
    FSubnetMask = found.SubnetMask;
    FID = found.ID;
    FGateway = found.Gateway;
    FDescName = found.DescName;
    if (IsValidIP(FSubnetMask)) {
      FBroadcastAddress = GetBroadcastAddress(FIPAddress, FSubnetMask);
      if (IsValidIP(FBroadcastAddress)) return true;
    }
  }
  Clear();
  return false;
}

bool TEthernetAdapterInfo::SetByID(const std::string& EthAdapterID) {
  std::vector<TAdapterRecord> table;
  TAdapterRecord found;
  if (!LastAdapterTable(table) || !FindIn(table, true, EthAdapterID, found)) return false;
  FIPAddress = found.IPAddress;
  FSubnetMask = found.SubnetMask;
  FDescName = found.DescName;
  FGateway = found.Gateway;
  FID = EthAdapterID;
  FBroadcastAddress = GetBroadcastAddress(FIPAddress, FSubnetMask);
  return true;
}

// --- TEthernetAdapterInfoList ---------------------------------------------------------

void TEthernetAdapterInfoList::Refresh() {
  std::vector<TAdapterRecord> table;
  QueryAdapterTable(table);
  Assign(table);
}

void TEthernetAdapterInfoList::Assign(const std::vector<TAdapterRecord>& table) {
  Clear();
  for (const auto& a : table) AddAdapter(a.ID, a.DescName, a.IPAddress, a.SubnetMask);
}

void TEthernetAdapterInfoList::Clear() {
  while (!fItems.empty()) fItems.pop_back();
}

TEthernetAdapterInfo* TEthernetAdapterInfoList::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return nullptr;
  return fItems[static_cast<size_t>(AIndex)].get();
}

void TEthernetAdapterInfoList::Delete(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) return;
  fItems.erase(fItems.begin() + AIndex);
}

int TEthernetAdapterInfoList::IndexOf(const std::string& AnAdapterID) const {
  for (int i = 0; i < Count(); ++i)
    if (fItems[static_cast<size_t>(i)]->ID() == AnAdapterID) return i;
  return -1;
}

int TEthernetAdapterInfoList::IndexOf(const TEthernetAdapterInfo* AnAdapter) const {
  return AnAdapter == nullptr ? -1 : IndexOf(AnAdapter->ID());
}

TEthernetAdapterInfo* TEthernetAdapterInfoList::GetByID(const std::string& AnAdapterID) const {
  return Items(IndexOf(AnAdapterID));
}

void TEthernetAdapterInfoList::WriteToCombo(std::vector<std::string>& AItems) const {
  for (const auto& item : fItems)
    AItems.push_back(item->DescName() + " (" + item->IPAddress() + ")");
}

void TEthernetAdapterInfoList::AddAdapter(const std::string& AID, const std::string& ADescName,
                                          const std::string& AIPAddress,
                                          const std::string& ASubnetMask) {
  fItems.push_back(std::make_unique<TEthernetAdapterInfo>(AID, ADescName, AIPAddress, ASubnetMask));
}
