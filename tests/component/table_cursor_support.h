// Helpers for the table cursor tests: the message of a failing call, the
// process's open descriptors, and walks that collect one field's values.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "component/daro_vivuv.h"
#include "test_support.h"

namespace logvane::test {

using test::MessageOf;

inline std::set<std::string> OpenFds() {
  std::set<std::string> fds;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
    fds.insert(e.path().filename().string());
  return fds;
}

// The texts of `field` from First to the end of data.
inline std::vector<std::string> WalkForward(TDataSet& t, const std::string& field) {
  std::vector<std::string> seen;
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(t.FieldByName(field).AsString());
  return seen;
}

// The texts of `field` from Last back to the beginning of data.
inline std::vector<std::string> WalkBackward(TDataSet& t, const std::string& field) {
  std::vector<std::string> seen;
  for (t.Last(); !t.Bof(); t.Prior()) seen.push_back(t.FieldByName(field).AsString());
  return seen;
}

}  // namespace logvane::test
