// One identity for a path, so that a guard compares what the system will
// really touch: "C:\PROGRA~1", "\\?\C:\Program Files", "//?/C:/Program Files",
// a link or junction to a folder and the folder's own name all come out as
// the same text.
#pragma once

#include <string>

namespace volok {

// Rewrites the spellings Win32 accepts for one path into the plain one:
// "/" becomes "\", "\\?\C:\x" and "\??\C:\x" become "C:\x", "\\?\UNC\server\share"
// becomes "\\server\share", and a bare drive "C:" becomes its root "C:\".
// Answers false for device and object-namespace paths ("\\.\…", "\??\UNC\…",
// "\\?\GLOBALROOT\…", "\\?\Volume{…}") and for a colon past the drive (a
// stream, "X::$INDEX_ALLOCATION" being the folder X itself), which name no
// folder a guard could compare.
[[nodiscard]] bool PlainPathSyntax(const std::string& path, std::string& plain);

// "\\server\C$\x" as "C:\x": whether `path` lies in a drive's
// administrative share, on any server, and the drive path it names there.
// `drive` may be `path` itself.
[[nodiscard]] bool AdministrativeShareAsDrive(const std::string& path, std::string& drive);

// The identity of `path`: absolute, "." and ".." resolved, the part that
// exists with links and junctions resolved and short names in their long
// form, the part that does not exist yet appended as given; no trailing
// delimiter except at a root. With `resolve_last` false the last segment is
// kept as it is (a link to delete is the link, not its target). Answers ""
// for a path PlainPathSyntax refuses or that cannot be made absolute.
std::string PathIdentity(const std::string& path, bool resolve_last = true);

// Whether the identity `path` is `folder` or lies below it, compared without
// regard to case.
bool IsSameOrBelow(const std::string& path, const std::string& folder);

// Whether two paths name the same folder by identity (both resolved with
// PathIdentity); false when either cannot be resolved.
bool IsSameFolder(const std::string& a, const std::string& b);

}  // namespace volok
