// Stored item names: how the writer forms them from paths and how the reader
// turns them back into safe target paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace volok::archive {

// The stored name of a path relative to the base folder: drive, leading
// delimiters and leading ".." parts removed, "\" turned into "/", and a
// trailing "/" for a folder.
std::string StoredName(std::string_view relative_path, bool folder);

// Where an item lands below `base` (a Windows path; one trailing "\" is
// taken as the delimiter). Refuses (answers nothing for) any name that is
// not a plain relative path: absolute (leading "/" or "\", a drive), with
// a ".." segment anywhere, a segment that IsSafeNameSegment
// (common/file_names.h) refuses, or
// naming nothing. "." and empty segments are dropped, so the platform never
// sees them.
std::optional<std::string> TargetPath(std::string_view base, std::string_view stored_name);

// The stored name that a symbolic link item's text names, resolved against
// the link's own folder, "." and ".." taken as they read. Refuses (answers
// nothing for) an empty or absolute text, one holding a backslash or ":", one that
// climbs above the archive's top folder, and one that names the link's own
// folder or a folder above it (a copy of it would hold itself). Windows
// names: folders compared ignoring case.
std::optional<std::string> LinkTargetName(std::string_view link_name, std::string_view text);


// The UTF-8 form of a stored name: as it stands under flag bit 11; from an
// Info-ZIP Unicode Path extra field that belongs to it; as it stands when it
// is valid UTF-8; otherwise decoded from the Cyrillic DOS code page (866),
// which Windows tools of this program's audience use.
std::string DecodeStoredName(std::string_view raw, std::uint16_t flags, std::string_view extra);

}  // namespace volok::archive
