// Network adapters of the PC and the IPv4 address helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

bool IsValidIP(const std::string& AText);
uint32_t IPToInt(const std::string& AText);
std::string IntToIP(uint32_t AValue);
std::string GetBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask);
std::string ResolveHostName(const std::string& AName);
std::string GetLocalIP();

struct TAdapterRecord {
  std::string ID, DescName, IPAddress, SubnetMask, Gateway;
};
// Both read the host's adapter table afresh.
bool FindAdapterByIP(const std::string& AIPAddress, TAdapterRecord& AAdapter);
bool FindAdapterByID(const std::string& AID, TAdapterRecord& AAdapter);
// Splits "host:port"; port -1 when there is no colon; false only when the port does not
// read as an integer. A host that is no valid address is resolved (possibly to empty).
bool ParseHostAndPort(const std::string& AText, std::string& AHost, int& APort);

class TEthernetAdapterInfo {
 public:
  TEthernetAdapterInfo() = default;
  TEthernetAdapterInfo(std::string AID, std::string ADescName, std::string AIPAddress,
                       std::string ASubnetMask);
  virtual ~TEthernetAdapterInfo() { Clear(); }

  void Clear();
  // Both select from the host's configuration as last read (see LastAdapterTable in
  // uAdapterTable.h); a use that needs the system's present state reads it first.
  bool GetDefault();
  bool SetByID(const std::string& EthAdapterID);

  const std::string& IPAddress() const { return FIPAddress; }
  const std::string& SubnetMask() const { return FSubnetMask; }
  const std::string& BroadcastAddress() const { return FBroadcastAddress; }
  const std::string& Gateway() const { return FGateway; }
  const std::string& ID() const { return FID; }
  const std::string& DescName() const { return FDescName; }

 private:
  std::string FIPAddress, FSubnetMask, FBroadcastAddress, FGateway, FDescName, FID;
};

class TEthernetAdapterInfoList {
 public:
  TEthernetAdapterInfoList() = default;
  virtual ~TEthernetAdapterInfoList() { Clear(); }

  // Reads the host's adapter table afresh and lists it.
  void Refresh();
  // Lists a table already read.
  void Assign(const std::vector<TAdapterRecord>& table);
  void Clear();
  int Count() const { return static_cast<int>(fItems.size()); }
  TEthernetAdapterInfo* Items(int AIndex) const;
  void Delete(int AIndex);
  int IndexOf(const std::string& AnAdapterID) const;
  int IndexOf(const TEthernetAdapterInfo* AnAdapter) const;
  TEthernetAdapterInfo* GetByID(const std::string& AnAdapterID) const;
  // Appends one line per entry: DescName " (" IPAddress ")". (The settings dialog's combo
  // box takes these lines.)
  void WriteToCombo(std::vector<std::string>& AItems) const;

 private:
  void AddAdapter(const std::string& AID, const std::string& ADescName,
                  const std::string& AIPAddress, const std::string& ASubnetMask);
  std::vector<std::unique_ptr<TEthernetAdapterInfo>> fItems;
};
