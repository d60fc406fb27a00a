// The per-user instance lock: flock on a file in the user's runtime folder.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace logvane::platform {
namespace {

bool IsUsableFolder(const char* path) {
  struct stat st {};
  return path != nullptr && path[0] == '/' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(path, W_OK | X_OK) == 0;
}

std::string SafeName(const std::string& name) {
  std::string safe = name.empty() ? std::string("lock") : name;
  for (char& c : safe) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  return safe;
}

}  // namespace

std::string InstanceLockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (IsUsableFolder(runtime)) return std::string(runtime) + "/" + SafeName(name) + ".lock";
  return "/tmp/" + SafeName(name) + "-" + std::to_string(::getuid()) + ".lock";
}

TInstanceLock TakeInstanceLock(const std::string& name) {
  const std::string path = InstanceLockPath(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return TInstanceLock::kUnavailable;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return TInstanceLock::kUnavailable;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return TInstanceLock::kAcquired;  // fd stays open: the lock lives with the process
  const int error = errno;
  ::close(fd);
  return error == EWOULDBLOCK ? TInstanceLock::kHeldElsewhere : TInstanceLock::kUnavailable;
}

}  // namespace logvane::platform
