// Where the entries of a build description stand in its file, so that a
// warning can name the line an author has to fix. The XML DOM of either
// platform keeps no positions; this reads the file's text itself.
#pragma once

#include <string>
#include <vector>

namespace volok {

// The line (from 1) of each "File" element directly inside a `list`
// element ("Install", "UnInstall") directly inside the document element,
// in document order, which is the order the builder selects them in.
// Comments, CDATA sections, processing instructions and quoted attribute
// values are skipped. A text in UTF-16 (byte-order mark) or one the scan
// cannot follow gives no lines: warnings then name no line.
std::vector<int> EntryLines(const std::string& text, const std::string& list);

}  // namespace volok
