#include "comm/uLogFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

// One file serves every communicator of the process, written from their listener threads
// as well as from the caller's.
std::mutex gMutex;
std::string gPath;
std::optional<TLogFileFailure> gFailure;
bool gFailureTaken = false;

std::string ExecutableDirectory() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string text(path, static_cast<size_t>(n));
  const size_t slash = text.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : text.substr(0, slash);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// HOME, or the account's home folder for a process started without one (a service).
std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p with the mode the state folder asks for: it is the user's alone.
bool MakeFolders(const std::string& folder) {
  std::string partial;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t slash = folder.find('/', start);
    if (slash == std::string::npos) slash = folder.size();
    partial = folder.substr(0, slash);
    start = slash + 1;
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Under gMutex.
const std::string& PathLocked() {
  if (gPath.empty()) {
    const std::string exeDir = ExecutableDirectory();
    const bool writable = access(exeDir.c_str(), W_OK) == 0;
    gPath = ChooseLogFilePath(exeDir, writable, Environment("XDG_STATE_HOME"), HomeFolder());
  }
  return gPath;
}

// Under gMutex.
void KeepFailure(const std::string& path, int error) {
  if (!gFailure) gFailure = TLogFileFailure{path, error};
}

// Under gMutex: the log opened for appending, or nullptr with the failure kept.
std::FILE* OpenLocked() {
  const std::string& path = PathLocked();
  std::FILE* file = std::fopen(path.c_str(), "ab");
  // The state folder of a fresh account is not there yet.
  if (file == nullptr && errno == ENOENT && MakeFolders(Folder(path))) {
    file = std::fopen(path.c_str(), "ab");
  }
  if (file == nullptr) KeepFailure(path, errno);
  return file;
}

}  // namespace

std::string ChooseLogFilePath(const std::string& exeDir, bool exeDirWritable,
                              const std::string& stateHome, const std::string& home) {
  if (exeDirWritable) return exeDir + "/" + kLogFileName;
  // A relative XDG_STATE_HOME would depend on the folder the program was started from,
  // which is why the convention says to ignore it.
  const std::string state =
      !stateHome.empty() && stateHome.front() == '/' ? stateHome : home + "/.local/state";
  return state + "/varnel/" + kLogFileName;
}

std::string LogFilePath() {
  std::lock_guard lock(gMutex);
  return PathLocked();
}

void SetLogFilePath(const std::string& path) {
  std::lock_guard lock(gMutex);
  gPath = path;
  gFailure.reset();
  gFailureTaken = false;
}

bool AppendToLogFile(const std::string& text) {
  std::lock_guard lock(gMutex);
  std::FILE* file = OpenLocked();
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) KeepFailure(gPath, written ? errno : writeError);
  return written && closed;
}

bool CheckLogFile() {
  std::lock_guard lock(gMutex);
  std::FILE* file = OpenLocked();
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

std::optional<TLogFileFailure> TakeLogFileFailure() {
  std::lock_guard lock(gMutex);
  if (!gFailure || gFailureTaken) return std::nullopt;
  gFailureTaken = true;
  return gFailure;
}
