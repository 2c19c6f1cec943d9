#include "common/crypt.h"

#include <cstdint>
#include <cstring>

#include "common/base64.h"
#include "common/blowfish.h"
#include "common/error.h"
#include "common/ripemd256.h"
#include "common/text.h"

namespace volok {

namespace {

constexpr char kEmptyMarker[] = "EMPTY";
constexpr char kEncryptFailed[] = "Ошибка при шифровании";
constexpr char kDecryptFailed[] = "Ошибка расшифровки";

// The key text is assembled at run time from two constants so that it never
// stands in the executable as one string.
constexpr std::uint32_t kKeyHigh = 582731;
constexpr std::uint32_t kKeyLow = 904618;

std::string KeyText() { return std::to_string(kKeyHigh) + std::to_string(kKeyLow); }

// The chaining mode of the container: the feedback is the xor of the cipher
// block and the previous feedback, starting from the encryption of a block of
// 0xFF; a final short block is xored with the encrypted feedback.
class ContainerCipher final {
 public:
  explicit ContainerCipher(std::string_view key)
      : FCipher(Digest(key).data(), Ripemd256::Digest().size()) {
    std::uint8_t ones[8];
    std::memset(ones, 0xFF, sizeof ones);
    FCipher.EncryptBlock(ones, FFeedback);
  }

  std::string Encrypt(std::string_view plain) { return Run(plain, true); }
  std::string Decrypt(std::string_view cipher) { return Run(cipher, false); }

 private:
  static Ripemd256::Digest Digest(std::string_view key) { return Ripemd256::Of(key); }

  std::string Run(std::string_view in, bool encrypting) {
    std::string out(in.size(), '\0');
    size_t full = in.size() / 8 * 8;
    for (size_t i = 0; i < full; i += 8) {
      std::uint8_t block[8], result[8];
      std::memcpy(block, in.data() + i, 8);
      if (encrypting) {
        for (int j = 0; j < 8; ++j) block[j] ^= FFeedback[j];
        FCipher.EncryptBlock(block, result);
        for (int j = 0; j < 8; ++j) FFeedback[j] ^= result[j];
      } else {
        FCipher.DecryptBlock(block, result);
        for (int j = 0; j < 8; ++j) {
          result[j] ^= FFeedback[j];
          FFeedback[j] ^= block[j];
        }
      }
      std::memcpy(out.data() + i, result, 8);
    }
    if (full < in.size()) {
      std::uint8_t key_stream[8];
      FCipher.EncryptBlock(FFeedback, key_stream);
      for (size_t i = full; i < in.size(); ++i) out[i] = static_cast<char>(in[i] ^ key_stream[i - full]);
    }
    return out;
  }

  Blowfish FCipher;
  std::uint8_t FFeedback[8];
};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

unsigned HexPairValue(std::string_view pair) {
  if (pair.size() != 2) return 0;
  if (pair.find('$') != std::string_view::npos) {
    int digit = pair[0] == '$' ? HexDigitValue(pair[1]) : -1;
    return digit < 0 ? 0 : static_cast<unsigned>(digit);
  }
  int high = HexDigitValue(pair[0]), low = HexDigitValue(pair[1]);
  return high < 0 || low < 0 ? 0 : static_cast<unsigned>(high * 16 + low);
}

std::string EncryptToHex(std::string_view plain, std::string_view key) {
  if (plain.empty()) return kEmptyMarker;
  try {
    std::string base64 = Base64Encode(ContainerCipher(key).Encrypt(plain));
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(base64.size() * 2);
    for (unsigned char c : base64) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 15];
    }
    return hex;
  } catch (...) {
    throw Error(kEncryptFailed);
  }
}

std::string DecryptFromHex(std::string_view container, std::string_view key) {
  if (container == kEmptyMarker) return {};
  try {
    if (container.empty()) throw Error(kDecryptFailed);
    std::string base64;
    base64.reserve(container.size() / 2);
    for (size_t i = 0; i + 1 < container.size(); i += 2)
      base64 += static_cast<char>(HexPairValue(container.substr(i, 2)));
    std::string cipher;
    if (!Base64Decode(base64, cipher)) throw Error(kDecryptFailed);
    std::string plain = ContainerCipher(key).Decrypt(cipher);
    if (plain.empty()) throw Error(kDecryptFailed);
    return plain;
  } catch (...) {
    throw Error(kDecryptFailed);
  }
}

std::string EncryptText(std::string_view text) { return EncryptToHex(text, KeyText()); }

std::string DecryptText(std::string_view container) { return SanitizeUtf8(DecryptFromHex(container, KeyText())); }

}  // namespace volok
