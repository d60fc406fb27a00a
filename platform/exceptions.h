// The runtime's two general exception classes: the plain base exception that
// every error of the system derives from, and the input/output error that the
// file layer raises when an operating-system call fails.
#pragma once

#include <stdexcept>
#include <string>

namespace logvane {

// Base of every error the system raises. Carries one message text.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A failed file operation. Carries the operating system's error code.
class EInOutError : public Exception {
 public:
  EInOutError(int error_code, const std::string& message)
      : Exception(message), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

}  // namespace logvane

namespace logvane {

// A floating-point value too large for the format it has to be stored in.
class EOverflow : public Exception {
 public:
  EOverflow() : Exception("Floating point overflow") {}
};

}  // namespace logvane
