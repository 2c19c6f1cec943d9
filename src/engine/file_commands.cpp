// The file commands: unpack the payload, copy files, copy or rewrite text
// files with placeholders replaced, delete files and folders.
#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/file_system.h"

namespace volok {

namespace {

constexpr unsigned kTextCodePage = 1251;

void RequireSource(const std::string& source) {
  if (source.empty() || !platform::FileSystem::Default().FileExists(source))
    throw volok::Error("[CopyFile] Исходный файл не найден: " + source + ".");
}

}  // namespace

void TInstallerThread::CopyWithWarning(const std::string& source, const std::string& target) {
  RequireSource(source);
  // Descriptions rely on a failed copy not stopping the run, but the user
  // must still learn that the file is not there.
  if (!platform::FileSystem::Default().CopyFileOver(source, target).ok())
    DoMessage("[Copy]: Не удалось скопировать файл: " + source + " -> " + target, kMessageWarning, false);
}

void TInstallerThread::CopyCommand(TInstallFile& file) {
  DoMessage("[Copy]: Копирование файла: " + file.FileName(), kMessageTrace, false);
  CopyWithWarning(ExeFolder() + file.FileName(), IncludeTrailingDelimiter(file.Destination()) + file.FileName());
}

void TInstallerThread::Copy2Command(TInstallFile& file) {
  DoMessage("[Copy]: Копирование файла: " + file.FileName(), kMessageTrace, false);
  CopyWithWarning(file.FileName(), file.Destination());
}

void TInstallerThread::CopyTextCommand(TInstallFile& file) {
  DoMessage("[CopyText]: Копирование файла с обработкой: " + file.FileName(), kMessageTrace, false);
  std::string source = ExeFolder() + file.FileName();
  RequireSource(source);
  std::string text = ReadTextFile(source);
  FVars.Process(text);
  WriteTextFile(text, IncludeTrailingDelimiter(file.Destination()) + file.FileName(), kTextCodePage);
}

void TInstallerThread::ProcessTextCommand(TInstallFile& file) {
  DoMessage("[ProcessText]: Обработка файла: " + file.FileName(), kMessageTrace, false);
  RequireSource(file.FileName());
  std::string text = ReadTextFile(file.FileName());
  FVars.Process(text);
  WriteTextFile(text, file.FileName(), kTextCodePage);
}

void TInstallerThread::UnZipCommand(TInstallFile& file) {
  DoMessage("[UnZip] Распаковка: Файл: " + file.FileName() + ", Папка: " + file.Destination(), kMessageTrace, false);
  ZipReader reader;
  try {
    // An empty destination would otherwise unpack into the current folder.
    if (file.Destination().empty()) throw volok::Error("Unable to create directory");
    (void)ForceFolders(file.Destination());
    reader.Open(file.FileName());
    reader.SetPassword(std::string(ArchivePassword));
    reader.SetBaseFolder(file.Destination());
    std::size_t extracted = reader.ExtractFiles("*.*");
    std::size_t count = reader.Count();
    std::string report = "[UnZip] Файлов в архиве: " + std::to_string(count) + "\r\n";
    for (std::size_t i = 0; i < count; ++i) report += "[UnZip] Файл: " + reader.Item(i).FName + "\r\n";
    report += "[UnZip] Распаковано: " + std::to_string(extracted);
    DoMessage(report, kMessageTrace, false);
    if (extracted != count)
      throw volok::Error("Не все файлы распакованы. Распаковано " + std::to_string(extracted) + " из " +
                         std::to_string(count) + ".");
  } catch (...) {
    throw volok::Error("[UnZip] Ошибка распаковки файлов: " + CurrentExceptionMessage());
  }
}

void TInstallerThread::DeleteFileCommand(TInstallFile& file) {
  DoMessage("[DeleteFile] Удаление файла: " + file.FileName(), kMessageTrace, false);
  (void)DeleteFolder(file.FileName(), true);
}

void TInstallerThread::DeleteFolderCommand(TInstallFile& file) {
  DoMessage("[DeleteFolder] Удаление папки: " + file.FileName(), kMessageTrace, false);
  (void)DeleteFolder(file.FileName(), true);
}

}  // namespace volok
