#include "model/install_option.h"

#include "common/error.h"
#include "common/xml_helpers.h"

namespace volok {

namespace {

// Options share the groups' message: the description's author learns that
// something in the Options section lacks data.
constexpr const char* kMissingGroupData = "Нет данных для группы.";

}  // namespace

void TInstallGroup::ReadXml(platform::XmlNode& node) {
  FName = GetXmlChildText(&node, "Name");
  FDisplayName = GetXmlChildText(&node, "DisplayName");
  FDescription = GetXmlChildText(&node, "Description");
  if (FName.empty() || FDisplayName.empty()) throw Error(kMissingGroupData);
}

void TInstallOption::ReadXml(platform::XmlNode& node) {
  FName = GetXmlChildText(&node, "Name");
  FType = GetXmlChildText(&node, "Type");
  FGroup = GetXmlChildText(&node, "Group");
  FDisplayName = GetXmlChildText(&node, "DisplayName");
  FDescription = GetXmlChildText(&node, "Description");
  FValues = GetXmlChildText(&node, "Values");
  if (FName.empty() || FType.empty() || FDisplayName.empty()) throw Error(kMissingGroupData);
}

}  // namespace volok
