#include "data/uNumText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(NumTextTest, ParseIntegerText) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"0", true, 0},
      {"12", true, 12},
      {"   12", true, 12},
      {"+12", true, 12},
      {"-12", true, -12},
      {"00012", true, 12},
      {"$FF", true, 255},
      {"$ff", true, 255},
      {"x1f", true, 31},
      {"X1F", true, 31},
      {"0x10", true, 16},
      {"0X10", true, 16},
      {"-$10", true, -16},
      {" -0x10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"$80000000", true, INT32_MIN},
      {"$00000000000000FF", true, 255},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$100000000", false, 0},
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"x", false, 0},
      {"12 ", false, 0},
      {"\t12", false, 0},
      {"1.0", false, 0},
      {"1e3", false, 0},
      {"+-1", false, 0},
      {"$-1", false, 0},
      {"$G", false, 0},
      {"12abc", false, 0},
      {"0x0x1", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 424242;
    EXPECT_EQ(ParseIntegerText(c.text, v), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << "'" << c.text << "'";
    }
  }
}

TEST(NumTextTest, ParseIntegerText64) {
  const struct {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"010", true, 10},  // no octal
      {"0116534", true, 116534},
      {"  +42", true, 42},
      {"-1", true, -1},
      {"4294967306", true, 4294967306},
      {"$FFFFFFFF", true, 4294967295},  // a magnitude here, not a bit pattern
      {"-0x10", true, -16},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"$7FFFFFFFFFFFFFFF", true, INT64_MAX},
      {"9223372036854775808", false, 0},
      {"-9223372036854775809", false, 0},
      {"$8000000000000000", false, 0},
      {"18446744073709551616", false, 0},
      {"$10000000000000000", false, 0},
      {"99999999999999999999999999999", false, 0},
      {"", false, 0},
      {"0x", false, 0},
      {"8442 ", false, 0},
      {"8442x", false, 0},
      {"1e3", false, 0},
      {"0o17", false, 0},
      {"0b101", false, 0},
      {"\t1", false, 0},
  };
  for (const auto& c : cases) {
    int64_t v = 424242;
    EXPECT_EQ(ParseIntegerText64(c.text, v), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << "'" << c.text << "'";
    }
  }
}

TEST(NumTextTest, NadsAreUnsigned32Bit) {
  const struct {
    const char* text;
    bool ok;
    uint32_t nad;
  } cases[] = {
      {"0", true, 0},
      {"10", true, 10},
      {"2147483648", true, 2147483648u},
      {"3000000000", true, 3000000000u},
      {"4294967295", true, 4294967295u},
      {"$FFFFFFFF", true, 4294967295u},
      {" 0x0A", true, 10},
      {"-0", true, 0},
      {"4294967296", false, 0},
      {"4294967306", false, 0},  // would wrap to NAD 10
      {"-1", false, 0},
      {"-3000000000", false, 0},
      {"abc", false, 0},
      {"", false, 0},
      {"12.", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t nad = 424242;
    ASSERT_EQ(ParseNADText(c.text, nad), c.ok);
    if (!c.ok) {
      EXPECT_EQ(nad, 424242) << "a NAD that does not read leaves the old one";
      continue;
    }
    EXPECT_EQ(NADValue(nad), c.nad);
    EXPECT_EQ(NADText(nad), std::to_string(c.nad));
  }
  EXPECT_EQ(NADText(static_cast<int32_t>(3000000000u)), "3000000000");
  EXPECT_EQ(NADText(-1), "4294967295");
  EXPECT_EQ(NADText(INT32_MIN), "2147483648");
}

TEST(NumTextTest, ParseFloatText) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* text;
    bool ok;
    double value;
  } cases[] = {
      {"1.5", true, 1.5},
      {"  1.5", true, 1.5},
      {"-0.5", true, -0.5},
      {"+2", true, 2},
      {"12", true, 12},
      {"1E-3", true, 1E-3},
      {"1e+3", true, 1000},
      {"1.", true, 1},
      {".5", true, 0.5},
      {"3.40282E38", true, 3.40282E38},
      {"4.9e-324", true, 4.9e-324},
      {"1e400", true, inf},
      {"-1.5e400", true, -inf},
      {"0.001e401", true, inf},
      {"1e99999999999999999999", true, inf},
      {"1e-400", true, 0},
      {"1234.5e-402", true, 0},
      {"0e99999", true, 0},
      {"", false, 0},
      {" ", false, 0},
      {".", false, 0},
      {"-", false, 0},
      {"e5", false, 0},
      {"1.5e", false, 0},
      {"1.5e+", false, 0},
      {"1,5", false, 0},
      {"1.5 ", false, 0},
      {"\t1.5", false, 0},
      {"--1", false, 0},
      {"1.5E3.2", false, 0},
      {"inf", false, 0},
      {"nan", false, 0},
      {"0x10", false, 0},
      {"abc", false, 0},
  };
  for (const auto& c : cases) {
    double v = 424242;
    EXPECT_EQ(ParseFloatText(c.text, v), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << "'" << c.text << "'";
    }
  }
}

TEST(NumTextTest, FormatValueText) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-3, "-3"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {static_cast<double>(0.1f), "0.100000001490116"},
      {1234.5, "1234.5"},
      {-32768, "-32768"},
      {4294967295.0, "4294967295"},
      {1E-5, "0.00001"},
      {1.25E-5, "0.0000125"},
      {9.999999999999999E-6, "0.00001"},
      {1E-6, "1E-6"},
      {-2.5E-7, "-2.5E-7"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.4, "999999999999999"},
      {999999999999999.9, "1E15"},
      {1E15, "1E15"},
      {1E20, "1E20"},
      {1.5E300, "1.5E300"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatValueText(c.value), c.text) << c.text;
}

TEST(NumTextTest, FormattedValuesReadBack) {
  for (double v : {0.1, -1.5e-7, 3.0e9, 123.456, 1e100, static_cast<double>(0.1f)}) {
    double back = 0;
    ASSERT_TRUE(ParseFloatText(FormatValueText(v), back)) << v;
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << v;
  }
}

}  // namespace
