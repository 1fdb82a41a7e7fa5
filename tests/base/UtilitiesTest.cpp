#include "base/Mathe_Code.h"
#include "base/NumberText.h"
#include "base/Text_Code.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <tuple>
#include <utility>

using namespace ornbrook;

TEST(NumberText, WritesTheProgramsNumberForm) {
    std::string written;
    for (const double value : {0.0, -1.0, 0.5, -0.25, 12.5, 1.0 / 3, 2.0 / 3, 0.0001, 0.00001, 1e15,
                               123456789012345.0, 1e100, -0.00001234})
        written += NumberToText(value) + " ";
    EXPECT_EQ(written, "0 -1 .5 -.25 12.5 .333333333333333 .666666666666667 .0001 1E-05 1E+15 "
                       "123456789012345 1E+100 -1.234E-05 ");
}

TEST(NumberText, IgnoresTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // A German desktop would print "0,5" through printf; ours never does.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(NumberToText(0.5), ".5");
    EXPECT_DOUBLE_EQ(TextToNumber("2.5"), 2.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(NumberText, ReadsTheLeadingNumber) {
    const std::pair<const char*, double> rows[] = {
        {"", 0},        {"abc", 0},    {"300", 300},    {" 300", 300}, {"\t\n 42x", 42},
        {"2.5", 2.5},   {".5", 0.5},   {"-.25", -0.25}, {"+7", 7},     {"1E3", 1000},
        {"1e-2", 0.01}, {"12abc", 12}, {"3.5.6", 3.5},  {"1E", 1},     {"1E+", 1},
        {"-", 0},       {".", 0},      {"12 34", 12},   {"=2", 0},     {"1E400", INFINITY},
        {"1E-400", 0}};
    for (const auto& [text, value] : rows)
        EXPECT_EQ(TextToNumber(text), value) << '"' << text << '"';
}

TEST(NumberText, RoundsHalvesToEven) {
    const std::pair<double, double> rows[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {0.5, 0},
                                              {1.5, 2}, {2.4, 2}, {2.6, 3}};
    for (const auto& [value, rounded] : rows)
        EXPECT_EQ(RoundHalfEven(value), rounded) << value;
    EXPECT_EQ(ToInt16(32767.4), 32767);
    EXPECT_EQ(ToInt16(32767.6), std::nullopt);
    EXPECT_EQ(ToInt16(-32768.5), -32768);
    EXPECT_EQ(ToInt32(4294967296.0), std::nullopt);
    EXPECT_EQ(ToInt32(NAN), std::nullopt);
    EXPECT_EQ(TextToInt32("99999999999"), 0);
    EXPECT_EQ(TextToInt32(" 2760"), 2760);
}

// Window positions are kept as this text.
TEST(MatheCode, RectText) {
    EXPECT_EQ(RectToText(MakeRect(MakePoint(0.1, 0.2), 0.5, 0.25)), ".1|.2_.5|.25");
    EXPECT_EQ(RectToText(TextToRect(".1|.2_.5|.25")), ".1|.2_.5|.25");
    // Text with too few parts reads as all zeros.
    EXPECT_EQ(RectToText(TextToRect("1|2")), "0|0_0|0");
}

TEST(MatheCode, Base256Numbers) {
    // value, digits asked for (0 or less: as many as needed), bytes, digits written
    const std::tuple<std::uint32_t, int, std::string, int> rows[] = {
        {300, 3, std::string("\x2c\x01\x00", 3), 3},

        {16777215, 3, "\xff\xff\xff", 3},
        {255, 0, "\xff", 1},
        {256, 0, std::string("\x00\x01", 2), 2},
        {0, 0, std::string(1, '\0'), 1},
        {65536, -1, std::string("\x00\x00\x01", 3), 3},
        {16777216, 0, std::string("\x00\x00\x00\x01", 4), 4},

        // Too wide for the count: only the low digits are written.
        {16777216, 3, std::string(3, '\0'), 3}};
    for (auto [value, count, bytes, written] : rows) {
        EXPECT_EQ(EncodeNumber(value, count), bytes) << value;
        EXPECT_EQ(count, written) << value;
        if (value < 16777216) {
            EXPECT_EQ(DecodeNumber(bytes), value);
        }
    }
    EXPECT_EQ(DecodeNumber(""), 0u);
    EXPECT_EQ(DecodeNumber("\x05"), 5u);
}

TEST(TextCode, PrefixesAndSeparatorLists) {
    EXPECT_TRUE(StartsWith("DEBUGFILE", "DEBUG"));
    EXPECT_FALSE(StartsWith("DEBUG", "DEBUGFILE"));
    EXPECT_FALSE(StartsWith("log2", "LOG"));
    const std::tuple<const char*, int, const char*> rows[] = {
        {"", 0, ""}, {"|", 0, ""}, {"|a|", 1, "|"}, {"|a|b|", 2, "|a|"}, {"||", 1, "|"}};
    for (const auto& [list, count, withoutLast] : rows) {
        EXPECT_EQ(CountItems(list, "|"), count) << list;
        EXPECT_EQ(RemoveLastItem(list, "|"), withoutLast) << list;
    }
    EXPECT_EQ(CountItems("::x::y::", "::"), 2);
    EXPECT_EQ(ReplaceAll("|12|34|12|", "|12|", "|"), "|34|");
    EXPECT_EQ(TrimSpaces("  a b  "), "a b");
    EXPECT_EQ(UpperCase("log2\xe4"), "LOG2\xe4");
}

// What is printed of a name can never pose as another line of the report.
TEST(TextCode, EscapedTextKeepsOneEntryOnOneLine) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain name.txt", "plain name.txt"},
        {"a\nsaved /etc/passwd", "a\\nsaved /etc/passwd"},
        {"tab\there\r", "tab\\there\\r"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},
        {"latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9"},   // not UTF-8
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"}, // "/" in two bytes
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"NEL \xc2\x85 LS \xe2\x80\xa8", "NEL \\xc2\\x85 LS \\xe2\\x80\\xa8"},
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
    };
    for (const auto& [raw, escaped] : rows)
        EXPECT_EQ(EscapedText(raw), escaped) << escaped;
}
