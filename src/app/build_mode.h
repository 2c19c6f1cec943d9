// The headless build: "setup build [engine] [--strict] [--json <file>]
// [--winget <folder> [--winget-url <url>]] [--sign …]" builds the package of
// "installer.xml" in the current folder into "output-installer" without a
// window, for scripts and CI.
#pragma once

#include <string>
#include <vector>

#include "builder/package_signer.h"

namespace volok {

constexpr int kBuildCreated = 0;
constexpr int kBuildFailed = 1;
// --strict and the build logged warnings (an entry left out, an unknown
// action or variable): the package exists, but CI must not ship it.
constexpr int kBuildStrictWarnings = 2;

struct TBuildOptions {
  std::string Engine;       // the first parameter after "build" that is no option
  bool Strict = false;      // --strict
  // --sign <certificate>, --sign-key <key>, --sign-pass-file <file>
  TSignOptions Signing;
  std::string JsonFile;     // --json <file>: the build's result for tools
  std::string WingetFolder; // --winget <folder>: a winget manifest of the package
  std::string WingetUrl;    // --winget-url <url>: where the manifest says setup.exe lies
  std::string Error;        // an unknown option, a missing value, a refused one
};

TBuildOptions ParseBuildOptions(const std::vector<std::string>& parameters);

// "" when `path` is a Windows x64 or x86 program of this engine's build, or
// unless `windows_only` its native build; otherwise why not.
std::string CheckEngineFile(const std::string& path, bool windows_only = false);
// "x64" or "x86" for a Windows program, else "".
std::string EngineArchitecture(const std::string& path);

// Every builder line goes to standard output in the log view's form and to
// the log file. The engine parameter, when given, is the executable to ship
// as "setup.exe" instead of the running one (a Linux host builds a Windows
// package with the Windows engine); it is checked before anything is
// packed. Exit codes above.
int RunBuild(const std::vector<std::string>& parameters);

}  // namespace volok
