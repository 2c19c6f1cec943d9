// Writes one file item to its target: the data goes to a partial file
// beside the target, gets the item's time and attributes, and replaces the
// target only once complete and checked. Safe to run for different targets
// on several threads at once, each with its own scratch memory.
#pragma once

#include <string>
#include <string_view>

#include "archive/zip_format.h"
#include "archive/zip_item_reader.h"

namespace volok::archive {

// Appended to a target's name while its data is written.
inline constexpr std::string_view PartialSuffix = ".volok-part";

// Answers whether the item was written. On false (wrong password, damaged
// data, CRC mismatch, target not writable) nothing of the item stays on
// disk and an existing target is left as it was. Throws nothing. The
// target's folder must exist.
[[nodiscard]] bool ExtractFileItem(const ZipItemSource& source, const ZipItemInfo& item, const std::string& target,
                                   ZipReadScratch& scratch) noexcept;

}  // namespace volok::archive
