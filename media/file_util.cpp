#include "media/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

bool failReplace = false;
int changesLeft = -1;  // files that may still be put in place or removed; -1: any number

// One more change on disk, unless the budget a test set is spent: the
// changes after that are dropped as if the program had stopped.
bool MayChange() {
  if (changesLeft == 0) return false;
  if (changesLeft > 0) --changesLeft;
  return true;
}

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

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// 0 when `to` was made as a copy of `from`; EEXIST when the name is taken;
// -1 for any other failure, which leaves no `to` behind.
int CopyInto(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (in < 0) return -1;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return -1;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    int why = errno == EEXIST ? EEXIST : -1;
    close(in);
    return why;
  }
  std::vector<uint8_t> buf(64 * 1024);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  close(in);
  ok = fsync(out) == 0 && ok;
  ok = close(out) == 0 && ok;
  if (!ok) {
    unlink(to.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

bool SyncAndReplaceFile(const Text& tmpPath, const Text& finalPath) {
  std::string tmp = ByteString(tmpPath), dest = ByteString(finalPath);
  // fsync through a read-only descriptor flushes the file's data all the same.
  bool ok = !failReplace && MayChange() && SyncPath(tmp, O_RDONLY) &&
            std::rename(tmp.c_str(), dest.c_str()) == 0;
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

int SetDiskChangeBudget(int changes) {
  int left = changesLeft;
  changesLeft = changes;
  return left;
}

bool WriteFileAtomically(const Text& path, const std::vector<uint8_t>& bytes, int mode) {
  std::string dest = ByteString(path), tmp = dest + ".tmp";
  if (!MayChange()) return false;
  unlink(tmp.c_str());  // a leftover of a crash; a link there goes, not its target
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                static_cast<mode_t>(mode));
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && !failReplace && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), dest.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  SyncPath(DirectoryOf(dest), O_RDONLY | O_DIRECTORY);
  return true;
}

bool ReadSmallFile(const Text& path, size_t maxBytes, std::vector<uint8_t>& bytes) {
  bytes.clear();
  int fd = open(ByteString(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) <= maxBytes;
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ok = done == bytes.size();
  }
  close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool EnsureFolder(const Text& path) {
  std::string p = ByteString(path);
  struct stat st {};
  if (lstat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(p.c_str(), 0755) == 0;
}

std::vector<Text> FolderFileNames(const Text& path) {
  std::vector<Text> names;
  DIR* dir = opendir(ByteString(path).c_str());
  if (!dir) return names;
  while (const dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(AsciiText(name));
  }
  closedir(dir);
  return names;
}

bool RemovePlainFile(const Text& path) {
  return MayChange() && unlink(ByteString(path).c_str()) == 0;
}

long long PlainFileSize(const Text& path) {
  struct stat st {};
  if (stat(ByteString(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

bool CopyToNewFile(const Text& from, const Text& to) {
  if (CopyInto(ByteString(from), ByteString(to)) != 0) return false;
  SyncPath(DirectoryOf(ByteString(to)), O_RDONLY | O_DIRECTORY);
  return true;
}

Text KeepDatedCopy(const Text& path, const Text& tag) {
  std::time_t now = std::time(nullptr);
  std::tm local {};
  char stamp[32] = "";
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
  std::string base = ByteString(path) + "." + ByteString(tag) + stamp;
  for (int n = 1; n <= 100; ++n) {
    std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    int result = CopyInto(ByteString(path), name);
    if (result == 0) {
      SyncPath(DirectoryOf(name), O_RDONLY | O_DIRECTORY);
      return AsciiText(name);
    }
    if (result != EEXIST) break;
  }
  return Text();
}

bool FollowOwnLink(const Text& path, Text& target, Text& why) {
  std::string p = ByteString(path);
  struct stat st {};
  target = path;
  if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  if (st.st_uid != geteuid()) {
    why = u"is a link owned by someone else";
    return false;
  }
  char real[PATH_MAX];
  if (!realpath(p.c_str(), real) || stat(real, &st) != 0) {
    why = u"is a link that leads to no file";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = u"is a link to something that is not a plain file";
    return false;
  }
  if (st.st_uid != geteuid()) {
    why = u"is a link to a file owned by someone else";
    return false;
  }
  target = AsciiText(real);
  return true;
}

FileLock TakeFileLock(const Text& path) {
  static int held = -1;
  int fd = open(ByteString(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat now {}, before {};
  if (fd < 0 || fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
    if (fd >= 0) close(fd);
    return FileLock::Unavailable;
  }
  if (held >= 0 && fstat(held, &before) == 0 && before.st_dev == now.st_dev &&
      before.st_ino == now.st_ino) {
    close(fd);  // ours already: a second descriptor would contend with the first
    return FileLock::Held;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? FileLock::Busy : FileLock::Unavailable;
  }
  if (held >= 0) close(held);
  held = fd;
  return FileLock::Held;
}
