// The SIGBUS guard of copies out of and into file mappings.
//
// Each thread has one guard record: the watched range of the copy in
// progress and the point to jump back to. The handler leaves a faulting
// copy through that point; the handler is installed with SA_NODEFER and the
// jump point does not save the signal mask, so the mask after the jump is
// the one the copy started with and the next fault is caught as well.
#include "platform/guarded_copy.h"

#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace logvane::platform {

namespace {

struct CopyGuard {
  sigjmp_buf resume;
  const char* begin = nullptr;
  const char* end = nullptr;
  volatile sig_atomic_t active = 0;
};

// Initial-exec TLS: the handler reads it without calling into the dynamic
// loader.
thread_local CopyGuard t_guard __attribute__((tls_model("initial-exec")));

std::mutex g_install_mutex;
struct sigaction g_previous {};
bool g_installed = false;

void OnBusError(int sig, siginfo_t* info, void* context) {
  CopyGuard& guard = t_guard;
  const char* at = static_cast<const char*>(info->si_addr);
  if (guard.active && at >= guard.begin && at < guard.end) {
    guard.active = 0;
    siglongjmp(guard.resume, 1);
  }
  // Not ours: hand the signal to whatever was installed before.
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) == 0 && g_previous.sa_handler != SIG_DFL &&
      g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
    return;
  }
  // The default action: a faulting access repeats on return and ends the
  // process as it would have without this handler; a sent signal is raised
  // again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  if (info->si_code <= 0) raise(sig);
}

}  // namespace

bool EnableGuardedCopies() {
  std::lock_guard<std::mutex> lock(g_install_mutex);
  struct sigaction current {};
  if (sigaction(SIGBUS, nullptr, &current) != 0) return false;
  const bool ours_in_place =
      (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == OnBusError;
  if (g_installed) return ours_in_place;
  // Installed once only: a handler that replaced ours may chain back to it,
  // and installing ours again on top would make a loop. Once replaced, the
  // guard is reported missing and mappings are not read.
  struct sigaction ours {};
  ours.sa_sigaction = OnBusError;
  ours.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&ours.sa_mask);
  g_previous = current;
  if (sigaction(SIGBUS, &ours, nullptr) != 0) return false;
  g_installed = true;
  return true;
}

namespace {

// The copy of `n` bytes with the range [guarded, guarded + n), the source
// or the destination, watched for bus errors.
bool CopyWatching(void* dest, const void* source, size_t n, const void* guarded) noexcept {
  if (n == 0) return true;  // either pointer may then be null
  CopyGuard& guard = t_guard;
  guard.begin = static_cast<const char*>(guarded);
  guard.end = guard.begin + n;
  if (sigsetjmp(guard.resume, 0) != 0) return false;
  // The copy must stay between the two flag stores.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guard.active = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(dest, source, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guard.active = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return true;
}

}  // namespace

bool GuardedCopy(void* dest, const void* source, size_t n) noexcept {
  return CopyWatching(dest, source, n, source);
}

bool GuardedStore(void* dest, const void* source, size_t n) noexcept {
  return CopyWatching(dest, source, n, dest);
}

}  // namespace logvane::platform
