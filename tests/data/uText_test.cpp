#include "data/uText.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, ValidUtf8PassesAndOtherBytesAreLatin1) {
  const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"ASCII", "temp_set 12", "temp_set 12"},
      {"UTF-8 of every length", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a Latin-1 letter", "caf\xE9", "caf\xC3\xA9"},
      {"a stray continuation byte", "a\x80z", "a\xC2\x80z"},
      {"a cut sequence at the end", "a\xE2\x82", "a\xC3\xA2\xC2\x82"},
      {"a sequence cut by ASCII", "\xE2z", "\xC3\xA2z"},
      {"an overlong form", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"an overlong three-byte form", "\xE0\x80\xAF", "\xC3\xA0\xC2\x80\xC2\xAF"},
      {"a surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},
      {"a NUL byte", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TextAsUtf8(c.in), c.out);
    EXPECT_EQ(TextAsUtf8(c.out), c.out) << "the result is valid UTF-8";
    EXPECT_EQ(IsValidUtf8(c.in), c.in == c.out);
    EXPECT_TRUE(IsValidUtf8(c.out));
  }
}

}  // namespace
