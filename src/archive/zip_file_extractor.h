// Writes one file item to its target with the item's time and attributes.
// An existing target is replaced only once the new data is complete and
// checked (it is written to a partial file beside it meanwhile). Safe to
// run for different targets on several threads at once, each with its own
// scratch memory.
#pragma once

#include <string>
#include <string_view>

#include "archive/zip_format.h"
#include "archive/zip_item_reader.h"

namespace volok::archive {

// Appended to an existing target's name while its new data is written.
inline constexpr std::string_view PartialSuffix = ".volok-part";

// Answers whether the item was written. On false (wrong password, damaged
// data, CRC mismatch, target not writable) nothing of the item stays on
// disk and an existing target is left as it was. Throws nothing. The
// target's folder must exist.
// `time` is the item's DOS time as a FILETIME count.
[[nodiscard]] bool ExtractFileItem(const ZipItemSource& source, const ZipItemInfo& item, const std::string& target,
                                   platform::FileTime time, ZipReadScratch& scratch) noexcept;

}  // namespace volok::archive
