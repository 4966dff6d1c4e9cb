// The host's adapter table as the address helpers read it. The table normally comes
// from the system (getifaddrs); tests replace the query with a fixed table so that
// adapter selection and rotation can be tried without real adapters.
#pragma once

#include <functional>
#include <vector>

#include "comm/uEthernetUtils.h"

// Fills adapters in the system's order; false when the table cannot be read (which the
// helpers treat as "no adapters").
using TAdapterTableQuery = std::function<bool(std::vector<TAdapterRecord>& adapters)>;

bool QueryAdapterTable(std::vector<TAdapterRecord>& adapters);

// Replaces the query; an empty function restores the system's. Returns the previous one.
TAdapterTableQuery SetAdapterTableQuery(TAdapterTableQuery query);

// Replaces the query for the lifetime of the object (tests).
class TScopedAdapterTable {
 public:
  explicit TScopedAdapterTable(std::vector<TAdapterRecord> table)
      : fPrevious(SetAdapterTableQuery([table = std::move(table)](auto& out) {
          out = table;
          return true;
        })) {}
  explicit TScopedAdapterTable(TAdapterTableQuery query)
      : fPrevious(SetAdapterTableQuery(std::move(query))) {}
  ~TScopedAdapterTable() { SetAdapterTableQuery(std::move(fPrevious)); }
  TScopedAdapterTable(const TScopedAdapterTable&) = delete;
  TScopedAdapterTable& operator=(const TScopedAdapterTable&) = delete;

 private:
  TAdapterTableQuery fPrevious;
};
