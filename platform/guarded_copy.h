// Copies out of and into shared file mappings that survive the file being
// cut short.
//
// A page of a shared mapping that lies wholly beyond the end of its file
// raises SIGBUS when it is touched: another program that ignores our share
// modes can truncate a table file we have mapped at any moment, and a store
// into a page the file system cannot back (a hole on a full disk) raises it
// too. Every read from such a mapping goes through GuardedCopy and every
// store into one through GuardedStore, which turn that signal into a false
// result, so that the caller can do the same transfer with an ordinary
// system call, which reports what the file holds now or the real error.
//
// The guard is one SIGBUS handler for the whole process, installed by the
// first EnableGuardedCopies. A bus error that does not come from a guarded
// copy goes on to the disposition that was in place before (another
// handler, or the default action that ends the process).
#pragma once

#include <cstddef>

namespace logvane::platform {

// Installs the SIGBUS handler on the first call. Returns false when it
// cannot be installed or another handler has replaced it since; mappings
// must then not be read.
bool EnableGuardedCopies();

// Copies `n` bytes from `source`, which lies in a shared file mapping, to
// `dest`. Returns false when a page of the source is no longer backed by
// the file; `dest` then holds an unspecified part of the bytes.
// REQUIRES: EnableGuardedCopies() returned true.
bool GuardedCopy(void* dest, const void* source, size_t n) noexcept;

// Copies `n` bytes from `source` to `dest`, which lies in a shared file
// mapping. Returns false when a page of the destination cannot be written;
// an unspecified part of the bytes may then have reached the file.
// REQUIRES: EnableGuardedCopies() returned true.
bool GuardedStore(void* dest, const void* source, size_t n) noexcept;

}  // namespace logvane::platform
