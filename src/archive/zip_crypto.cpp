#include "archive/zip_crypto.h"

#include <zlib.h>

#include <random>

namespace volok::archive {

namespace {

const z_crc_t* CrcTable() {
  static const z_crc_t* table = get_crc_table();
  return table;
}

// APPNOTE's crc32(key, byte): one step of the table-driven CRC-32 without
// the pre- and post-inversion that zlib's crc32() adds.
inline std::uint32_t CrcStep(const z_crc_t* table, std::uint32_t crc, std::uint8_t byte) {
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// The cipher runs at one byte per step of a serial chain, so the keys are
// kept in locals and the table in a register: this loop bounds how fast
// an encrypted item can be read or written.
template <bool Encrypting>
void Transform(std::uint32_t& key0, std::uint32_t& key1, std::uint32_t& key2, std::uint8_t* data,
               std::size_t size) {
  const z_crc_t* table = CrcTable();
  std::uint32_t k0 = key0, k1 = key1, k2 = key2;
  for (std::size_t i = 0; i < size; ++i) {
    // An unsigned 32-bit product: 16-bit operands would promote to int,
    // whose overflow is undefined.
    std::uint32_t temp = (k2 | 2) & 0xFFFF;
    std::uint8_t stream = static_cast<std::uint8_t>((temp * (temp ^ 1)) >> 8);
    std::uint8_t in = data[i];
    data[i] = static_cast<std::uint8_t>(in ^ stream);
    std::uint8_t plain = Encrypting ? in : data[i];
    k0 = CrcStep(table, k0, plain);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcStep(table, k2, static_cast<std::uint8_t>(k1 >> 24));
  }
  key0 = k0, key1 = k1, key2 = k2;
}

}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) {
  for (char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void ZipCrypto::UpdateKeys(std::uint8_t plain) {
  Transform<true>(FKey0, FKey1, FKey2, &plain, 1);
}

void ZipCrypto::Encrypt(std::uint8_t* data, std::size_t size) { Transform<true>(FKey0, FKey1, FKey2, data, size); }

void ZipCrypto::Decrypt(std::uint8_t* data, std::size_t size) { Transform<false>(FKey0, FKey1, FKey2, data, size); }

ZipCryptHeader ZipCrypto::MakeHeader(std::uint8_t check, std::uint64_t seed) {
  // The header only has to differ between items so that equal files do not
  // give equal cipher text; it is no key material. Drawn from the seed (the
  // mersenne twister is the same on every system), the same input packs to
  // the same bytes, so a published package can be checked against its
  // source.
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  std::mt19937 random(sequence);
  ZipCryptHeader header;
  for (std::size_t i = 0; i + 1 < header.size(); ++i) header[i] = static_cast<std::uint8_t>(random());
  header.back() = check;
  Encrypt(header.data(), header.size());
  return header;
}

std::uint64_t ZipCrypto::HeaderSeed(std::string_view name, std::uint32_t dos_time, std::uint64_t size) {
  // FNV-1a over the name, then the time and the size.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
  for (char c : name) mix(static_cast<std::uint8_t>(c));
  for (int i = 0; i < 4; ++i) mix(static_cast<std::uint8_t>(dos_time >> (8 * i)));
  for (int i = 0; i < 8; ++i) mix(static_cast<std::uint8_t>(size >> (8 * i)));
  return hash;
}

bool ZipCrypto::AcceptHeader(ZipCryptHeader header, std::uint8_t check) {
  Decrypt(header.data(), header.size());
  return header.back() == check;
}

}  // namespace volok::archive
