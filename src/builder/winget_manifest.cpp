#include "builder/winget_manifest.h"

#include "builder/build_report.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

constexpr char kManifestVersion[] = "1.10.0";
constexpr char kDefaultLocale[] = "ru-RU";

bool IsRefusedInIdentifier(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '.' || c == ' ' || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos;
}

// The first `count` code points of a UTF-8 text.
std::string FirstCodePoints(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t n = 0; at < text.size() && n < count; ++n) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return text.substr(0, at);
}

std::size_t CodePoints(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string IdentifierPart(const std::string& text) {
  std::string part;
  for (char c : text)
    if (!IsRefusedInIdentifier(static_cast<unsigned char>(c))) part += c;
  return FirstCodePoints(part, 32);
}

bool IsHttpUrl(const std::string& url) {
  std::string lower = LowerCase(url.substr(0, 8));
  std::size_t scheme = lower.rfind("https://", 0) == 0 ? 8 : lower.rfind("http://", 0) == 0 ? 7 : 0;
  if (scheme == 0 || url.size() <= scheme || url.size() > 2048) return false;
  for (char c : url)
    if (static_cast<unsigned char>(c) <= 0x20) return false;
  return true;
}

bool IsLocale(const std::string& text) {
  if (text.empty() || text.size() > 20) return false;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t dash; (dash = text.find('-', start)) != std::string::npos; start = dash + 1)
    parts.push_back(text.substr(start, dash - start));
  parts.push_back(text.substr(start));
  auto letters = [](const std::string& part, std::size_t low, std::size_t high) {
    if (part.size() < low || part.size() > high) return false;
    for (char c : part)
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return true;
  };
  if (!letters(parts[0], 2, 3)) return false;
  for (std::size_t i = 1; i < parts.size(); ++i)
    if (!letters(parts[i], 1, 8)) return false;
  return true;
}

// A text for a field with winget's length limits, or the first fallback
// that fits.
std::string Fitting(std::initializer_list<std::string> candidates, std::size_t low, std::size_t high) {
  for (const std::string& candidate : candidates)
    if (CodePoints(Trim(candidate)) >= low) return FirstCodePoints(Trim(candidate), high);
  return {};
}

// YAML's double-quoted scalars take JSON's escapes.
std::string Quoted(const std::string& text) { return JsonString(text); }

std::string Header(const std::string& type) {
  return "# yaml-language-server: $schema=https://aka.ms/winget-manifest." + type + "." + kManifestVersion +
         ".schema.json\n# Made by setup build from the package's description.\n\n";
}

std::string Footer(const std::string& type) {
  return "ManifestType: " + type + "\nManifestVersion: " + kManifestVersion + "\n";
}

// The switches winget passes, indented by `indent`. `scope` joins the
// experience switches, which winget puts first: /D= must stay the last.
std::string Switches(const std::string& indent, const std::string& scope) {
  const std::string extra = scope.empty() ? std::string() : " " + scope;
  std::string text = indent + "InstallerSwitches:\n";
  if (!scope.empty()) text += indent + "  Interactive: " + scope + "\n";
  text += indent + "  Silent: /S" + extra + "\n" + indent + "  SilentWithProgress: /passive" + extra + "\n";
  text += indent + "  InstallLocation: " + Quoted("/D=<INSTALLPATH>") + "\n";
  text += indent + "  Log: " + Quoted("/log=<LOGPATH>") + "\n";
  return text;
}

}  // namespace

std::string WingetIdentifier(const std::string& company, const std::string& short_name) {
  std::string publisher = IdentifierPart(company), package = IdentifierPart(short_name);
  if (publisher.empty() || package.empty()) return {};
  return publisher + "." + package;
}

bool IsWingetIdentifier(const std::string& text) {
  if (text.empty() || text.size() > 128) return false;
  std::size_t parts = 0, start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || CodePoints(part) > 32 || IdentifierPart(part) != part) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts >= 2 && parts <= 8;
}

