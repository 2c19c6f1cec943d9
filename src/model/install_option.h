// The optional features a description offers: groups as headings and the
// options shown under them.
#pragma once

#include <string>

#include "model/install_list_elem.h"

namespace volok {

class TInstallGroup final : public TInstallListElem {
 public:
  // Reads Name, DisplayName and Description. Throws Error "Нет данных для
  // группы." when Name or DisplayName is empty.
  void ReadXml(platform::XmlNode& node) override;

  const std::string& Name() const { return FName; }
  const std::string& DisplayName() const { return FDisplayName; }
  const std::string& Description() const { return FDescription; }

 private:
  std::string FName;
  std::string FDisplayName;
  std::string FDescription;
};

class TInstallOption final : public TInstallListElem {
 public:
  // Reads Name, Type, Group, DisplayName, Description and Values. Throws
  // Error "Нет данных для группы." (the groups' text) when Name, Type or
  // DisplayName is empty.
  void ReadXml(platform::XmlNode& node) override;

  const std::string& Name() const { return FName; }
  // "check", "radio" or "combo" in any case; other kinds are shown as nothing.
  const std::string& Type_() const { return FType; }
  const std::string& Group() const { return FGroup; }
  const std::string& Values() const { return FValues; }
  const std::string& DisplayName() const { return FDisplayName; }
  const std::string& Description() const { return FDescription; }

 private:
  std::string FName;
  std::string FType;
  std::string FGroup;
  std::string FValues;
  std::string FDisplayName;
  std::string FDescription;
};

}  // namespace volok
