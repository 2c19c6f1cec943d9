// The checks that make pugixml refuse what MSXML 6 refuses, so that a
// document loads on both backends or on neither.
#pragma once

#include <string>

namespace volok::platform::posix {

// True when `xml` (UTF-8) parses, has exactly one top-level element and no
// other top-level text, declares no document type, holds only characters
// XML 1.0 allows (written out or as character references), nests elements no
// deeper than kMaxXmlDepth, puts no element in a namespace, and every "&"
// starts a predefined entity or a character reference. Walks the tree in a
// loop: no document can exhaust the stack.
bool StrictlyWellFormed(const std::string& xml);

}  // namespace volok::platform::posix
