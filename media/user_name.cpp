#include "media/user_name.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

Text LocalUserName() {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) != 0 || !found ||
      !found->pw_name)
    return Text();
  return AsciiText(found->pw_name);
}
