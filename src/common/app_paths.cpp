#include "common/app_paths.h"

#include <mutex>

#include "platform/runtime.h"

namespace volok {

namespace {

struct AppPaths {
  std::mutex Mutex;
  std::string ExeFileName;
  std::string ExeFolder;
  std::string LogFileName;
  bool FromSystem = false;
};

AppPaths& Paths() {
  static AppPaths paths;
  return paths;
}

size_t NameStart(const std::string& path) {
  size_t at = path.find_last_of("\\:");
  return at == std::string::npos ? 0 : at + 1;
}

}  // namespace

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < NameStart(path)) return path + extension;
  return path.substr(0, dot) + extension;
}

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

void SetExeFileName(const std::string& path) {
  AppPaths& paths = Paths();
  std::lock_guard<std::mutex> lock(paths.Mutex);
  paths.FromSystem = false;
  paths.ExeFileName = path;
  paths.ExeFolder = ExtractFilePath(path);
  paths.LogFileName = ChangeFileExt(path, ".log");
}

void InitAppPaths() {
  SetExeFileName(platform::ExecutablePath());
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  Paths().FromSystem = true;
}

std::string EngineImageFile() {
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  return Paths().FromSystem ? platform::RunningImagePath() : Paths().ExeFileName;
}

std::string ExeFileName() {
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  return Paths().ExeFileName;
}

std::string ExeFolder() {
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  return Paths().ExeFolder;
}

std::string LogFileName() {
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  return Paths().LogFileName;
}

void SetLogFileName(const std::string& path) {
  std::lock_guard<std::mutex> lock(Paths().Mutex);
  Paths().LogFileName = path;
}

}  // namespace volok
