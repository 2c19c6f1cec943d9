// Helpers shared by the benchmark programs.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace bench {

// A native path as the engine takes it: a Windows path, drive Z: being "/"
// on POSIX as under Wine.
inline std::string EnginePath(const std::filesystem::path& native) {
#ifdef _WIN32
  return std::filesystem::absolute(native).string();
#else
  std::string path = "Z:";
  for (char c : std::filesystem::absolute(native).lexically_normal().string()) path += c == '/' ? '\\' : c;
  return path;
#endif
}

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The line scripts/bench reads when a program times its own work (leaving
// process start-up and data generation out of the figure).
inline void ReportSeconds(double seconds) { std::printf("seconds=%.6f\n", seconds); }

}  // namespace bench
