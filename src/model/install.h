// The installation description: who makes the program, its names and
// version, the install folder, the options offered and chosen, and the
// entries run when installing and when uninstalling. Read from the XML text
// inside setup.xml or uninstall.xml; written as uninstall.xml.
//
// Threads: ReadXml and SaveUnInstallXml may run on any thread (each creates
// its own DOM document); a description is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/install_file.h"
#include "model/install_option.h"
#include "model/install_scope.h"
#include "model/string_list.h"
#include "model/version.h"

namespace volok {

class TInstall final {
 public:
  // Elements are owned; a slot is null only after a reading error, for the
  // elements the reader did not reach.
  using TInstallFiles = std::vector<std::unique_ptr<TInstallFile>>;
  using TInstallGroups = std::vector<std::unique_ptr<TInstallGroup>>;
  using TInstallOptions = std::vector<std::unique_ptr<TInstallOption>>;

  TInstall() = default;
  TInstall(const TInstall&) = delete;
  TInstall& operator=(const TInstall&) = delete;

  // Fills a fresh description from XML text. Throws Error "[ReadXML] Ошибка: "
  // + the reason; what was read before the error stays.
  void ReadXml(const std::string& xml);
  // Writes the uninstall description to `path`: the header values and the
  // uninstall entries that Check passes against Options(), encrypted and in
  // UTF-8. Throws Error "[SaveUnInstallXml] Ошибка: " + the reason.
  void SaveUnInstallXml(const std::string& path) const;

  const TVersion& Version() const { return FVersion; }
  const std::string& Company() const { return FCompany; }
  const std::string& Name() const { return FName; }
  const std::string& ShortName() const { return FShortName; }
  const std::string& URL() const { return FURL; }
  const std::string& InstallPath() const { return FInstallPath; }
  // For whom the program is installed (XML Scope; Machine when absent).
  // An installer's may be Either; uninstall.xml records the scope the
  // install took.
  TInstallScope Scope() const { return FScope; }
  // The chosen option names; compared ignoring case.
  TStringList& Options() { return FOptions; }
  const TStringList& Options() const { return FOptions; }
  const TInstallGroups& InstallGroups() const { return FInstallGroups; }
  const TInstallOptions& InstallOptions() const { return FInstallOptions; }
  TInstallFiles& Install() { return FInstall; }
  const TInstallFiles& Install() const { return FInstall; }
  TInstallFiles& UnInstall() { return FUnInstall; }
  const TInstallFiles& UnInstall() const { return FUnInstall; }

  void SetVersion(const TVersion& value) { FVersion = value; }
  void SetInstallPath(std::string value) { FInstallPath = std::move(value); }
  void SetScope(TInstallScope value) { FScope = value; }

 private:
  void ReadDescription(const std::string& xml);
  void ReadHeader(platform::XmlNode& root);
  std::string UnInstallXml() const;

  TVersion FVersion;
  std::string FCompany;
  std::string FName;
  std::string FShortName;
  std::string FURL;
  std::string FInstallPath;
  TInstallScope FScope = TInstallScope::Machine;
  TStringList FOptions{false};
  TInstallGroups FInstallGroups;
  TInstallOptions FInstallOptions;
  TInstallFiles FInstall;
  TInstallFiles FUnInstall;
};

}  // namespace volok
