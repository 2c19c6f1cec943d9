#include "model/install_file.h"

#include "common/error.h"
#include "common/xml_helpers.h"
#include "model/number_text.h"

namespace volok {

namespace {

// Sizes are what the package builder writes: unsigned decimal. Files of
// 2 GiB and more keep their size instead of reading as 0.
std::uint32_t SizeValue(const std::string& text) {
  std::uint32_t value = 0;
  return TryStrToUInt32(text, value) ? value : 0;
}

// Bare hexadecimal digits; a prefix of its own ("0x1A", "$1A") is no number.
std::uint32_t Crc32Value(const std::string& text) {
  std::uint32_t value = 0;
  return TryHexToUInt32(text, value) ? value : 0;
}

}  // namespace

void TInstallFile::ReadXml(platform::XmlNode& node) {
  FName = GetXmlChildText(&node, "Name");
  FFileName = GetXmlChildText(&node, "FileName");
  FAction = GetXmlChildText(&node, "Action");
  FDestination = GetXmlChildText(&node, "Destination");
  FSize = SizeValue(GetXmlChildText(&node, "Size"));
  FCRC32 = Crc32Value(GetXmlChildText(&node, "CRC32"));
  FOptions.SetDelimitedText(GetXmlChildText(&node, "Options"));
  FArch = GetXmlChildText(&node, "Arch");
  FExitCodes = GetXmlChildText(&node, "ExitCodes");
  if (FName.empty() || FFileName.empty() || FAction.empty() || FDestination.empty())
    throw Error("Нет данных для файла.");
}

bool TInstallFile::Check(const TStringList& opts) const {
  if (FOptions.Count() == 0) return true;
  for (const std::string& name : FOptions.Items())
    if (opts.IndexOf(name) >= 0) return true;
  return false;
}

}  // namespace volok
