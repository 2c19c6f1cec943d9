#include "app/build_mode.h"


#include <algorithm>
#include <iterator>

#include "builder/package_builder.h"
#include "common/app_paths.h"
#include "common/log_writer.h"
#include "common/text.h"
#include "common/text_file.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace volok {

// Every engine build carries these bytes; `setup build` looks for them in
// the engine it is asked to ship, so an unrelated program is never packed
// as "setup.exe".
extern const char kEngineMarker[] = "volok-setup-engine:4f1c9a";

namespace {

// The console plays the log view's part.
class ConsoleLogView final : public TLogView {
 public:
  void AppendLine(const std::string& line, std::uint32_t) override { platform::WriteStdOutLine(line); }
};

bool ReadWhole(const std::string& path, std::string& bytes) {
  if (platform::FileSystem::Default().KindOf(path) != platform::FileKind::Regular) return false;
  try {
    bytes = ReadFileBytes(path);
    return true;
  } catch (...) {
    return false;
  }
}

std::uint32_t Little(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

}  // namespace

std::string CheckEngineFile(const std::string& path, bool windows_only) {
  std::string bytes;
  if (!ReadWhole(path, bytes)) return "Исполняемый файл установщика не найден или не читается: " + path + ".";
  bool pe = bytes.size() >= 0x40 && bytes.compare(0, 2, "MZ") == 0;
  std::uint32_t header = pe ? Little(bytes, 0x3C, 4) : 0;
  pe = pe && header + 6 <= bytes.size() && bytes.compare(header, 4, std::string("PE\0\0", 4)) == 0;
  std::uint32_t machine = pe ? Little(bytes, header + 4, 2) : 0;
  // This engine's native build (ELF, x86-64) ships too: the package format
  // is the same on both hosts, and native packages install natively.
  bool native = bytes.size() >= 0x14 && bytes.compare(0, 4, "\x7F" "ELF") == 0 && Little(bytes, 0x12, 2) == 0x3E;
  if (machine != 0x8664 && machine != 0x14C && (!native || windows_only))
    return "Файл не является программой Windows x64 или x86: " + path + ".";
  if (bytes.find(kEngineMarker) == std::string::npos)
    return "Файл не является установщиком этой программы (setup.exe её сборки): " + path + ".";
  return {};
}

TBuildOptions ParseBuildOptions(const std::vector<std::string>& parameters) {
  TBuildOptions options;
  std::string* files[] = {&options.Signing.Certificate, &options.Signing.Key, &options.Signing.PasswordFile};
  const char* file_options[] = {"--sign", "--sign-key", "--sign-pass-file"};
  for (std::size_t i = 2; i < parameters.size() && options.Error.empty(); ++i) {
    std::string word = Trim(parameters[i]);
    std::string lower = LowerCase(word);
    std::size_t file = std::find(std::begin(file_options), std::end(file_options), lower) - std::begin(file_options);
    if (file < std::size(file_options)) {
      // "--sign --strict" forgot the file: the next option is no file name.
      std::string value = i + 1 < parameters.size() ? Trim(parameters[i + 1]) : std::string();
      if (value.empty() || value.rfind("--", 0) == 0) {
        options.Error = "Нет значения параметра " + word + ".";
      } else {
        *files[file] = value;
        ++i;
      }
    } else if (lower.rfind("--sign-pass", 0) == 0) {
      options.Error = "Пароль в командной строке не принимается (его видно в списке процессов и в журналах): "
                      "укажите файл с паролем в --sign-pass-file.";
    } else if (lower == "--strict") {
      options.Strict = true;
    } else if (lower.rfind("--", 0) == 0) {
      options.Error = "Неизвестный параметр: " + word + ".";
    } else if (options.Engine.empty()) {
      options.Engine = word;
    }
  }
  if (options.Error.empty() && !options.Signing.Enabled() &&
      !(options.Signing.Key.empty() && options.Signing.PasswordFile.empty()))
    options.Error = "--sign-key и --sign-pass-file действуют только вместе с --sign.";
  return options;
}

namespace {

// An Authenticode signature belongs on a Windows program only: the running
// engine is checked too when it is to be signed.
std::string CheckBeforeBuild(const TBuildOptions& options) {
  bool sign = options.Signing.Enabled();
  if (!options.Engine.empty() || sign) {
    std::string problem = CheckEngineFile(options.Engine.empty() ? ExeFileName() : options.Engine, sign);
    if (!problem.empty()) return problem;
  }
  if (!sign) return {};
  std::string temp;
  if (!platform::FileSystem::Default().TempFolderPath(temp).ok()) temp = ".";
  return CheckSigning(options.Signing, temp);
}

}  // namespace

int RunBuild(const std::vector<std::string>& parameters) {
  platform::AttachParentConsole();
  ConsoleLogView console;
  auto log = [&console](const std::string& text) { WriteLogLine(text, &console, 0, 65001, true); };
  TBuildOptions options = ParseBuildOptions(parameters);
  if (!options.Error.empty()) {
    log("[MakeUpdate] Ошибка: " + options.Error);
    log("[MakeUpdate]: Установка не создана.");
    return kBuildFailed;
  }
  TPackageBuilder builder;
  // Checked before any payload is packed: a wrong engine or a signature
  // that cannot be made would waste the whole build.
  std::string problem = CheckBeforeBuild(options);
  if (!problem.empty()) {
    log("[MakeUpdate] Ошибка: " + problem);
    log("[MakeUpdate]: Установка не создана.");
    return kBuildFailed;
  }
  if (!options.Engine.empty()) builder.SetEngineFile(options.Engine);
  builder.SetSigning(options.Signing);
  builder.OnLog = [&log](const std::string& text, int) { log(text); };
  if (!builder.MakeInstall("installer.xml", "output-installer")) return kBuildFailed;
  if (options.Strict && builder.Warnings() > 0) {
    log("[MakeUpdate] Ошибка: строгая сборка (--strict) не допускает предупреждений: " +
        std::to_string(builder.Warnings()) + ".");
    return kBuildStrictWarnings;
  }
  return kBuildCreated;
}

}  // namespace volok
