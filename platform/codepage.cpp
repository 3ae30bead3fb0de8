// UTF-8 <-> Windows-1251 / DOS 866. Both tables list all 256 bytes; the upper halves are the
// code pages as Windows defines them (MultiByteToWideChar with 1251 and 866).
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {
namespace {

using Table = std::array<char16_t, 256>;

// Windows-1251. 0x98 is the one byte the code page leaves unassigned (U+FFFD here).
constexpr Table kCp1251 = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// DOS 866 (IBM/Microsoft): Cyrillic letters, box drawing, Ё ё Є є Ї ї Ў ў at F0..F7 and
// ° ∙ · √ № ¤ ■ NO-BREAK SPACE at F8..FF. The control range 00..1F and 7F stays as ASCII.
constexpr Table kCp866 = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,  // F8
};

const Table& TableFor(CodePage page) { return page == CodePage::kCp1251 ? kCp1251 : kCp866; }

const char* NameOf(CodePage page) { return page == CodePage::kCp1251 ? "Windows-1251" : "DOS 866"; }

// The upper half (0x80..0xFF) of a table, reversed: the byte for every code point of the basic
// plane, 0 where the code page has none (0 itself comes only from U+0000, which is ASCII).
// A direct table, because logs and reports are mostly Cyrillic and encoding runs per character.
using Reverse = std::vector<unsigned char>;

Reverse MakeReverse(const Table& table) {
  Reverse reverse(0x10000, 0);
  for (int i = 128; i < 256; ++i) {
    // U+FFFD stands for the unassigned byte on decoding; it never encodes back.
    if (table[i] != 0xFFFD) reverse[table[i]] = static_cast<unsigned char>(i);
  }
  return reverse;
}

const Reverse& ReverseFor(CodePage page) {
  static const Reverse k1251 = MakeReverse(kCp1251);
  static const Reverse k866 = MakeReverse(kCp866);
  return page == CodePage::kCp1251 ? k1251 : k866;
}

// The byte for every two-byte UTF-8 sequence, indexed by its lead byte times 256 plus its
// second byte; 0 for pairs that are no such sequence or whose character the code page lacks.
// Cyrillic letters are two-byte sequences, and this one lookup both checks and decodes them.
Reverse MakePairs(const Table& table) {
  Reverse pairs(0x10000, 0);
  for (int i = 128; i < 256; ++i) {
    const std::uint32_t cp = table[i];
    if (cp >= 0x80 && cp < 0x800) {
      pairs[((0xC0u | (cp >> 6)) << 8) | (0x80u | (cp & 0x3Fu))] = static_cast<unsigned char>(i);
    }
  }
  return pairs;
}

const Reverse& PairsFor(CodePage page) {
  static const Reverse k1251 = MakePairs(kCp1251);
  static const Reverse k866 = MakePairs(kCp866);
  return page == CodePage::kCp1251 ? k1251 : k866;
}

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string* out, std::uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `*pos`, advancing it. Returns false on malformed input
// (bad lead byte, truncated or bad continuation, overlong form, surrogate, beyond U+10FFFF).
bool NextCodePoint(std::string_view s, std::size_t* pos, std::uint32_t* cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(*pos);
  std::size_t length;
  std::uint32_t value;
  std::uint32_t minimum;
  if (lead < 0x80) {
    *cp = lead;
    ++*pos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    return false;
  }
  if (s.size() - *pos < length) return false;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char c = byte(*pos + i);
    if ((c & 0xC0) != 0x80) return false;
    value = (value << 6) | (c & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *cp = value;
  *pos += length;
  return true;
}

// One character encoded: the input bytes it took (0 when it cannot be encoded) and its byte.
struct Encoded {
  std::size_t length = 0;
  char byte = 0;
};

// Encodes the character at utf8[start] that the fast path of EncodeInto leaves alone (a longer
// sequence, malformed bytes, a character the code page lacks). Without a `substitute`, fails
// for those, describing why in `error` if given.
Encoded EncodeOther(std::string_view utf8, std::size_t start, CodePage page, std::string* error,
                    char substitute) {
  std::size_t pos = start;
  std::uint32_t cp = 0;
  if (!NextCodePoint(utf8, &pos, &cp)) {
    if (substitute != '\0') return Encoded{1, substitute};
    if (error) {
      char buffer[96];
      std::snprintf(buffer, sizeof buffer, "malformed UTF-8 text (byte 0x%02X at offset %zu)",
                    static_cast<unsigned>(static_cast<unsigned char>(utf8[start])), start);
      *error = buffer;
    }
    return Encoded{};
  }
  const unsigned char byte = cp <= 0xFFFF ? ReverseFor(page)[cp] : 0;
  if (byte != 0) return Encoded{pos - start, static_cast<char>(byte)};
  if (substitute != '\0') return Encoded{pos - start, substitute};
  if (error) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " (U+%04X) cannot be written in %s",
                  static_cast<unsigned>(cp), NameOf(page));
    *error = "the character '" + std::string(utf8.substr(start, pos - start)) + "'" + buffer;
  }
  return Encoded{};
}

