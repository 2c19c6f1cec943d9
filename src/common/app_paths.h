// The three process-wide values every part of the engine reads: the
// running executable, its folder, and the log file.
#pragma once

#include <string>

namespace volok {

// Sets ExeFileName from the system and derives the other two. Called once
// at process start, before any other code of the program runs.
void InitAppPaths();
// Tests point the engine at an executable path of their own.
void SetExeFileName(const std::string& path);

// Full path of the running executable.
std::string ExeFileName();
// The file to read the engine's own bytes from: ExeFileName(), or where
// that is the system's own report, a path that reaches the running image
// even after its name was taken over (platform::RunningImagePath).
std::string EngineImageFile();
// Its folder with a trailing backslash.
std::string ExeFolder();
// Initially ExeFileName with the extension ".log"; the install moves it to
// the install folder's "setup.log". Safe to read and set from any thread.
std::string LogFileName();
void SetLogFileName(const std::string& path);

// `path` with its extension (from the last "." after the last "\") replaced
// by `extension`, which includes its dot; appended when there is none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// The part of `path` up to and including its last "\" or ":".
std::string ExtractFilePath(const std::string& path);
// The part of `path` after its last "\" or ":".
std::string ExtractFileName(const std::string& path);

}  // namespace volok
