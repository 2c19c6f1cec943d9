// The base of the elements of a description's lists.
#pragma once

#include "platform/xml.h"

namespace volok {

class TInstallListElem {
 public:
  virtual ~TInstallListElem() = default;
  // Fills the element from its XML element. Every field is assigned before
  // the required ones are checked, so an element that throws Error still
  // holds what it read.
  virtual void ReadXml(platform::XmlNode& node) = 0;
};

}  // namespace volok
