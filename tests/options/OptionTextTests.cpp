// Value texts to numbers, with the user's decimal separator, and option texts to keyword and
// value pairs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/OptionText.h"
#include "support/TempDir.h"

namespace {

struct TIntCase {
    std::string Text;
    std::optional<int64_t> Int32;  // nullopt: not a valid 32-bit integer value
    std::optional<int64_t> Int64;
};

class IntegerTexts : public ::testing::TestWithParam<TIntCase> {};

TEST_P(IntegerTexts, ConvertOrRaiseTheConversionMessage) {
    const TIntCase& c = GetParam();
    if (c.Int32) {
        EXPECT_EQ(ParseIntValue(c.Text), *c.Int32);
    } else {
        try {
            ParseIntValue(c.Text);
            ADD_FAILURE() << "'" << c.Text << "' converted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + c.Text + "' is not a valid integer value");
        }
    }
    if (c.Int64)
        EXPECT_EQ(ParseInt64Value(c.Text), *c.Int64);
    else
        EXPECT_THROW(ParseInt64Value(c.Text), EConvertError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntegerTexts,
    ::testing::Values(
        TIntCase{"0", 0, 0}, TIntCase{"42", 42, 42}, TIntCase{"-42", -42, -42},
        TIntCase{"+7", 7, 7}, TIntCase{"  12", 12, 12}, TIntCase{"$10", 16, 16},
        TIntCase{"$ff", 255, 255}, TIntCase{"-$10", -16, -16},
        TIntCase{"$FFFFFFFF", -1, 0xFFFFFFFFll},  // every bit of 32
        TIntCase{"2147483647", 2147483647, 2147483647},
        TIntCase{"-2147483648", INT32_MIN, INT32_MIN},
        TIntCase{"2147483648", std::nullopt, 2147483648ll},
        TIntCase{"$100000000", std::nullopt, 0x100000000ll},
        TIntCase{"9223372036854775807", std::nullopt, INT64_MAX},
        TIntCase{"9223372036854775808", std::nullopt, std::nullopt},
        TIntCase{"", std::nullopt, std::nullopt}, TIntCase{"$", std::nullopt, std::nullopt},
        TIntCase{"-", std::nullopt, std::nullopt}, TIntCase{"12 ", std::nullopt, std::nullopt},
        TIntCase{"1.5", std::nullopt, std::nullopt}, TIntCase{"0x10", std::nullopt, std::nullopt},
        TIntCase{"abc", std::nullopt, std::nullopt}, TIntCase{"$fg", std::nullopt, std::nullopt}));

struct TFloatCase {
    std::string Text;
    std::optional<float> Value;
};

class FloatTextsInTheCLocale : public ::testing::TestWithParam<TFloatCase> {};

TEST_P(FloatTextsInTheCLocale, ConvertOrRaiseTheConversionMessage) {
    const TFloatCase& c = GetParam();
    if (c.Value) {
        EXPECT_FLOAT_EQ(ParseFloatValue(c.Text), *c.Value);
    } else {
        try {
            ParseFloatValue(c.Text);
            ADD_FAILURE() << "'" << c.Text << "' converted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "'" + c.Text + "' is not a valid floating point value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FloatTextsInTheCLocale,
    ::testing::Values(TFloatCase{"1.5", 1.5f}, TFloatCase{"-0.25", -0.25f}, TFloatCase{" 2 ", 2.0f},
                      TFloatCase{"1e3", 1000.0f}, TFloatCase{".5", 0.5f},
                      TFloatCase{"1,5", std::nullopt}, TFloatCase{"", std::nullopt},
                      TFloatCase{"  ", std::nullopt}, TFloatCase{"inf", std::nullopt},
                      TFloatCase{"nan", std::nullopt}, TFloatCase{"0x10", std::nullopt},
                      TFloatCase{"1e", std::nullopt}, TFloatCase{"1e400", std::nullopt},
                      TFloatCase{"1e39", std::nullopt}, TFloatCase{"1.5x", std::nullopt},
                      TFloatCase{".", std::nullopt}));

TEST(NumberTexts, AnEmbeddedNulIsNoPartOfANumber) {
    EXPECT_FALSE(
        TryParseIntValue(std::string("5\0"
                                     "5",
                                     3)));
    EXPECT_FALSE(TryParseInt64Value(std::string("5\0", 2)));
    EXPECT_FALSE(
        TryParseFloatValue(std::string("1\0"
                                       "2",
                                       3)));
}

// A locale whose decimal separator is a comma, compiled for the test from the system's locale
// sources (none such is installed on a bare system); empty when that is impossible.
std::string CommaLocale(const TTempDir& folder) {
    const std::string target = folder.File("de_DE.UTF-8");
    const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "";
    setenv("LOCPATH", folder.Path().c_str(), 1);
    return "de_DE.UTF-8";
}

TEST(FloatTexts, FollowTheDecimalSeparatorOfTheProcessLocale) {
    TTempDir folder;
    const std::string locale = CommaLocale(folder);
    if (locale.empty() || !std::setlocale(LC_NUMERIC, locale.c_str())) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "no locale with a decimal comma can be made here";
    }
    EXPECT_FLOAT_EQ(ParseFloatValue("1,5"), 1.5f);
    EXPECT_FLOAT_EQ(ParseFloatValue("-0,25"), -0.25f);
    EXPECT_THROW(ParseFloatValue("1.5"), EConvertError);
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    EXPECT_FLOAT_EQ(ParseFloatValue("1.5"), 1.5f);
}

using TPairs = std::vector<std::pair<std::string, std::string>>;

struct TSplitCase {
    const char* Name;
    std::string Text;
    TPairs Expected;
};

class OptionTextSplitting : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(OptionTextSplitting, GivesKeywordsAndValuesInOrder) {
    EXPECT_EQ(SplitOptionText(GetParam().Text), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionTextSplitting,
    ::testing::Values(TSplitCase{"Empty", "", {}}, TSplitCase{"OnlyBlanks", " \r\n\t ", {}},
                      TSplitCase{"OneLine", "vcodec=mpeg4", {{"vcodec", "mpeg4"}}},
                      TSplitCase{"NoEquals", "vn", {{"vn", ""}}},
                      TSplitCase{"FirstEqualsSplits", "title=a=b", {{"title", "a=b"}}},
                      TSplitCase{"EmptyValue", "title=", {{"title", ""}}},
                      TSplitCase{"InnerBlanksKept", "  b = 128 \n", {{"b ", " 128"}}},
                      TSplitCase{"EveryLineBreakStyle",
                                 "a=1\r\nb=2\rc=3\nd=4",
                                 {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
                      TSplitCase{"EmptyLinesSkipped", "a=1\n\n\r\n\rb=2", {{"a", "1"}, {"b", "2"}}},
                      TSplitCase{"LeadingAndTrailingTrimmed", "\n\n\tvn\n\n", {{"vn", ""}}},
                      TSplitCase{"EmptyKeyword", "=5", {{"", "5"}}}),
    [](const ::testing::TestParamInfo<TSplitCase>& testInfo) { return testInfo.param.Name; });

}  // namespace
