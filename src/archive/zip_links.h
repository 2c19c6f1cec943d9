// Symbolic link items: an item made on a Unix host whose mode says "link"
// holds the link's text as its data, as Info-ZIP's "zip --symlinks" writes
// it. They are restored after every other item of the extraction is on
// disk, so no item is ever written through a link the archive made.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "archive/zip_format.h"
#include "archive/zip_item_reader.h"

namespace volok::archive {

inline constexpr std::uint32_t PosixTypeMask = 0170000;
inline constexpr std::uint32_t PosixLinkType = 0120000;
// The mode a packed link carries: the type and every permission, as links
// have on POSIX.
inline constexpr std::uint32_t PosixLinkMode = PosixLinkType | 0777;

inline bool IsLinkItem(const ZipItemInfo& item) { return (item.PosixMode() & PosixTypeMask) == PosixLinkType; }

// Restores the link items of one extraction below `base`. Where the file
// system makes links (POSIX) each becomes a link with its text as stored;
// elsewhere (Windows) it becomes a copy of the file or folder it names, a
// link naming another link being copied once that one is done. A link is
// refused, and nothing of it stays, when its text names no place inside
// `base` by a plain relative path (LinkTargetName), when what it resolves
// to through other links lies outside `base` or does not exist, or when a
// folder already stands at its place.
class ZipLinkRestorer final {
 public:
  ZipLinkRestorer(const ZipItemSource& source, std::string base);

  // `path` is the item's checked target path below the base folder.
  void Add(const ZipItemInfo& item, std::string path);
  // Answers the number of links restored.
  std::size_t Restore();
  // Why each refused link was refused, naming it and its text.
  const std::vector<std::string>& Refusals() const { return FRefusals; }

 private:
  struct Link {
    const ZipItemInfo* FItem;
    std::string FPath;
    std::string FText;
    std::string FTarget;  // the path the text names below the base folder
  };

  bool Resolve(Link& link);
  std::size_t MakeLinks(std::vector<Link>& links);
  std::size_t CopyTargets(std::vector<Link>& links);
  void Refuse(const Link& link, const std::string& why);

  const ZipItemSource& FSource;
  std::string FBase;
  std::vector<Link> FLinks;
  std::vector<std::string> FRefusals;
};

}  // namespace volok::archive
