#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

const char kRussianUpper[] = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
const char kRussianLower[] = "абвгдежзийклмнопрстуфхцчшщъыьэюя";

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(CodepageTest, Cp1251RussianLettersAreContiguous) {
  std::string upper;
  std::string lower;
  for (int i = 0; i < 32; ++i) {
    upper.push_back(static_cast<char>(0xC0 + i));
    lower.push_back(static_cast<char>(0xE0 + i));
  }
  EXPECT_EQ(EncodeFromUtf8(kRussianUpper, CodePage::kCp1251), upper);
  EXPECT_EQ(EncodeFromUtf8(kRussianLower, CodePage::kCp1251), lower);
  EXPECT_EQ(DecodeToUtf8(upper, CodePage::kCp1251), kRussianUpper);
  EXPECT_EQ(DecodeToUtf8(lower, CodePage::kCp1251), kRussianLower);
}

TEST(CodepageTest, Cp866RussianLetters) {
  std::string upper;
  std::string lower;
  for (int i = 0; i < 32; ++i) {
    upper.push_back(static_cast<char>(0x80 + i));
    lower.push_back(static_cast<char>(i < 16 ? 0xA0 + i : 0xE0 + i - 16));
  }
  EXPECT_EQ(EncodeFromUtf8(kRussianUpper, CodePage::kCp866), upper);
  EXPECT_EQ(EncodeFromUtf8(kRussianLower, CodePage::kCp866), lower);
  EXPECT_EQ(DecodeToUtf8(upper, CodePage::kCp866), kRussianUpper);
  EXPECT_EQ(DecodeToUtf8(lower, CodePage::kCp866), kRussianLower);
}

TEST(CodepageTest, Cp1251UkrainianAndSpecialLetters) {
  // Ё ё Є є І і Ї ї Ґ ґ №
  const std::string text = "ЁёЄєІіЇїҐґ№";
  const std::string bytes =
      Bytes({0xA8, 0xB8, 0xAA, 0xBA, 0xB2, 0xB3, 0xAF, 0xBF, 0xA5, 0xB4, 0xB9});
  EXPECT_EQ(EncodeFromUtf8(text, CodePage::kCp1251), bytes);
  EXPECT_EQ(DecodeToUtf8(bytes, CodePage::kCp1251), text);
}

TEST(CodepageTest, Cp866UpperRow) {
  const std::string text = "ЁёЄєЇїЎў°∙·√№¤■\u00A0";
  std::string bytes;
  for (int b = 0xF0; b <= 0xFF; ++b) bytes.push_back(static_cast<char>(b));
  EXPECT_EQ(EncodeFromUtf8(text, CodePage::kCp866), bytes);
  EXPECT_EQ(DecodeToUtf8(bytes, CodePage::kCp866), text);
}

TEST(CodepageTest, Cp866BoxDrawing) {
  EXPECT_EQ(DecodeToUtf8(Bytes({0xC9, 0xCD, 0xBB, 0xB3, 0xC4, 0xDB}), CodePage::kCp866), "╔═╗│─█");
  EXPECT_EQ(EncodeFromUtf8("░▒▓┌┐└┘", CodePage::kCp866),
            Bytes({0xB0, 0xB1, 0xB2, 0xDA, 0xBF, 0xC0, 0xD9}));
}

TEST(CodepageTest, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (const CodePage page : {CodePage::kCp1251, CodePage::kCp866}) {
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(b);
      const std::string byte(1, static_cast<char>(b));
      const std::string utf8 = DecodeToUtf8(byte, page);
      if (page == CodePage::kCp1251 && b == 0x98) {
        EXPECT_EQ(utf8, "\uFFFD");
        EXPECT_THROW(EncodeFromUtf8(utf8, page), EncodingError);
        continue;
      }
      EXPECT_NE(utf8, "\uFFFD");
      EXPECT_EQ(EncodeFromUtf8(utf8, page), byte);
    }
  }
}

TEST(CodepageTest, AsciiPassesThrough) {
  std::string ascii;
  for (int b = 0; b < 128; ++b) ascii.push_back(static_cast<char>(b));
  for (const CodePage page : {CodePage::kCp1251, CodePage::kCp866}) {
    EXPECT_EQ(DecodeToUtf8(ascii, page), ascii);
    EXPECT_EQ(EncodeFromUtf8(ascii, page), ascii);
  }
  EXPECT_EQ(EncodeFromUtf8("", CodePage::kCp1251), "");
}

