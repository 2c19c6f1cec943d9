// Archives with chosen items for the extraction tests, and a record of an
// extracted folder (content, times, attributes) to compare two runs by.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_password.h"
#include "archive/zip_item_writer.h"
#include "archive/zip_reader.h"
#include "common/error.h"
#include "platform/file_system.h"
#include "zip_test_tree.h"

namespace volok::testing {

// Stored name -> data, in archive order; names may repeat.
using ItemList = std::vector<std::pair<std::string, std::string>>;

// Writes an archive whose items carry the given names and data (a name
// ending in "/" makes a folder item).
inline void WriteItemArchive(const TempFolder& temp, const std::string& archive, const ItemList& items) {
  std::filesystem::create_directories(temp.Native("items"));
  std::vector<archive::ZipSource> sources;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& [name, data] = items[i];
    std::string file = "items\\" + std::to_string(i);
    WriteNative(temp.Native("items/" + std::to_string(i)), data);
    bool folder = !name.empty() && name.back() == '/';
    sources.push_back({temp.File(file), name, folder, 0, 132'000'000'000'000'000ULL + std::uint64_t{i} * 20'000'000});
  }
  std::unique_ptr<platform::File> out;
  ASSERT_TRUE(platform::FileSystem::Default()
                  .OpenFile(archive, platform::FileAccess::CreateAlways, platform::FileShare::None, out)
                  .ok());
  archive::WriteZipArchive(*out, sources, ArchivePassword);
}

// What one extraction left: the files and folders, and each one's time
// and attributes as the platform reports them.
struct ExtractionResult {
  std::size_t FExtracted = 0;
  bool FStopped = false;
  Tree FTree;
  std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> FMeta;

  bool operator==(const ExtractionResult& other) const {
    return FExtracted == other.FExtracted && FStopped == other.FStopped && FTree == other.FTree &&
           FMeta == other.FMeta;
  }
};

inline ExtractionResult ExtractWithThreads(const TempFolder& temp, const std::string& archive,
                                           const std::string& folder, unsigned threads) {
  std::filesystem::create_directories(temp.Native(folder));
  ExtractionResult result;
  ZipReader reader;
  reader.SetThreadCount(threads);
  reader.Open(archive);
  reader.SetPassword(std::string(ArchivePassword));
  reader.SetBaseFolder(temp.File(folder));
  try {
    reader.ExtractFiles("*.*");
  } catch (const Error&) {
    result.FStopped = true;
  }
  result.FExtracted = reader.Extracted();
  result.FTree = ReadTree(temp.Native(folder));
  platform::FileSystem& fs = platform::FileSystem::Default();
  for (const auto& [name, data] : result.FTree) {
    std::string path = temp.File(folder);
    for (char c : "\\" + name) path += c == '/' ? '\\' : c;
    if (path.back() == '\\') path.pop_back();
    auto& [time, attributes] = result.FMeta[name];
    EXPECT_TRUE(fs.GetLastWriteTime(path, time).ok()) << path;
    EXPECT_TRUE(fs.GetAttributes(path, attributes).ok()) << path;
  }
  return result;
}

}  // namespace volok::testing
