#include "app/build_mode.h"


#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>

#include "builder/build_report.h"
#include "builder/package_builder.h"
#include "builder/winget_manifest.h"
#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/error.h"
#include "common/log_writer.h"
#include "common/text.h"
#include "common/file_utils.h"
#include "common/text_file.h"
#include "model/install.h"
#include "model/version.h"
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

std::string EngineArchitecture(const std::string& path) {
  std::string bytes;
  if (!ReadWhole(path, bytes) || bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return {};
  std::uint32_t header = Little(bytes, 0x3C, 4);
  if (header + 6 > bytes.size() || bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0) return {};
  std::uint32_t machine = Little(bytes, header + 4, 2);
  return machine == 0x8664 ? "x64" : machine == 0x14C ? "x86" : "";
}

TBuildOptions ParseBuildOptions(const std::vector<std::string>& parameters) {
  TBuildOptions options;
  std::string* files[] = {&options.Signing.Certificate, &options.Signing.Key, &options.Signing.PasswordFile,
                          &options.JsonFile, &options.WingetFolder, &options.WingetUrl};
  const char* file_options[] = {"--sign", "--sign-key", "--sign-pass-file", "--json", "--winget", "--winget-url"};
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
  if (options.Error.empty() && !options.WingetUrl.empty() && options.WingetFolder.empty())
    options.Error = "--winget-url действует только вместе с --winget.";
  return options;
}

namespace {

// An Authenticode signature belongs on a Windows program only: the running
// engine is checked too when it is to be signed.
std::string CheckBeforeBuild(const TBuildOptions& options) {
  bool sign = options.Signing.Enabled();
  // winget installs Windows programs only.
  bool windows_only = sign || !options.WingetFolder.empty();
  if (!options.Engine.empty() || windows_only) {
    std::string problem = CheckEngineFile(options.Engine.empty() ? ExeFileName() : options.Engine, windows_only);
    if (!problem.empty()) return problem;
  }
  if (!sign) return {};
  std::string temp;
  if (!platform::FileSystem::Default().TempFolderPath(temp).ok()) temp = ".";
  return CheckSigning(options.Signing, temp);
}

// The manifest is made last: its SHA-256 is that of the final single file,
// after every change and the signature; winget downloads that one file.
void WriteWinget(TPackageBuilder& builder, const TBuildOptions& options) {
  auto install = std::make_unique<TInstall>();
  install->ReadXml(DecryptText(ReadTextFile(builder.PackageFolder() + "setup.xml")));
  TWingetInput input;
  input.ShortName = install->ShortName();
  input.Name = install->Name();
  input.Company = install->Company();
  input.Url = install->URL();
  input.Version = VersionToStr(install->Version());
  input.Scope = install->Scope();
  input.Fields = builder.WingetFields();
  input.InstallerUrl = options.WingetUrl;
  input.Architecture = EngineArchitecture(builder.PackageFolder() + "setup.exe");
  input.InstallerName = ExtractFileName(builder.SingleFile());
  input.InstallerSha256 = FileSha256(builder.SingleFile());
  TWingetManifests manifests = MakeWingetManifests(input);
  for (const std::string& warning : manifests.Warnings) builder.WarnPackage(warning);
  WriteWingetManifests(manifests, options.WingetFolder);
}

// The report for --json; a report that cannot be written fails the build,
// since the tool that asked for it would read an old one or none.
bool WriteReport(const TBuildOptions& options, const TPackageBuilder* builder, int exit_code,
                 const std::string& error, const std::function<void(const std::string&)>& log) {
  if (options.JsonFile.empty()) return true;
  TBuildReport report;
  report.ExitCode = exit_code;
  report.Status = exit_code == kBuildFailed            ? "failed"
                  : exit_code == kBuildStrictWarnings  ? "strict-warnings"
                  : builder && builder->Warnings() > 0 ? "created-with-warnings"
                                                       : "created";
  report.Error = error;
  try {
    if (builder) {
      report.Warnings = builder->Warnings();
      report.DroppedEntries = builder->DroppedEntries();
      report.WarningList = builder->WarningList();
      report.PackageFolder = builder->PackageFolder();
      if (!report.PackageFolder.empty()) {
        report.Version = ExtractFileName(ExcludeTrailingDelimiter(report.PackageFolder));
        report.Files = ListPackageFiles(report.PackageFolder);
        for (const TPackageFile& file : report.Files)
          if (file.Name == ExtractFileName(builder->SingleFile())) report.Installer = file;
      }
    }
    WriteFileBytes(BuildReportJson(report), options.JsonFile);
    return true;
  } catch (...) {
    log("[MakeUpdate] Ошибка: не удалось записать отчёт сборки " + options.JsonFile + ": " + CurrentExceptionMessage());
    return false;
  }
}

}  // namespace

int RunBuild(const std::vector<std::string>& parameters) {
  platform::AttachParentConsole();
  ConsoleLogView console;
  auto log = [&console](const std::string& text) { WriteLogLine(text, &console, 0, 65001, true); };
  TBuildOptions options = ParseBuildOptions(parameters);
  auto refuse = [&](const std::string& problem) {
    log("[MakeUpdate] Ошибка: " + problem);
    log("[MakeUpdate]: Установка не создана.");
    (void)WriteReport(options, nullptr, kBuildFailed, problem, log);
    return kBuildFailed;
  };
  if (!options.Error.empty()) return refuse(options.Error);
  TPackageBuilder builder;
  // Checked before any payload is packed: a wrong engine or a signature
  // that cannot be made would waste the whole build.
  std::string problem = CheckBeforeBuild(options);
  if (!problem.empty()) return refuse(problem);
  if (!options.Engine.empty()) builder.SetEngineFile(options.Engine);
  builder.SetSigning(options.Signing);
  builder.OnLog = [&log](const std::string& text, int) { log(text); };
  if (!builder.MakeInstall("installer.xml", "output-installer")) {
    (void)WriteReport(options, &builder, kBuildFailed, builder.LastError(), log);
    return kBuildFailed;
  }
  if (!options.WingetFolder.empty()) {
    try {
      WriteWinget(builder, options);
      log("[MakeUpdate]: Манифест winget: " + options.WingetFolder);
    } catch (...) {
      const std::string error = CurrentExceptionMessage();
      log("[MakeUpdate] Ошибка: " + error);
      (void)WriteReport(options, &builder, kBuildFailed, error, log);
      return kBuildFailed;
    }
  }
  int exit_code = kBuildCreated;
  if (options.Strict && builder.Warnings() > 0) {
    log("[MakeUpdate] Ошибка: строгая сборка (--strict) не допускает предупреждений: " +
        std::to_string(builder.Warnings()) + ".");
    exit_code = kBuildStrictWarnings;
  }
  if (!WriteReport(options, &builder, exit_code, "", log)) return kBuildFailed;
  return exit_code;
}

}  // namespace volok
