// The one exception type of the system. Its message is complete and ready to
// show the user (UTF-8). A routine that wraps a lower error puts its
// bracketed context first, e.g. "[ReadXML] Ошибка: " + the lower message.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "platform/status.h"

namespace volok {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  // An error that deployment tools must tell apart (a newer version
  // installed, another run, a cancel) carries the process's exit code for
  // it; 0 leaves the caller's default (a fatal error).
  Error(const std::string& message, int exit_code) : std::runtime_error(message), FExitCode(exit_code) {}
  int ExitCode() const { return FExitCode; }

 private:
  int FExitCode = 0;
};

// Throws Error with the status's message when it failed.
inline void ThrowIfFailed(const platform::Status& status) {
  if (!status.ok()) throw Error(status.message());
}

// The message of whatever the current catch block caught, for wrapping.
inline std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Неизвестная ошибка";
  }
}

}  // namespace volok
