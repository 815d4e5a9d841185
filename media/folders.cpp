#include "media/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) != 0 || !found ||
      !found->pw_dir || found->pw_dir[0] != '/')
    return {};
  return found->pw_dir;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An XDG base folder: the variable when it holds an absolute path (a
// relative one is invalid and ignored, as the rules ask), else the default
// under the home folder.
Text XdgFolder(const char* variable, const char* fallback, const Text& app) {
  const char* base = std::getenv(variable);
  if (base && base[0] == '/') return AsciiText(base) + u"/" + app;
  std::string home = HomeFolder();
  if (home.empty()) return Text();
  return AsciiText(home + fallback) + app;
}

}  // namespace

Text UserDataFolder(const Text& app) { return XdgFolder("XDG_DATA_HOME", "/.local/share/", app); }

Text UserConfigFolder(const Text& app) { return XdgFolder("XDG_CONFIG_HOME", "/.config/", app); }

bool MakeFolder(const Text& path, Text& error) {
  std::string p = ByteString(path);
  if (p.empty()) {
    error = u"no folder given";
    return false;
  }
  // Each missing parent in turn, from the root down.
  for (size_t slash = p.find('/', 1);; slash = p.find('/', slash + 1)) {
    std::string part = p.substr(0, slash);
    if (!part.empty() && !IsFolder(part) && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = AsciiText(part) + u": " + AsciiText(std::strerror(errno));
      return false;
    }
    if (slash == std::string::npos) break;
  }
  if (IsFolder(p)) return true;
  error = path + u": not a folder";
  return false;
}
