#include "apps/cli/cli_net.h"

#include "apps/cli/cli_options.h"
#include "comm/uCommunication.h"
#include "protocol/uQLink.h"

namespace cli {

void AddNetOptions(CLI::App* sub, NetOptions& o, bool withTargets) {
  sub->add_option("--adapter", o.adapter, "Network adapter ID (for example lo)");
  sub->add_option("--port", o.port, "UDP port of the controllers")
      ->transform(IntegerText(1, 65535))
      ->default_val(8442);
  sub->add_flag("--direct", o.direct, "Direct connection: send every request to 255.255.255.255");
  sub->add_flag("--extra-retries", o.extraRetries, "Repeat each request 10 times instead of 3");
  sub->add_flag("--extra-timeout", o.extraTimeout,
                "Wait 1000 ms per attempt instead of 200 (scan window 4000 ms)");
  sub->add_option("--password", o.password, "Controller password");
  sub->add_flag("--log", o.log, kLogOptionHelp);
  sub->add_flag("--json", o.json, "Print one JSON document");
  if (withTargets) {
    sub->add_option("--nad", o.nads, "Only the controller with this NAD (repeatable)")
        ->transform(NadText());
    sub->add_option("--ip", o.ip, "HOST[:PORT] of the one --nad controller: no scan needed")
        ->check(HostAndPortText());
    sub->add_option("--parallel", o.parallel,
                    "Work on N controllers at once (1: one after the other); the output is the "
                    "same either way")
        ->transform(IntegerText(1, 100000))
        ->default_val(kDefaultParallel)
        ->type_name("N");
  }
}

void ApplyNetOptions(TCommunicator& comm, const NetOptions& o) {
  comm.SetDirectConnection(o.direct);
  comm.SetPasswordCRC(PasswordHashUtf8(o.password));
  comm.SetNoRetires(o.Retries());
  comm.SetWaitTime(o.WaitTime());
  comm.SetTarvoPort(o.port);
  comm.SetLogToFile(o.log);
}

}  // namespace cli
