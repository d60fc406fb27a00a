// A helper process for the instance-lock test: takes the lock named by its
// first argument and prints "acquired", "held" or "unavailable". With a
// second argument "hold" it keeps an acquired lock until its standard input
// closes or it is killed.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/single_instance.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  using logvane::platform::TInstanceLock;
  const TInstanceLock lock = logvane::platform::TakeInstanceLock(argv[1]);
  std::puts(lock == TInstanceLock::kAcquired        ? "acquired"
            : lock == TInstanceLock::kHeldElsewhere ? "held"
                                                    : "unavailable");
  std::fflush(stdout);
  if (lock == TInstanceLock::kAcquired && argc > 2 && std::strcmp(argv[2], "hold") == 0) {
    char c;
    while (::read(0, &c, 1) > 0) {
    }
  }
  return 0;
}
