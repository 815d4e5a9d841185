#include "media/file_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool failReplace = false;

bool SyncPath(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool SyncAndReplaceFile(const Text& tmpPath, const Text& finalPath) {
  std::string tmp = ByteString(tmpPath), dest = ByteString(finalPath);
  // fsync through a read-only descriptor flushes the file's data all the same.
  bool ok = !failReplace && SyncPath(tmp, O_RDONLY) && std::rename(tmp.c_str(), dest.c_str()) == 0;
  if (!ok) {
    std::remove(tmp.c_str());
    return false;
  }
  // The rename itself lives in the directory; without this a crash right
  // after it may still bring back the old name. Some file systems refuse
  // fsync on a directory, which does not undo the replacement.
  SyncPath(DirectoryOf(dest), O_RDONLY | O_DIRECTORY);
  return true;
}

void SetReplaceFileFailure(bool fail) { failReplace = fail; }
