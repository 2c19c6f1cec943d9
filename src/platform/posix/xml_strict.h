// The checks that make pugixml refuse what MSXML 6 refuses, so that a
// document loads on both backends or on neither.
#pragma once

#include <cstddef>
#include <string>

namespace volok::platform::posix {

// True when `xml` (UTF-8) parses, has exactly one top-level element and no
// other top-level text, declares no document type, holds only characters
// XML 1.0 allows (written out or as character references), nests elements no
// deeper than kMaxXmlDepth, puts no element in a namespace, and every "&"
// starts a predefined entity or a character reference. Walks the tree in a
// loop: no document can exhaust the stack.
bool StrictlyWellFormed(const std::string& xml);

// Where and why a document was refused: the byte offset into it and a
// reason in the user's words.
struct XmlProblem {
  std::size_t Offset = 0;
  std::string Reason;
  // Records the problem; false, so a check can return it.
  bool Set(std::size_t offset, std::string reason);
};
bool StrictlyWellFormed(const std::string& xml, XmlProblem& problem);

// "строка L, столбец C: reason", lines and characters counted from 1.
std::string DescribeXmlProblem(const std::string& xml, const XmlProblem& problem);

}  // namespace volok::platform::posix
