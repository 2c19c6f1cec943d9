// Pieces of the POSIX file system that have files of their own: Windows-style
// full paths, the DOS attribute bits, FILETIME conversion, the shell delete.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace volok::platform::posix {

// GetFullPathNameW on a Windows path, with the current folder as Z:\...
Status WindowsFullPath(const std::string& path, std::string& full);

// The attribute bits of a file whose stat (followed through links) is `st`.
std::uint32_t ReadDosAttributes(const std::string& native, const struct stat& st);
// Only the bits kept in the extended attribute (Hidden, System).
std::uint32_t StoredDosAttributes(const std::string& native);
// Applies ReadOnly through the write bits and keeps Hidden and System in the
// "user.DOSATTRIB" extended attribute (removed when neither is set).
Status WriteDosAttributes(const std::string& native, const std::string& shown, std::uint32_t attributes);
// Copies the stored Hidden/System bits from one file to another (best effort).
void CopyDosAttributes(int source_fd, int target_fd);

FileTime ToFileTime(const struct timespec& time);
struct timespec FromFileTime(FileTime time);

// Moves `native` into the freedesktop.org Trash of its volume, with a
// .trashinfo record that lets a file manager restore it.
Status MoveToTrash(const std::string& native, const std::string& shown);

}  // namespace volok::platform::posix
