// Reading an XML file as MSXML's load does: the byte-order mark decides the
// encoding, else the encoding named in the declaration, else UTF-8.
#pragma once

#include <string>

namespace volok::platform::posix {

// The file's text as UTF-8; a declared encoding is rewritten to "UTF-8", as
// the text no longer is in the encoding it named. False when the file cannot be read or
// names an encoding this system cannot convert.
bool ReadXmlFileAsUtf8(const std::string& path, std::string& xml);

}  // namespace volok::platform::posix
