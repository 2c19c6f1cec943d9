#include "archive/zip_crypto.h"

#include <zlib.h>

#include <random>

namespace volok::archive {

namespace {

// APPNOTE's crc32(key, byte): one step of the table-driven CRC-32 without
// the pre- and post-inversion that zlib's crc32() adds.
std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t byte) {
  static const z_crc_t* table = get_crc_table();
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) {
  for (char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void ZipCrypto::UpdateKeys(std::uint8_t plain) {
  FKey0 = CrcStep(FKey0, plain);
  FKey1 = (FKey1 + (FKey0 & 0xFF)) * 134775813u + 1;
  FKey2 = CrcStep(FKey2, static_cast<std::uint8_t>(FKey1 >> 24));
}

std::uint8_t ZipCrypto::KeyStreamByte() const {
  // Unsigned 32-bit product: 16-bit operands would promote to int, whose
  // overflow is undefined.
  std::uint32_t temp = (FKey2 | 2) & 0xFFFFu;
  return static_cast<std::uint8_t>((temp * (temp ^ 1)) >> 8);
}

void ZipCrypto::Encrypt(std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    std::uint8_t plain = data[i];
    data[i] = plain ^ KeyStreamByte();
    UpdateKeys(plain);
  }
}

void ZipCrypto::Decrypt(std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    data[i] ^= KeyStreamByte();
    UpdateKeys(data[i]);
  }
}

ZipCryptHeader ZipCrypto::MakeHeader(std::uint8_t check) {
  // The header only has to differ between items so that equal files do not
  // give equal cipher text; it is no key material.
  static thread_local std::mt19937 random{std::random_device{}()};
  ZipCryptHeader header;
  for (std::size_t i = 0; i + 1 < header.size(); ++i) header[i] = static_cast<std::uint8_t>(random());
  header.back() = check;
  Encrypt(header.data(), header.size());
  return header;
}

bool ZipCrypto::AcceptHeader(ZipCryptHeader header, std::uint8_t check) {
  Decrypt(header.data(), header.size());
  return header.back() == check;
}

}  // namespace volok::archive
