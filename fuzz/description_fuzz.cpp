// Any XML text either reads as a description or fails with a message; a
// description that reads must survive its own uninstall description: what
// the installer writes, the uninstaller must read back unchanged.
#include "common/crypt.h"
#include "common/error.h"
#include "common/text.h"
#include "common/text_file.h"
#include "fuzz_support.h"
#include "model/install.h"
#include "model/version.h"

namespace {

using volok::TInstall;
using volok::TInstallFile;
using volok::fuzz::Expect;

// XML turns every CR LF and lone CR into LF when it reads; a CR that came
// in as "&#13;" is written as it stands (pugixml does) and so comes back as
// LF. Values are compared with line ends made alike.
std::string LineEnds(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r') result += text[i];
    else if (i + 1 == text.size() || text[i + 1] != '\n') result += '\n';
  return result;
}

bool Same(const std::string& written, const std::string& read) { return LineEnds(written) == read; }

bool SameEntry(const TInstallFile& written, const TInstallFile& read) {
  return Same(written.Name(), read.Name()) && Same(written.FileName(), read.FileName()) &&
         Same(written.Action(), read.Action()) && Same(written.Destination(), read.Destination()) &&
         written.Size() == read.Size() && written.CRC32() == read.CRC32();
}

void CheckReadBack(const TInstall& original, const TInstall& copy) {
  Expect(volok::VersionToStr(original.Version()) == volok::VersionToStr(copy.Version()), "version");
  Expect(Same(original.Company(), copy.Company()) && Same(original.Name(), copy.Name()) &&
             Same(original.ShortName(), copy.ShortName()) && Same(original.URL(), copy.URL()) &&
             Same(original.InstallPath(), copy.InstallPath()),
         "header values");
  size_t next = 0;
  for (const auto& entry : original.UnInstall()) {
    if (!entry->Check(original.Options())) continue;
    Expect(next < copy.UnInstall().size() && SameEntry(*entry, *copy.UnInstall()[next]), "uninstall entry");
    ++next;
  }
  Expect(next == copy.UnInstall().size(), "uninstall entry count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  TInstall install;
  try {
    install.ReadXml(text);
  } catch (const volok::Error&) {
    return 0;
  }
  // The engine reads only decrypted text, which is valid UTF-8; the round
  // trip holds for that.
  if (volok::SanitizeUtf8(text) != text) return 0;
  static const std::string saved = volok::fuzz::WindowsPath(volok::fuzz::PrivateTempPath("volok-description-fuzz"));
  install.SaveUnInstallXml(saved);
  TInstall copy;
  try {
    copy.ReadXml(volok::DecryptText(volok::ReadTextFile(saved)));
  } catch (const volok::Error& error) {
    Expect(false, error.what());
  }
  std::filesystem::remove(volok::fuzz::PrivateTempPath("volok-description-fuzz"));
  CheckReadBack(install, copy);
  return 0;
}