// Encodes into `out`, which has room for utf8.size() bytes: every UTF-8 sequence becomes one
// byte, so the encoded text is never longer. Stores the number of bytes written in `*length`.
// On failure returns false and, if `error` is given, describes why. With a `substitute`,
// characters that cannot be encoded (and malformed bytes) become it instead, and encoding
// never fails.
bool EncodeInto(std::string_view utf8, CodePage page, char* out, std::size_t* length,
                std::string* error, char substitute) {
  // What the loop reads and advances is held in locals whose address is never taken: a store
  // through `out` (a char pointer) could alias anything else and force reloads per character.
  const unsigned char* const pairs = PairsFor(page).data();
  const unsigned char* const reverse = ReverseFor(page).data();
  const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const end = begin + utf8.size();
  const unsigned char* p = begin;
  char* const out_begin = out;
  while (p != end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      *out++ = static_cast<char>(lead);
      ++p;
      // A run of ASCII (a taxpayer number, a file name) goes over eight bytes at a time; the
      // test looks at the high bit of every byte, so it holds whatever the byte order.
      while (end - p >= 8) {
        std::uint64_t block;
        std::memcpy(&block, p, sizeof block);
        if ((block & 0x8080808080808080u) != 0) break;
        std::memcpy(out, &block, sizeof block);
        p += 8;
        out += 8;
      }
      continue;
    }
    if (end - p >= 2) {  // a Cyrillic letter, checked and decoded by one lookup
      const unsigned char byte = pairs[(static_cast<unsigned>(lead) << 8) | p[1]];
      if (byte != 0) {
        *out++ = static_cast<char>(byte);
        p += 2;
        continue;
      }
    }
    if ((lead & 0xF0) == 0xE0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      // Three-byte characters that the code page holds ("№", quotes, dashes) are common enough
      // in logs to skip the general decoder; overlong forms and surrogates still go there.
      const std::uint32_t cp = ((lead & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      const unsigned char byte = (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) ? reverse[cp] : 0;
      if (byte != 0) {
        *out++ = static_cast<char>(byte);
        p += 3;
        continue;
      }
    }
    const Encoded encoded =
        EncodeOther(utf8, static_cast<std::size_t>(p - begin), page, error, substitute);
    if (encoded.length == 0) return false;
    *out++ = encoded.byte;
    p += encoded.length;
  }
  *length = static_cast<std::size_t>(out - out_begin);
  return true;
}

// Encodes into `*out` (replacing it); on failure returns false and describes why in `error`.
bool Encode(std::string_view utf8, CodePage page, std::string* out, std::string* error) {
  if (IsAscii(utf8)) {
    out->assign(utf8.data(), utf8.size());
    return true;
  }
  std::string result(utf8.size(), '\0');
  std::size_t length = 0;
  if (!EncodeInto(utf8, page, &result[0], &length, error, '\0')) return false;
  result.resize(length);
  *out = std::move(result);
  return true;
}

}  // namespace

std::string DecodeToUtf8(std::string_view bytes, CodePage page) {
  if (IsAscii(bytes)) return std::string(bytes);
  const Table& table = TableFor(page);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    AppendUtf8(&out, table[static_cast<unsigned char>(c)]);
  }
  return out;
}

std::string EncodeFromUtf8(std::string_view utf8, CodePage page) {
  std::string out;
  std::string error;
  if (!Encode(utf8, page, &out, &error)) throw EncodingError(error);
  return out;
}

bool TryEncodeFromUtf8(std::string_view utf8, CodePage page, std::string* out) {
  std::string result;
  if (!Encode(utf8, page, &result, nullptr)) return false;
  if (out) *out = std::move(result);
  return true;
}

std::size_t EncodeFromUtf8LossyInto(std::string_view utf8, CodePage page, char* out) {
  std::size_t length = 0;
  EncodeInto(utf8, page, out, &length, nullptr, '?');
  return length;
}

void AppendFromUtf8Lossy(std::string_view utf8, CodePage page, std::string* out) {
  const std::size_t old_size = out->size();
  out->resize(old_size + utf8.size());
  out->resize(old_size + EncodeFromUtf8LossyInto(utf8, page, &(*out)[old_size]));
}

}  // namespace platform
