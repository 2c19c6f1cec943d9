// The outcome of a platform call. Platform code reports failures through this
// type only; the layers above turn a failed Status into their one exception
// type, so no error code ever travels above the platform layer.
#pragma once

#include <string>
#include <utility>

namespace volok::platform {

class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Failure(std::string message) { return Status(std::move(message)); }

  bool ok() const { return FOk; }
  // The system's own description of the failure, UTF-8; empty when ok().
  const std::string& message() const { return FMessage; }

 private:
  explicit Status(std::string message) : FOk(false), FMessage(std::move(message)) {}

  bool FOk = true;
  std::string FMessage;
};

}  // namespace volok::platform
