#include "builder/package_signer.h"

#include <algorithm>
#include <vector>

#include "common/error.h"
#include "common/file_utils.h"
#include "common/process_utils.h"
#include "common/text.h"
#include "common/text_file.h"
#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/runtime.h"

namespace volok {

namespace {

using platform::FileSystem;

// osslsigncode reads a key and hashes a few MB; anything slower is hung.
constexpr std::uint32_t kSignTimeoutMs = 120000;
// The tool's own lines that explain a failure; OpenSSL's error stack after
// them names source files, not causes.
constexpr std::size_t kReportedLines = 4;

std::string CommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + platform::QuoteArgument(argument);
  return line;
}

bool IsPkcs12(const std::string& path) {
  std::string lower = LowerCase(path);
  auto ends = [&lower](const std::string& tail) {
    return lower.size() >= tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
  };
  return ends(".pfx") || ends(".p12");
}

std::string FolderOf(const std::string& path) {
  std::size_t delimiter = path.find_last_of("\\/");
  return delimiter == std::string::npos ? std::string(".") : path.substr(0, delimiter);
}

// The first lines of the tool's output that say something; OpenSSL's
// "<hex>:error:..." stack is left out.
std::string ToolMessage(const std::string& output_file) {
  std::string text;
  try {
    text = ReadFileBytes(output_file);
  } catch (...) {
  }
  (void)FileSystem::Default().RemoveFile(output_file);
  std::vector<std::string> kept;
  for (std::size_t start = 0; start < text.size() && kept.size() < kReportedLines;) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    // A prompt for a password it could not read repeats itself.
    if (line.empty() || line.find(":error:") != std::string::npos ||
        std::find(kept.begin(), kept.end(), line) != kept.end())
      continue;
    kept.push_back(line);
  }
  std::string message;
  for (const std::string& line : kept) message += (message.empty() ? "" : " ") + line;
  return message;
}

// Runs the tool; "" when it succeeded, else why not.
std::string RunTool(const std::vector<std::string>& arguments, const std::string& output_file) {
  std::vector<std::string> command = {SignToolProgram()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  TProgramOutcome outcome = RunProgramWithOutput(CommandLine(command), ".", output_file, kSignTimeoutMs);
  if (!outcome.Started) {
    (void)FileSystem::Default().RemoveFile(output_file);
    return "программа подписи " + command[0] + " не запускается (" + outcome.Failure +
           "); установите osslsigncode (Debian: apt-get install osslsigncode) или укажите её путь в "
           "VOLOK_OSSLSIGNCODE";
  }
  std::string said = ToolMessage(output_file);
  if (!outcome.Ended) return command[0] + " не завершилась за " + std::to_string(kSignTimeoutMs / 1000) + " с";
  if (outcome.ExitCode == 0) return {};
  return command[0] + " завершилась с кодом " + std::to_string(outcome.ExitCode) + (said.empty() ? "" : ": " + said);
}

std::vector<std::string> KeyArguments(const TSignOptions& options) {
  std::vector<std::string> arguments;
  if (IsPkcs12(options.Certificate)) {
    arguments = {"-pkcs12", options.Certificate};
  } else {
    arguments = {"-certs", options.Certificate, "-key", options.Key.empty() ? options.Certificate : options.Key};
  }
  if (!options.PasswordFile.empty()) arguments.insert(arguments.end(), {"-readpass", options.PasswordFile});
  return arguments;
}

}  // namespace

std::string SignToolProgram() {
  std::string program;
  if (platform::EnvironmentVariable("VOLOK_OSSLSIGNCODE", program) && !Trim(program).empty()) return Trim(program);
  return "osslsigncode";
}

std::string CheckSigning(const TSignOptions& options, const std::string& scratch_folder) {
  FileSystem& fs = FileSystem::Default();
  for (const std::string* file : {&options.Certificate, &options.Key, &options.PasswordFile})
    if (!file->empty() && fs.KindOf(*file) != platform::FileKind::Regular)
      return "Файл для подписи не найден: " + *file + ".";
  // Named after this process: builds may run side by side.
  std::string output = IncludeTrailingDelimiter(scratch_folder) + "volok-sign-check-" +
                       std::to_string(platform::CurrentProcessId()) + ".log";
  std::string failure = RunTool({"--version"}, output);
  return failure.empty() ? std::string() : "Подпись невозможна: " + failure + ".";
}

void SignExecutable(const TSignOptions& options, const std::string& file) {
  std::string signed_file = file + ".signed";
  std::vector<std::string> arguments = {"sign", "-h", "sha256"};
  for (const std::string& argument : KeyArguments(options)) arguments.push_back(argument);
  // "/" is a delimiter for both the Linux and the Windows build of the tool,
  // and the tool runs in this process's folder, where `file` is relative.
  std::string tool_file = file;
  for (char& c : tool_file)
    if (c == '\\') c = '/';
  arguments.insert(arguments.end(), {"-in", tool_file, "-out", tool_file + ".signed"});
  FileSystem& fs = FileSystem::Default();
  (void)fs.RemoveFile(signed_file);
  std::string failure = RunTool(arguments, FolderOf(file) + "\\volok-sign.log");
  if (failure.empty() && fs.MoveFileReplace(signed_file, file).ok()) return;
  (void)fs.RemoveFile(signed_file);
  throw Error("Не удалось подписать " + file + ": " + (failure.empty() ? "подписанная копия не записана" : failure) + ".");
}

}  // namespace volok
