// The winget manifest of a package ("setup build --winget <folder>"): the
// multi-file form of manifest version 1.10.0, that is a version, an
// installer and a default-locale manifest, named after the identifier.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "builder/package_builder.h"
#include "model/install_scope.h"

namespace volok {

struct TWingetInput {
  // From the package's description, as the installer registers them.
  std::string ShortName, Name, Company, Url, Version;
  TWingetFields Fields;          // the description's Winget element
  std::string InstallerUrl;      // --winget-url; wins over Fields.InstallerUrl
  std::string Architecture;      // "x64" or "x86", from the shipped engine
  std::string InstallerName;     // the single file's name, which a placeholder URL ends with
  std::string InstallerSha256;   // of the package's final single file
  // The description's Scope: the manifest's Scope; Either gives one
  // installer per scope, each choosing it by its switch.
  TInstallScope Scope = TInstallScope::Machine;
};

struct TWingetManifests {
  std::string Identifier;
  // File name and YAML text of each manifest.
  std::vector<std::pair<std::string, std::string>> Files;
  // Values the manifest had to make up (a placeholder URL, a derived
  // identifier that was refused…): the build warns about each.
  std::vector<std::string> Warnings;
};

// The identifier "Publisher.Package" from the company and the short name:
// each part without the characters winget refuses (dots, blanks, \/:*?"<>|
// and control characters), cut to 32 characters. "" when a part is empty.
std::string WingetIdentifier(const std::string& company, const std::string& short_name);
// Whether `text` is a PackageIdentifier winget accepts: two to eight
// parts of 1 to 32 characters, at most 128 in all.
bool IsWingetIdentifier(const std::string& text);

TWingetManifests MakeWingetManifests(const TWingetInput& input);
// Writes the manifests into `folder` (made when missing), UTF-8 without a
// byte-order mark; throws Error naming the file that could not be written.
void WriteWingetManifests(const TWingetManifests& manifests, const std::string& folder);

}  // namespace volok
