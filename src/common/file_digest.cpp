#include "common/file_digest.h"

#include <memory>

#include "common/crc32.h"
#include "platform/file_system.h"

namespace volok {

namespace {

// As StreamCrc32: the system call per block is what a smaller block costs.
constexpr std::size_t kBlockSize = 1 << 20;

}  // namespace

bool StreamDigest(platform::File& stream, TFileDigest& digest, platform::File* copy) {
  std::unique_ptr<platform::Sha256> sha = platform::Sha256::Create();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlockSize]);
  std::uint32_t crc = 0xFFFFFFFFu;
  digest = TFileDigest();
  bool outcome = stream.Seek(0).ok();
  std::size_t done = 0;
  while (outcome && (outcome = stream.Read(buffer.get(), kBlockSize, done).ok()) && done > 0) {
    Crc32Update(buffer.get(), static_cast<std::uint32_t>(done), crc);
    sha->Update(buffer.get(), done);
    digest.Size += done;
    if (copy) outcome = copy->Write(buffer.get(), done).ok();
  }
  digest.Crc32 = crc ^ 0xFFFFFFFFu;
  digest.Sha256 = sha->Final();
  return outcome;
}

TFileDigest BytesDigest(const std::string& bytes) {
  TFileDigest digest;
  std::uint32_t crc = 0xFFFFFFFFu;
  // Crc32Update takes 32-bit sizes.
  for (std::size_t at = 0; at < bytes.size(); at += kBlockSize) {
    std::size_t part = bytes.size() - at < kBlockSize ? bytes.size() - at : kBlockSize;
    Crc32Update(bytes.data() + at, static_cast<std::uint32_t>(part), crc);
  }
  std::unique_ptr<platform::Sha256> sha = platform::Sha256::Create();
  sha->Update(bytes.data(), bytes.size());
  digest.Size = bytes.size();
  digest.Crc32 = crc ^ 0xFFFFFFFFu;
  digest.Sha256 = sha->Final();
  return digest;
}

std::string HexDigest(const platform::Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace volok
