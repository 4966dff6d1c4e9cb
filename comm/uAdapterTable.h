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

// Reads the table afresh, and keeps what it read as the table last read.
bool QueryAdapterTable(std::vector<TAdapterRecord>& adapters);
// The table as last read (by QueryAdapterTable); read now when nothing has been read yet.
bool LastAdapterTable(std::vector<TAdapterRecord>& adapters);
// The PC's primary address as GetLocalIP last found it; looked up now when never.
std::string LastLocalIP();

// Replaces the query; an empty function restores the system's. Returns the previous one.
// What was read before is forgotten.
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
