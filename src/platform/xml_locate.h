// Where a document that a parser refused goes wrong, for parsers that do not
// say (Wine's MSXML reports neither line nor column).
#pragma once

#include <string>

namespace volok::platform {

// "строка L, столбец C: reason" for the first "&" that starts no reference
// or the first end tag that closes another element than the open one; ""
// when neither is found. Comments, CDATA sections, processing instructions
// and declarations are skipped; lines and characters count from 1.
std::string LocateXmlProblem(const std::string& xml);

}  // namespace volok::platform
