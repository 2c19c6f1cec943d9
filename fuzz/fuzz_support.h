// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace volok::fuzz {

inline std::string Text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// A broken property is a finding: say which one and stop the way a crash
// does, so libFuzzer keeps the input.
inline void Expect(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::abort();
}

// A path of this process's own below the temporary folder, so that several
// fuzzers and the replay tests can run at the same time.
inline std::filesystem::path PrivateTempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
}

// The Windows form of a native path, as the POSIX layer maps drive Z: to "/".
inline std::string WindowsPath(const std::filesystem::path& native) {
  std::string result = "Z:";
  for (char c : native.string()) result += c == '/' ? '\\' : c;
  return result;
}

}  // namespace volok::fuzz