TWingetManifests MakeWingetManifests(const TWingetInput& input) {
  TWingetManifests out;
  std::string id = input.Fields.PackageIdentifier;
  if (!id.empty() && !IsWingetIdentifier(id)) {
    out.Warnings.push_back("Winget/PackageIdentifier \"" + id + "\" не подходит для winget: взят выведенный из Company и ShortName.");
    id.clear();
  }
  if (id.empty()) id = WingetIdentifier(input.Company, input.ShortName);
  if (id.empty()) {
    id = WingetIdentifier(input.ShortName, input.ShortName);
    out.Warnings.push_back("Для идентификатора winget нет издателя (Company): взят " + id +
                           "; задайте Winget/PackageIdentifier.");
  }
  out.Identifier = id;
  std::string url = !input.InstallerUrl.empty() ? input.InstallerUrl : input.Fields.InstallerUrl;
  if (!IsHttpUrl(url)) {
    std::string placeholder = "https://example.invalid/" + id + "/" + input.Version + "/" +
                              (input.InstallerName.empty() ? std::string("setup.exe") : input.InstallerName);
    out.Warnings.push_back((url.empty() ? std::string("Не задан адрес установщика для winget")
                                        : "Адрес установщика для winget не является адресом http(s): " + url) +
                           "; в манифесте заглушка " + placeholder + " (задайте --winget-url или Winget/InstallerUrl).");
    url = placeholder;
  }
  std::string locale = input.Fields.PackageLocale.empty() ? kDefaultLocale : input.Fields.PackageLocale;
  if (!IsLocale(locale)) {
    out.Warnings.push_back("Winget/PackageLocale \"" + locale + "\" не является языковым тегом: взят " + kDefaultLocale + ".");
    locale = kDefaultLocale;
  }
  std::string license = input.Fields.License;
  if (CodePoints(license) < 3) {
    out.Warnings.push_back("Не задана лицензия для winget (Winget/License): в манифесте \"Not specified\".");
    license = "Not specified";
  }
  const std::string publisher = Fitting({input.Company, input.ShortName, "Unknown publisher"}, 2, 256);
  const std::string name = Fitting({input.Name, input.ShortName, "Unknown package"}, 2, 256);
  const std::string summary = Fitting({input.Fields.ShortDescription, name, "Unknown package"}, 3, 256);
  const std::string head = "PackageIdentifier: " + Quoted(id) + "\nPackageVersion: " + Quoted(input.Version) + "\n";

  std::string version = Header("version") + head + "DefaultLocale: " + locale + "\n" + Footer("version");

  const bool either = input.Scope == TInstallScope::Either;
  std::string installer = Header("installer") + head + "InstallerType: exe\n";
  if (!either) installer += std::string("Scope: ") + InstallScopeName(input.Scope) + "\n";
  installer += "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n";
  if (!either) installer += Switches("", "");
  installer += "ExpectedReturnCodes:\n";
  const std::pair<int, const char*> codes[] = {{1602, "cancelledByUser"}, {1603, "contactSupport"},
                                               {1618, "installInProgress"}, {1638, "downgrade"},
                                               {1639, "invalidParameter"}, {3010, "rebootRequiredToFinish"}};
  for (const auto& [code, response] : codes)
    installer += "- InstallerReturnCode: " + std::to_string(code) + "\n  ReturnResponse: " + response + "\n";
  installer += "UpgradeBehavior: install\n";
  // A machine-wide run asks for its rights itself; a per-user one needs none.
  if (input.Scope == TInstallScope::Machine) installer += "ElevationRequirement: elevatesSelf\n";
  installer += "ProductCode: " + Quoted(input.ShortName) + "\n";
  installer += "AppsAndFeaturesEntries:\n- DisplayName: " + Quoted(Fitting({input.Name, name}, 1, 256)) + "\n";
  if (!Trim(input.Company).empty()) installer += "  Publisher: " + Quoted(FirstCodePoints(input.Company, 256)) + "\n";
  installer += "  DisplayVersion: " + Quoted(input.Version) + "\n  ProductCode: " + Quoted(input.ShortName) +
               "\n  InstallerType: exe\n";
  installer += "Installers:\n";
  const std::string file = "  InstallerUrl: " + Quoted(url) + "\n  InstallerSha256: " + Quoted(input.InstallerSha256) + "\n";
  if (!either) {
    installer += "- Architecture: " + input.Architecture + "\n" + file;
  } else {
    // winget picks the installer of the scope asked for (--scope), the
    // user's by default; the switch makes the engine take that scope.
    for (const char* scope : {"user", "machine"}) {
      const bool machine = scope == std::string("machine");
      installer += "- Architecture: " + input.Architecture + "\n  Scope: " + scope + "\n" + file;
      installer += Switches("  ", machine ? "/allusers" : "/currentuser");
      if (machine) installer += "  ElevationRequirement: elevatesSelf\n";
    }
  }
  installer += Footer("installer");

  std::string defaults = Header("defaultLocale") + head + "PackageLocale: " + locale + "\n";
  defaults += "Publisher: " + Quoted(publisher) + "\n";
  if (IsHttpUrl(input.Url)) defaults += "PublisherUrl: " + Quoted(input.Url) + "\n";
  defaults += "PackageName: " + Quoted(name) + "\nLicense: " + Quoted(license) + "\nShortDescription: " +
              Quoted(summary) + "\n" + Footer("defaultLocale");

  out.Files = {{id + ".yaml", version}, {id + ".installer.yaml", installer}, {id + ".locale." + locale + ".yaml", defaults}};
  return out;
}

void WriteWingetManifests(const TWingetManifests& manifests, const std::string& folder) {
  if (!ForceFolders(ExcludeTrailingDelimiter(folder)))
    throw Error("Не удалось создать папку манифеста winget: " + folder + ".");
  auto& files = platform::FileSystem::Default();
  for (const auto& [name, text] : manifests.Files) {
    const std::string path = IncludeTrailingDelimiter(folder) + name;
    std::unique_ptr<platform::File> file;
    platform::Status status = files.OpenFile(path, platform::FileAccess::CreateAlways, platform::FileShare::None, file);
    if (status.ok()) status = file->Write(text.data(), text.size());
    if (!status.ok()) throw Error("Не удалось записать манифест winget: " + path + ": " + status.message());
  }
}

}  // namespace volok
