// varnel-cli info --nad N: everything one controller tells about itself (status, loader
// and kernel headers, program header, file directory, size of its variable list). What
// cannot be read is reported as such; only a controller that does not answer at all is
// a failure.
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli/cli.h"
#include "apps/cli/cli_net.h"
#include "comm/uCommunication.h"
#include "data/uTarvoVars.h"

namespace {

using cli::Json;

const char* SysStatusName(uint8_t v) {
  static const char* const names[] = {"ssLoader", "ssKernel", "ssNone"};
  return v < 3 ? names[v] : nullptr;
}

const char* PlcStatusName(uint8_t v) {
  static const char* const names[] = {"psStop",           "psPause",           "psRun",
                                      "psNoValidProgram", "psCongestionError", "psNone"};
  return v < 6 ? names[v] : nullptr;
}

// Why the last transaction failed: no answer at all, a negative answer, or an answer
// that did not hold what the command needs.
std::string FailureReason(const TCommunicator& comm) {
  if (comm.LastIP().empty()) return "no answer";
  const TMessageDirection code = comm.ResponseErrorCode();
  if (code == md_ACK) return "answer too short or out of range";
  return "refused: " + MessageDirectionName(code);
}

// MS-DOS date and time: date in the high 16 bits, time in the low 16 bits.
std::string DosDateTimeText(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  const unsigned date = v >> 16, time = v & 0xFFFF;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9),
                (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
  return text;
}

// The records are packed: their fields are copied out rather than referred to.
template <typename T>
T Field(T value) {
  return value;
}

// The kernel keeps its addresses as four bytes; they are shown in the order they came.
std::string AddressBytesText(uint32_t value) {
  return std::to_string(value & 0xFF) + "." + std::to_string((value >> 8) & 0xFF) + "." +
         std::to_string((value >> 16) & 0xFF) + "." + std::to_string(value >> 24);
}

Json LoaderJson(const TLoaderHeader& h) {
  return {{"version_major", Field(h.version_major)},
          {"version_minor", Field(h.version_minor)},
          {"vcp_model", Field(h.vcp_model)},
          {"build_date", Field(h.build_date)},
          {"serial", Field(h.serial)}};
}

Json KernelJson(const TKernelHeader& h) {
  return {{"version_major", Field(h.version_major)},
          {"version_minor", Field(h.version_minor)},
          {"magic", Field(h.magic)},
          {"crc", Field(h.crc)},
          {"build_date", Field(h.build_date)},
          {"transfer_date", Field(h.transfer_date)},
          {"model", Field(h.model)},
          {"kernel_size", Field(h.kernel_size)},
          {"release_num", Field(h.release_num)},
          {"IEX_speed", Field(h.IEX_speed)},
          {"NAD_Alias", Field(h.NAD_Alias)},
          {"ip_address", AddressBytesText(h.ip_address)},
          {"subnet_mask", AddressBytesText(h.subnet_mask)},
          {"gateway", AddressBytesText(h.gateway)},
          {"dns_server", AddressBytesText(h.dns_server)}};
}

Json CodeJson(const TCodeHeader& h) {
  return {{"valid", IsValidCodeHeader(h.empty, h.magic)},
          {"empty", Field(h.empty)},
          {"magic", Field(h.magic)},
          {"crc", Field(h.crc)},
          {"code_crc", Field(h.code_crc)},
          {"alloc_crc", Field(h.alloc_crc)},
          {"retentive_crc", Field(h.retentive_crc)},
          {"transfer_date", Field(h.transfer_date)},
          {"transfer_date_text", DosDateTimeText(h.transfer_date)},
          {"total_size", Field(h.total_size)},
          {"tasks_count", Field(h.tasks_count)},
          {"slot_count", Field(h.slot_count)},
          {"socket_count", Field(h.socket_count)},
          {"eth_sock_start", Field(h.eth_sock_start)},
          {"eth_sock_count", Field(h.eth_sock_count)},
          {"preset_varlist", Field(h.preset_varlist)},
          {"preset_data", Field(h.preset_data)},
          {"retset_varlist", Field(h.retset_varlist)},
          {"retset_data", Field(h.retset_data)},
          {"perset_varlist", Field(h.perset_varlist)},
          {"perset_data", Field(h.perset_data)},
          {"mask_addr", Field(h.mask_addr)},
          {"mask_count", Field(h.mask_count)},
          {"scan_overrun", Field(h.scan_overrun)},
          {"dac_refresh", Field(h.dac_refresh)},
          {"com2_mode", Field(h.com2_mode)},
          {"hsc_mode", Field(h.hsc_mode)},
          {"file_adr", Field(h.file_adr)},
          {"file_count", Field(h.file_count)},
          {"com1_mode", Field(h.com1_mode)},
          {"com1_baudrate", Field(h.com1_baudrate)},
          {"com1_data", Field(h.com1_data)},
          {"com2_baudrate", Field(h.com2_baudrate)},
          {"com2_data", Field(h.com2_data)},
          {"mb_device", Field(h.mb_device)},
          {"mb_delay", Field(h.mb_delay)},
          {"mb_registers", Field(h.mb_registers)},
          {"mb_model", Field(h.mb_model)},
          {"plc_coil_adr", Field(h.plc_coil_adr)},
          {"plc_reg_adr", Field(h.plc_reg_adr)},
          {"mb_coil_adr", Field(h.mb_coil_adr)},
          {"mb_reg_adr", Field(h.mb_reg_adr)},
          {"eth_modbus", Field(h.eth_modbus)},
          {"push_event", Field(h.push_event)},
          {"push_server_ip", Field(h.push_server_ip)},
          {"push_server_port", Field(h.push_server_port)},
          {"push_domain_adr", Field(h.push_domain_adr)},
          {"push_domain_size", Field(h.push_domain_size)},
          {"password_level", Field(h.password_level)},
          {"password_hash", Field(h.password_hash)}};
}

// A record's fields as aligned "name: value" lines.
void PrintFields(const std::string& title, const Json& record) {
  std::cout << title << ":\n";
  for (const auto& [key, value] : record.items()) {
    std::string name = key + ":";
    name.resize(std::max<size_t>(name.size(), 20), ' ');
    std::cout << "  " << name << (value.is_string() ? value.get<std::string>() : value.dump())
              << "\n";
  }
}

struct TInfo {
  Json doc;
  std::vector<std::string> errors;

