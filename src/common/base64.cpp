#include "common/base64.h"

#include <cstring>

namespace volok {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSeparator(char c) { return c != '\0' && std::strchr("\t\n\r $()[]{},;:-_\\*\"'", c) != nullptr; }

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& bytes) {
  bytes.clear();
  unsigned bits = 0;
  int pending = 0;     // bits collected and not yet written
  size_t sextets = 0;  // data characters seen
  bool padding = false;
  for (char c : text) {
    if (IsSeparator(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int v = SextetOf(c);
    // Data after padding would silently change the meaning of what came
    // before it: reject rather than guess.
    if (v < 0 || padding) return false;
    ++sextets;
    bits = (bits << 6) | static_cast<unsigned>(v);
    pending += 6;
    if (pending >= 8) {
      pending -= 8;
      bytes += static_cast<char>((bits >> pending) & 0xFF);
    }
  }
  // A lone sextet in the last group cannot hold a byte.
  return sextets % 4 != 1;
}

}  // namespace volok
