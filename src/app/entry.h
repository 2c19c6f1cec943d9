// The program's start: run modes, the uninstaller's relaunch from the
// temporary folder, and the batch that deletes the temporary copy.
#pragma once

#include <string>
#include <vector>

#include "app/relaunch.h"
#include "app/run_switches.h"

namespace volok {

// Runs the program for its parameters (parameter 0 is the program itself;
// `rests` as ParseRunSwitches takes them) and gives the process's exit code.
int RunProgramMain(const std::vector<std::string>& parameters, const std::vector<std::string>& rests = {});

// The wizard window and its message loop; the exit code of its run (an
// uninstaller's: its relaunched copy's). kExitFatal where this build has no
// window (a message on standard error).
int RunWizard(const std::vector<std::string>& parameters, const TRunSwitches& switches = {});

// The silent run. Its exit code: 0 done; kExitRestartNeeded done, a restart
// due; the worker's code otherwise (kExitFatal, kExitAnotherRun, ...). The
// uninstaller in its install folder answers its relaunched copy's code, once
// that copy has ended.
int RunSilentWith(const TRunSwitches& switches);
// As above for a command line (the silent switch implied); a command line
// that is not understood prints the usage and gives kExitBadCommandLine.
int RunSilent(const std::vector<std::string>& parameters);

// "setup --help" (also -h, /?, -?, /help): the usage below on standard
// output; exit code 0.
int RunHelp();
// A command line that is not understood: `error`, then the usage, on
// standard output; nothing is done; kExitBadCommandLine.
int RunUsageError(const std::string& error);

inline constexpr char kPassiveWithoutWindowNote[] =
    "Окно мастера в этой сборке недоступно: /passive выполняется как установка без окна.";

inline constexpr const char* kUsageLines[] = {
    "Использование:",
    "  setup                      мастер установки (или удаления для uninstall.exe)",
    "  setup silent [папка]       установка без окна; папка заменяет InstallPath",
    "  uninstall.exe silent       удаление без окна; завершается, когда удаление закончено",
    "Параметры установки и удаления (регистр не важен; / или -):",
    "  /S, /silent, /verysilent, /quiet, /qn",
    "                             без окна, как silent",
    "  /passive                   мастер без вопросов, только ход работы",
    "  /D=папка                   папка установки; только последним, пробелы без кавычек",
    "  /DIR=папка, INSTALLDIR=папка",
    "                             папка установки",
    "  /log=файл, /log файл       журнал ещё и в этот файл",
    "  /norestart                 принимается: программа сама не перезагружает компьютер",
    "  /suppressmsgboxes          без окон сообщений",
    "  /allowdowngrade            разрешить установку более старой версии поверх новой",
    "  /closeapplications         закрыть программы, занимающие файлы программы",
    "  /restartapplications       и запустить их снова после установки или удаления",
    "  /allusers                  установка для всех пользователей (с правами администратора)",
    "  /currentuser               установка для текущего пользователя (без прав администратора)",
    "  Неизвестный параметр или лишнее слово: эта справка, ничего не выполняется, код 1639.",
    "  setup build [движок] [--strict]",
    "                             сборка пакета из installer.xml текущей папки в output-installer;",
    "                             движок - setup.exe для Windows, который войдёт в пакет",
    "        [--sign сертификат [--sign-key ключ] [--sign-pass-file файл-с-паролем]]",
    "                             подпись setup.exe (Authenticode, программой osslsigncode)",
    "  setup --help | /?          эта справка",
    "Коды завершения: 0 - выполнено; 1602 - отменено пользователем; 1603 - ошибка или отказ;",
    "  1618 - уже идёт другая установка или удаление этой программы;",
    "  1603 также - файлы заняты программами (см. /closeapplications);",
    "  1638 - установлена более новая версия; 1639 - неверная командная строка",
    "  (в том числе /allusers или /currentuser вопреки Scope описания);",
    "  3010 - выполнено, нужна перезагрузка (занятые файлы будут удалены после неё).",
    "  setup build: 0 - пакет создан; 1 - ошибка; 2 - --strict и предупреждения.",
    "  Вне Windows код сохраняет 8 бит: 1602 - 66, 1603 - 67, 1618 - 82, 1638 - 102, 1639 - 103, 3010 - 194.",
    "Журнал: setup.log рядом с программой или в папке установки; удаление без окна -",
    "  uninstall-<ShortName>.log в папке временных файлов.",
};

}  // namespace volok
