// Folder trees for the archive tests: written and read back with
// std::filesystem, never through the code under test.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "temp_folder.h"

namespace volok::testing {

// Relative name ("/" separators, a folder's ends with "/") -> file bytes.
using Tree = std::map<std::string, std::string>;

inline std::filesystem::path NativeChild(const std::filesystem::path& root, const std::string& name) {
  return root / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

inline std::string TextBytes(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 97) + " of a text file\n";
  text.resize(size);
  return text;
}

inline void WriteTree(const std::filesystem::path& root, const Tree& tree) {
  for (const auto& [name, bytes] : tree) {
    std::filesystem::path path = NativeChild(root, name);
    if (name.back() == '/') {
      std::filesystem::create_directories(path);
    } else {
      std::filesystem::create_directories(path.parent_path());
      WriteNative(path, bytes);
    }
  }
}

inline Tree ReadTree(const std::filesystem::path& root) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::u8string relative = entry.path().lexically_relative(root).generic_u8string();
    std::string name(relative.begin(), relative.end());
    if (entry.is_directory()) {
      tree[name + "/"] = "";
    } else {
      tree[name] = ReadNative(entry.path());
    }
  }
  return tree;
}

// A tree with every kind of item the payloads hold.
inline Tree SampleTree() {
  return {
      {"readme.txt", TextBytes(50'000)},
      {"empty.dat", ""},
      {"noise.bin", RandomBytes(300'000, 7)},
      {"Документы/", ""},
      {"Документы/отчёт.txt", "Привет, мир!\r\n"},
      {"bin/", ""},
      {"bin/lib/", ""},
      {"bin/lib/deep.txt", TextBytes(1000)},
      {"empty folder/", ""},
  };
}

}  // namespace volok::testing
