// The debug log's file: where it lies, appending to it, and whether it could be opened.
//
// The log has always lain beside the executable, and it still does wherever that folder
// can be written (a build tree, a copy in the technician's home). An installed program's
// folder (/usr/bin) belongs to the system, so there the log goes to the user's state
// folder, $XDG_STATE_HOME/varnel or ~/.local/state/varnel, made when first needed. A log
// that cannot be opened is kept as a failure that each front-end takes once and reports,
// instead of frames being lost without a word.
#pragma once

#include <optional>
#include <string>

inline constexpr const char* kLogFileName = "q-link.log";

// The log's path for an executable in exeDir. stateHome and home are the environment's
// XDG_STATE_HOME and HOME, empty when unset; a relative stateHome is no state folder.
std::string ChooseLogFilePath(const std::string& exeDir, bool exeDirWritable,
                              const std::string& stateHome, const std::string& home);

// The process's log: chosen on first use from the executable's folder and the environment.
std::string LogFilePath();
// Replaces the path (tests); an empty path chooses again. Either forgets a failure.
void SetLogFilePath(const std::string& path);

// Appends text as it is, creating the file and the folders it lies in. False when
// the file cannot be opened or written; the first such failure is kept for the front-ends.
bool AppendToLogFile(const std::string& text);
// Opens the log for appending and writes nothing, so that a front-end learns at once, when
// logging is switched on, whether it will work.
bool CheckLogFile();

struct TLogFileFailure {
  std::string Path;
  int Error = 0;  // errno of the failed open or write
};

// The failure not yet taken. Each front-end reports what it takes, so a log that fails
// again and again is reported once; setting the path anew starts over.
std::optional<TLogFileFailure> TakeLogFileFailure();
