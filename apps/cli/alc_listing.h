// The listing of a controller's variables as the allocation file gives them: an aligned
// table for people and a JSON document for scripts. Shared by `alc` (a file) and the
// commands that list a controller's own variables.
#pragma once

#include <ostream>
#include <string>

#include "apps/cli/cli.h"
#include "data/uTarvoVars.h"

namespace cli {

// The words the listing uses: the allocation file's type and scope words, "user",
// "system" or "hidden", "readonly" or "readwrite".
std::string VisibilityWord(TTarvoVarVisibility visibility);
std::string AccessWord(TTarvoVarAccessType access);

// {"variables":[{"name":..., "index":..., "count":..., "type":..., "scope":...,
// "visibility":..., "access":..., "address":..., "real_address":..., "offset":...,
// "size":..., "description":...}, ...]}
Json VarListJson(const TTarvoVarList& list);

// One header line and one line per variable, columns aligned; addresses in hexadecimal.
void PrintVarTable(const TTarvoVarList& list, std::ostream& out);

}  // namespace cli
