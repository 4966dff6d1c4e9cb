// Simulated controllers for a test, hosted in this process: NAD 10, 11, ... answering from
// 127.0.0.10, 127.0.0.11, ... on a free port, so that tests running side by side never
// meet. Every fixture that talks to controllers starts them here.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sim/uSimHost.h"

namespace testsupport {

using TSimAdjust = std::function<void(sim::TSimHostOptions&)>;

// The started host, or nothing with the reason in `error`. `adjust` changes the options
// (faults, NADs, password, ...) before the controllers are made.
inline std::unique_ptr<sim::TSimHost> StartSimulators(int controllers, std::string& error,
                                                      const TSimAdjust& adjust = {}) {
  sim::TSimHostOptions options;
  options.Controllers = controllers;
  options.BaseNAD = 10;
  options.Port = 0;
  if (adjust) adjust(options);
  auto host = std::make_unique<sim::TSimHost>(options);
  if (!host->Start(&error)) return nullptr;
  return host;
}

}  // namespace testsupport
