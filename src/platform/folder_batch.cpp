#include "platform/folder_batch.h"

namespace volok::platform {

namespace {

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
          c == '.'))
      return false;
  return true;
}

}  // namespace

bool SplitFolderBatch(const std::string& batch, std::string& parent, std::string& folder, std::string& name) {
  const std::size_t last = batch.rfind('\\');
  if (last == std::string::npos || last == 0) return false;
  const std::size_t before = batch.rfind('\\', last - 1);
  if (before == std::string::npos) return false;
  parent = batch.substr(0, before);
  folder = batch.substr(before + 1, last - before - 1);
  name = batch.substr(last + 1);
  // A drive root keeps its delimiter, as a working folder must.
  if (parent.size() == 2 && parent[1] == ':') parent += '\\';
  return !parent.empty() && IsPlainName(folder) && IsPlainName(name);
}

}  // namespace volok::platform