TEST(CodepageTest, UnencodableCharacterRaisesAndNamesIt) {
  try {
    EncodeFromUtf8("Ціна: 5€", CodePage::kCp866);  // і is not in 866 (€ neither)
    FAIL() << "no exception";
  } catch (const EncodingError& e) {
    EXPECT_NE(std::string(e.what()).find("'і' (U+0456)"), std::string::npos) << e.what();
  } catch (...) {
    FAIL() << "wrong exception";
  }
  try {
    EncodeFromUtf8("a\u4E2Db", CodePage::kCp1251);
    FAIL() << "no exception";
  } catch (const EncodingError& e) {
    EXPECT_NE(std::string(e.what()).find("U+4E2D"), std::string::npos) << e.what();
  }
  EXPECT_THROW(EncodeFromUtf8("\U0001F600", CodePage::kCp1251), EncodingError);
  EXPECT_THROW(EncodeFromUtf8("Ґ", CodePage::kCp866), EncodingError);
  EXPECT_EQ(EncodeFromUtf8("€", CodePage::kCp1251), Bytes({0x88}));

  std::string out = "unchanged";
  EXPECT_FALSE(TryEncodeFromUtf8("\u4E2D", CodePage::kCp1251, &out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_TRUE(TryEncodeFromUtf8("Їжак", CodePage::kCp1251, &out));
  EXPECT_EQ(out, Bytes({0xAF, 0xE6, 0xE0, 0xEA}));
}

TEST(CodepageTest, LossyAppendReplacesWhatCannotBeEncoded) {
  struct Case {
    const char* name;
    std::string utf8;
    CodePage page;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"ascii", "NP=99991", CodePage::kCp1251, "NP=99991"},
      {"cyrillic and number sign", "Запись №1", CodePage::kCp1251,
       "\xC7\xE0\xEF\xE8\xF1\xFC \xB9"
       "1"},
      {"cyrillic in 866", "Ид", CodePage::kCp866, "\x88\xA4"},
      {"letter 866 lacks", "Кіт", CodePage::kCp866, "\x8A?\xE2"},
      {"character neither has", "a\u4E2Db", CodePage::kCp1251, "a?b"},
      {"malformed bytes", std::string("x\xD0") + "y\xFF", CodePage::kCp1251, "x?y?"},
      {"truncated at the end", std::string("z\xD0"), CodePage::kCp1251, "z?"},
      {"long ascii runs around a letter", "0123456789abcdefЖ0123456789abcdefgh", CodePage::kCp1251,
       "0123456789abcdef\xC6"
       "0123456789abcdefgh"},
      {"three-byte characters the page holds", "№…–€", CodePage::kCp1251, "\xB9\x85\x96\x88"},
      {"three-byte forms that are no character",
       std::string("\xE0\x80\xAF") + "\xED\xA0\x80" + "a\xE2\x84", CodePage::kCp1251, "??????a??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "kept:";
    AppendFromUtf8Lossy(c.utf8, c.page, &out);
    EXPECT_EQ(out, "kept:" + c.bytes);
  }
}

TEST(CodepageTest, MalformedUtf8Raises) {
  const std::string bad[] = {
      Bytes({0xD0}),                    // truncated
      Bytes({0xD0, 0x41}),              // bad continuation
      Bytes({0x80}),                    // lone continuation
      Bytes({0xC0, 0xAF}),              // overlong '/'
      Bytes({0xE0, 0x80, 0xAF}),        // overlong
      Bytes({0xED, 0xA0, 0x80}),        // surrogate
      Bytes({0xF4, 0x90, 0x80, 0x80}),  // beyond U+10FFFF
      Bytes({0xFF}),
      // A cp1251 byte string handed over by mistake.
      Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xB3, 0xF2}),
  };
  for (const std::string& text : bad) {
    for (const CodePage page : {CodePage::kCp1251, CodePage::kCp866}) {
      EXPECT_THROW(EncodeFromUtf8("ok" + text, page), EncodingError);
      EXPECT_FALSE(TryEncodeFromUtf8(text, page, nullptr));
    }
  }
}

}  // namespace
}  // namespace platform
