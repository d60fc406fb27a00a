// One running copy of the program per user: a named, system-wide lock that
// the operating system releases when the process ends.
//
// The lock is an exclusive flock on a file named for the lock and the user:
// $XDG_RUNTIME_DIR/<name>.lock when that variable names a writable folder
// (a folder of this user's alone), else /tmp/<name>-<uid>.lock. The lock
// belongs to the open file, which stays open until the process ends (it is
// never released explicitly and is closed on exec), so a copy that crashed
// or was killed leaves nothing behind: its lock is free for the next start.
#pragma once

#include <string>

namespace logvane::platform {

enum class TInstanceLock {
  kAcquired,       // this process now holds the lock until it ends
  kHeldElsewhere,  // another running process holds it
  kUnavailable,    // the lock file cannot be used; nothing is known
};

// The file that carries the lock `name`. Characters other than letters,
// digits, "-", "_" and "." are replaced by "_".
std::string InstanceLockPath(const std::string& name);

// Tries once, without waiting, to take the lock `name` for the rest of this
// process. A lock file that is not a regular file of this user is refused
// (kUnavailable) rather than trusted.
TInstanceLock TakeInstanceLock(const std::string& name);

}  // namespace logvane::platform
