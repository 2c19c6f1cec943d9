// One entry of a description's install or uninstall list: a command
// (`Action`) and the operands it works on.
#pragma once

#include <cstdint>
#include <string>

#include "model/install_list_elem.h"
#include "model/string_list.h"

namespace volok {

class TInstallFile final : public TInstallListElem {
 public:
  // Reads Name, FileName, Action, Destination, Size, CRC32, Options and Arch.
  // Throws Error "Нет данных для файла." when Name, FileName, Action or
  // Destination is empty. Size is unsigned decimal and CRC32 hexadecimal
  // without prefix; a text that is neither reads as 0.
  void ReadXml(platform::XmlNode& node) override;

  // True when the entry names no option, or when `opts` (by its own
  // comparison) holds at least one of the options it names.
  [[nodiscard]] bool Check(const TStringList& opts) const;

  const std::string& Name() const { return FName; }
  const std::string& FileName() const { return FFileName; }
  const std::string& Action() const { return FAction; }
  const std::string& Destination() const { return FDestination; }
  std::uint32_t Size() const { return FSize; }
  std::uint32_t CRC32() const { return FCRC32; }
  // Names of the options that enable the entry; empty means always enabled.
  TStringList& Options() { return FOptions; }
  const TStringList& Options() const { return FOptions; }
  // "", "x86" or "x86-64", as written.
  const std::string& Arch() const { return FArch; }
  // RunWait only: the exit codes that count as success, comma-separated
  // ("0,3010"); empty means every code is accepted with a warning.
  const std::string& ExitCodes() const { return FExitCodes; }

  void SetName(std::string value) { FName = std::move(value); }
  void SetFileName(std::string value) { FFileName = std::move(value); }
  void SetAction(std::string value) { FAction = std::move(value); }
  void SetDestination(std::string value) { FDestination = std::move(value); }
  void SetSize(std::uint32_t value) { FSize = value; }
  void SetCRC32(std::uint32_t value) { FCRC32 = value; }
  void SetArch(std::string value) { FArch = std::move(value); }
  void SetExitCodes(std::string value) { FExitCodes = std::move(value); }

 private:
  std::string FName;
  std::string FFileName;
  std::string FAction;
  std::string FDestination;
  std::uint32_t FSize = 0;
  std::uint32_t FCRC32 = 0;
  TStringList FOptions;
  std::string FArch;
  std::string FExitCodes;
};

}  // namespace volok
