#include "archive/zip_links.h"

#include "archive/zip_names.h"
#include "common/error.h"
#include "common/file_utils.h"

namespace volok::archive {

namespace {

using platform::FileKind;
using platform::FileSystem;

// A link's text is a path; anything longer is no link this writer made.
constexpr std::uint64_t MaxLinkText = 4096;

std::string ReadLinkText(const ZipItemSource& source, const ZipItemInfo& item) {
  if (item.FUncompressedSize > MaxLinkText) throw Error("слишком длинная ссылка");
  ZipReadScratch scratch;
  ZipItemReader reader(source, item, scratch);
  std::string text;
  reader.ReadTo([&text](std::uint8_t* data, std::size_t size) { text.append(reinterpret_cast<char*>(data), size); });
  return text;
}

bool Inside(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '\\';
}

// Copies a folder with everything in it; links inside were made copies by
// the system's own following.
platform::Status CopyTree(const std::string& from, const std::string& to) {
  FileSystem& fs = FileSystem::Default();
  if (!fs.FolderExists(to)) {
    if (platform::Status made = fs.MakeFolder(to); !made.ok()) return made;
  }
  std::vector<platform::FileEntry> entries;
  if (platform::Status listed = fs.ListFolder(from, entries); !listed.ok()) return listed;
  for (const platform::FileEntry& entry : entries) {
    std::string source = from + "\\" + entry.Name, target = to + "\\" + entry.Name;
    platform::Status copied = entry.IsFolder ? CopyTree(source, target) : fs.CopyFileOver(source, target);
    if (!copied.ok()) return copied;
  }
  return platform::Status::Ok();
}

std::string ParentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// Makes the folder a link goes into, as items get theirs, but only below a
// folder that lies inside `base` on disk: a link made earlier in this run
// must not carry new folders, or the link itself, elsewhere.
bool MakeParentInside(const std::string& folder, const std::string& base) {
  FileSystem& fs = FileSystem::Default();
  std::string existing = folder;
  while (!fs.FolderExists(existing) && existing.find('\\') != std::string::npos) existing = ParentOf(existing);
  std::string reached;
  if (!fs.CanonicalPath(existing, reached).ok() || (reached != base && !Inside(reached, base))) return false;
  return ForceFolders(folder);
}

// A copy of the file or folder a link names, in the link's place.
platform::Status CopyTarget(FileKind kind, const std::string& target, const std::string& path) {
  if (!ForceFolders(ParentOf(path))) return platform::Status::Failure("папка не создаётся: " + ParentOf(path));
  if (kind == FileKind::Folder) return CopyTree(target, path);
  if (kind == FileKind::Regular) return FileSystem::Default().CopyFileOver(target, path);
  return platform::Status::Failure("не файл и не папка");
}

}  // namespace

ZipLinkRestorer::ZipLinkRestorer(const ZipItemSource& source, std::string base)
    : FSource(source), FBase(std::move(base)) {}

void ZipLinkRestorer::Add(const ZipItemInfo& item, std::string path) { FLinks.push_back({&item, std::move(path), {}, {}}); }

void ZipLinkRestorer::Refuse(const Link& link, const std::string& why) {
  FRefusals.push_back("Ссылка не восстановлена: " + link.FItem->FName + " -> " + link.FText + ": " + why + ".");
}

bool ZipLinkRestorer::Resolve(Link& link) {
  try {
    link.FText = ReadLinkText(FSource, *link.FItem);
  } catch (...) {
    Refuse(link, CurrentExceptionMessage());
    return false;
  }
  std::optional<std::string> name = LinkTargetName(link.FItem->FName, link.FText);
  std::optional<std::string> target = name ? TargetPath(FBase, *name) : std::nullopt;
  if (!target) {
    Refuse(link, "она ведёт за пределы папки распаковки или на свою же папку");
    return false;
  }
  link.FTarget = *target;
  return true;
}

std::size_t ZipLinkRestorer::Restore() {
  std::vector<Link> resolved;
  for (Link& link : FLinks)
    if (Resolve(link)) resolved.push_back(link);
  FLinks.clear();
  return FileSystem::Default().MakesSymbolicLinks() ? MakeLinks(resolved) : CopyTargets(resolved);
}

std::size_t ZipLinkRestorer::MakeLinks(std::vector<Link>& links) {
  FileSystem& fs = FileSystem::Default();
  std::string base;
  if (!fs.CanonicalPath(FBase, base).ok()) base.clear();
  std::vector<Link> made;
  for (Link& link : links) {
    if (base.empty() || !MakeParentInside(ParentOf(link.FPath), base)) {
      Refuse(link, "её папка лежит за пределами папки распаковки или не создаётся");
      continue;
    }
    // A file or link of an earlier run gives way; a folder does not.
    if (fs.KindOf(link.FPath) != FileKind::Folder) (void)fs.RemoveFile(link.FPath);
    if (platform::Status status = fs.MakeSymbolicLink(link.FPath, link.FText); !status.ok()) {
      Refuse(link, status.message());
      continue;
    }
    made.push_back(link);
  }
  // Only now, with every link in place, does a chain of links resolve as it
  // will stay: checked by where it leads on disk, not by how it reads.
  std::size_t restored = 0;
  for (const Link& link : made) {
    std::string reached;
    if (!base.empty() && fs.CanonicalPath(link.FPath, reached).ok() && Inside(reached, base)) {
      ++restored;
      continue;
    }
    Refuse(link, "она ведёт за пределы папки распаковки или в никуда");
    (void)fs.RemoveFile(link.FPath);
  }
  return restored;
}

std::size_t ZipLinkRestorer::CopyTargets(std::vector<Link>& links) {
  FileSystem& fs = FileSystem::Default();
  std::size_t restored = 0;
  // A link to a link is copied once that one is: passes until one makes no
  // progress; what is left names nothing the archive holds.
  for (bool progress = true; progress && !links.empty();) {
    progress = false;
    std::vector<Link> waiting;
    for (Link& link : links) {
      FileKind kind = fs.KindOf(link.FTarget);
      if (kind == FileKind::Missing) {
        waiting.push_back(link);
        continue;
      }
      progress = true;
      platform::Status copied = CopyTarget(kind, link.FTarget, link.FPath);
      if (copied.ok()) {
        ++restored;
      } else {
        Refuse(link, copied.message());
      }
    }
    links.swap(waiting);
  }
  for (const Link& link : links) Refuse(link, "в архиве нет того, на что она указывает");
  return restored;
}

}  // namespace volok::archive