  void Missing(const std::string& key, const std::string& what, const std::string& reason) {
    doc[key] = nullptr;
    errors.push_back(what + ": " + reason);
  }
};

void ReadStatusInto(TCommunicator& comm, TInfo& info) {
  // Out of range until stored: the two bytes are judged one by one.
  auto sys = static_cast<TSysStatus>(0xFF);
  auto plc = static_cast<TPLCStatus>(0xFF);
  const bool ok = comm.ReadStatus(sys, plc);
  const std::string reason = ok ? "" : FailureReason(comm);
  if (const char* name = SysStatusName(sys)) {
    info.doc["sys_status"] = name;
  } else {
    info.Missing("sys_status", "system status", reason);
  }
  if (const char* name = PlcStatusName(plc)) {
    info.doc["plc_status"] = name;
  } else {
    info.Missing("plc_status", "PLC status", reason);
  }
}

void ReadFilesInto(TCommunicator& comm, TInfo& info, bool validProgram) {
  if (!validProgram) {
    // The directory is described by the program header; without one there is none.
    info.Missing("files", "file directory", "no valid program header");
    return;
  }
  std::vector<std::string> names;
  std::vector<int32_t> addresses, sizes;
  if (!comm.ReadFileDirectory(names, addresses, sizes)) {
    info.Missing("files", "file directory", FailureReason(comm));
    return;
  }
  Json files = Json::array();
  for (size_t i = 0; i < names.size(); ++i) {
    files.push_back({{"name", names[i]}, {"address", addresses[i]}, {"size", sizes[i]}});
  }
  info.doc["files"] = files;
}

void ReadVariablesInto(TCommunicator& comm, TInfo& info) {
  try {
    const std::unique_ptr<TTarvoVarList> vars = comm.GetAlcVarList();
    if (vars) {
      info.doc["variables"] = vars->Count();
    } else {
      info.Missing("variables", "allocation file", "missing, unreadable or without variables");
    }
  } catch (const std::exception& e) {
    info.Missing("variables", "allocation file", e.what());
  }
}

void PrintText(const TInfo& info) {
  const Json& d = info.doc;
  auto text = [](const Json& v) {
    return v.is_null() ? std::string("?") : v.is_string() ? v.get<std::string>() : v.dump();
  };
  std::cout << "NAD " << text(d["nad"]) << "  IP " << text(d["ip"]) << "\n"
            << "system status: " << text(d["sys_status"]) << "\n"
            << "PLC status:    " << text(d["plc_status"]) << "\n";
  for (const auto& [key, title] :
       {std::pair<const char*, const char*>{"loader_header", "loader header"},
        {"kernel_header", "kernel header"},
        {"code_header", "code header"}}) {
    if (d[key].is_null()) {
      std::cout << title << ": not available\n";
    } else {
      PrintFields(title, d[key]);
    }
  }
  if (d["files"].is_null()) {
    std::cout << "files: not available\n";
  } else {
    std::cout << "files (" << d["files"].size() << "):\n";
    for (const Json& f : d["files"]) {
      char line[128];
      std::snprintf(line, sizeof line, "  %-32s address 0x%06X  %d bytes\n",
                    f["name"].get<std::string>().c_str(),
                    static_cast<unsigned>(f["address"].get<int32_t>()), f["size"].get<int32_t>());
      std::cout << line;
    }
  }
  std::cout << "variables: " << text(d["variables"]) << "\n";
  for (const std::string& e : info.errors) std::cout << "not read: " << e << "\n";
}

int RunInfo(const cli::NetOptions& o) {
  if (o.nads.size() != 1) throw cli::UsageError("info needs exactly one --nad");
  // The option has checked the range: 1 to 4294967295, kept as its 32-bit pattern.
  const auto nad = static_cast<int32_t>(static_cast<uint32_t>(o.nads[0]));

  TCommunicator comm;
  cli::ApplyNetOptions(comm, o);
  comm.Open(o.adapter);  // sending activates the socket on demand if this fails
  comm.SetTarvoNAD(nad);
  if (!o.ip.empty()) {
    comm.SetTarvoStaticIP(o.ip);
    if (comm.TarvoIP().empty()) throw cli::UsageError("--ip: cannot resolve '" + o.ip + "'");
    // An address without a port of its own is reached at --port, as every command does.
    if (o.ip.find(':') == std::string::npos) comm.SetTarvoPort(o.port);
  }
  std::string refusal;
  if (!comm.Connect()) {
    if (comm.LastIP().empty()) {
      const std::string reason = FailureReason(comm);
      if (o.json) {
        cli::PrintJson({{"nad", static_cast<uint32_t>(nad)}, {"ip", nullptr}, {"error", reason}});
      } else {
        std::cerr << "error: controller " << static_cast<uint32_t>(nad) << " does not answer ("
                  << reason << ")\n";
      }
      comm.Disconnect();
      return cli::kExitFailed;
    }
    // It answered, if only to refuse (a wrong password, say): that is worth showing, and
    // the rest is tried at the address it answered from.
    refusal = FailureReason(comm);
    comm.SetTarvoIP(comm.LastIP());
  }

  TInfo info;
  info.doc["nad"] = static_cast<uint32_t>(nad);
  info.doc["ip"] = comm.TarvoIP();
  if (!refusal.empty()) info.errors.push_back("ping: " + refusal);
  ReadStatusInto(comm, info);

  TLoaderHeader loader{};
  if (comm.ReadLoaderHeader(loader)) {
    info.doc["loader_header"] = LoaderJson(loader);
  } else {
    info.Missing("loader_header", "loader header", FailureReason(comm));
  }
  TKernelHeader kernel{};
  if (comm.ReadKernelHeader(kernel)) {
    info.doc["kernel_header"] = KernelJson(kernel);
  } else {
    info.Missing("kernel_header", "kernel header", FailureReason(comm));
  }
  std::unique_ptr<TCodeHeader> code;
  if (comm.ReadCodeHeader(code)) {
    info.doc["code_header"] = CodeJson(*code);
  } else {
    info.Missing("code_header", "code header", FailureReason(comm));
  }
  // Without a readable header the directory is tried all the same: the header read
  // may have been the one request that got lost.
  ReadFilesInto(comm, info, !code || IsValidCodeHeader(code->empty, code->magic));
  ReadVariablesInto(comm, info);
  comm.Disconnect();

  if (o.json) {
    info.doc["errors"] = info.errors;
    cli::PrintJson(info.doc);
  } else {
    PrintText(info);
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<cli::NetOptions>();
  auto* sub = root.add_subcommand(
      "info", "Show what one controller reports: status, headers, files, variables");
  cli::AddNetOptions(sub, *opts, true);
  cli::AddCommand(root, sub, [opts] { return RunInfo(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
