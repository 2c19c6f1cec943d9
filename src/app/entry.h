// The program's start: run modes, the uninstaller's relaunch from the
// temporary folder, and the batch that deletes the temporary copy.
#pragma once

#include <string>
#include <vector>

namespace volok {

// Runs the program for its parameters (parameter 0 is the program itself)
// and gives the process's exit code.
int RunProgramMain(const std::vector<std::string>& parameters);

// The wizard window and its message loop (a message on standard error where
// this build has no window); always 0.
int RunWizard(const std::vector<std::string>& parameters);

// The silent run; `parameters` as above. 0 when the install or uninstall
// completed (or was handed to the relaunched copy), 1 otherwise.
int RunSilent(const std::vector<std::string>& parameters);

// The executable is a copy the relaunch made: it lies in a relaunch folder
// (kRelaunchFolderPrefix and 16 letters or digits), wherever that is now.
bool IsRelaunchedCopy();
// The executable lies inside the user's temporary folder or below it (both
// compared with links resolved), or is a relaunched copy.
bool IsRunningFromTemp();

struct TRelaunch {
  std::string Copy;     // the started copy's path
  std::string Failure;  // why nothing was started, or empty
};
// Copies the executable and its description as "uninstall.exe" and
// "uninstall.xml" into a new folder of random name inside the temporary
// folder and starts the copy there, with "silent" when asked. When a step
// fails, the folder is removed again and Failure says why.
// `switches` (blank-separated, e.g. "/closeapplications") are passed on.
TRelaunch RelaunchFromTemp(bool silent, const std::string& switches = "");
// For a relaunched copy only (anything else returns at once): writes and
// starts the batch beside the relaunch folder (folder name + ".bat") that
// deletes the copy (retrying while the process ends), its description, the
// emptied folder and itself. Never deletes anything outside that folder.
void WriteSelfDeleteBatch();

// "setup --help" (also -h, /?, -?, /help): the usage below on standard
// output; exit code 0.
int RunHelp();

inline constexpr const char* kUsageLines[] = {
    "Использование:",
    "  setup                      мастер установки (или удаления для uninstall.exe)",
    "  setup silent [папка]       установка без окна; папка заменяет InstallPath",
    "  uninstall.exe silent       удаление без окна",
    "    [/closeapplications]     закрыть программы, занимающие файлы программы",
    "    [/restartapplications]   и запустить их снова после установки или удаления",
    "  setup build [движок] [--strict]",
    "                             сборка пакета из installer.xml текущей папки в output-installer;",
    "                             движок - setup.exe для Windows, который войдёт в пакет",
    "        [--sign сертификат [--sign-key ключ] [--sign-pass-file файл-с-паролем]]",
    "                             подпись setup.exe (Authenticode, программой osslsigncode)",
    "  setup --help | /?          эта справка",
    "Коды завершения: 0 - выполнено; 1 - ошибка, отказ или отмена;",
    "  2 - setup build --strict: пакет создан, но с предупреждениями;",
    "  1618 - уже идёт другая установка или удаление этой программы;",
    "  1602 - отменено пользователем; 1603 - файлы заняты программами (см. /closeapplications);",
    "  3010 - выполнено, но занятые файлы будут удалены или заменены после перезагрузки.",
    "Журнал: setup.log рядом с программой или в папке установки.",
};

// The name prefix of the relaunch folders (only those are removed).
inline constexpr char kRelaunchFolderPrefix[] = "volok-uninstall-";

}  // namespace volok
