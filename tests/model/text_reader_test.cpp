// The number readers against formatted stream extraction, which they must
// match in what they accept and, for floats, bit for bit.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "model/TextReader.h"

namespace {

// What `std::istringstream(text) >> value` makes of a whole field.
template <class T>
bool streamWhole(const std::string &text, T &value)
{
    std::istringstream in(text);
    in >> value;
    return !in.fail() && in.eof();
}

unsigned bitsOf(float value)
{
    unsigned bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void expectSameFloat(const std::string &text)
{
    float expected = 0.0f, got = 0.0f;
    const bool accepted = streamWhole(text, expected);
    ASSERT_EQ(wholeFloat(text, got), accepted) << '"' << text << '"';
    if (accepted) {
        ASSERT_EQ(bitsOf(got), bitsOf(expected)) << '"' << text << '"';
    }
}

void expectSameInt(const std::string &text)
{
    int expected = 0, got = 0;
    const bool accepted = streamWhole(text, expected);
    ASSERT_EQ(wholeInt(text, got), accepted) << '"' << text << '"';
    if (accepted) {
        ASSERT_EQ(got, expected) << '"' << text << '"';
    }
}

// The exact decimal expansion of the point halfway between `value` and the
// next float up.
std::string halfwayAbove(float value)
{
    const double low = value, high = std::nextafter(value, INFINITY);
    char text[400];
    std::snprintf(text, sizeof text, "%.150e", low + (high - low) / 2);
    return text;
}

} // namespace

TEST(Numbers, PinnedOutcomesOfStreamExtraction)
{
    float value = 0.0f;
    EXPECT_TRUE(wholeFloat("+1", value) && value == 1.0f);
    EXPECT_TRUE(wholeFloat("1e-50", value) && value == 0.0f); // underflow reads as 0
    EXPECT_TRUE(wholeFloat("3.4028235e38", value) && value == 3.4028235e38f);
    EXPECT_FALSE(wholeFloat("3.4028236e38", value)); // beyond the largest float
    for (const char *refused : {"0x10", "0x1p3", "inf", "-inf", "nan", "1.5x", "1e", "1e+", ".",
                                "-", "", "1..2", "1e5e3", "e5", "1 "})
        EXPECT_FALSE(wholeFloat(refused, value)) << refused;
    int whole = 0;
    EXPECT_TRUE(wholeInt("+7", whole) && whole == 7);
    EXPECT_FALSE(wholeInt("2147483648", whole));
    EXPECT_FALSE(wholeInt("2.5", whole));
    EXPECT_EQ(quotedText(std::string(41, 'x')), "'" + std::string(40, 'x') + "...'");
    EXPECT_EQ(quotedText(std::string(40, 'x')), "'" + std::string(40, 'x') + "'");
}

TEST(Numbers, FloatsMatchStreamExtractionBitForBit)
{
    for (const std::string text :
         {"0", "-0", "+0", "00012.500", "5.", ".5", "-.5e1", "1E5", "1e+5", "-1e-5", " 1", "\t\n2",
          "1e-45", "1e-46", "7.006e-46", "1.17549435e-38", "1.4e-45", "0.1", "16777217",
          "123456789012345678901234567890", "1e99999999999999999999", "1e-99999999999999999999",
          "0e99999999999", "0.000e-5", "2147483648.5e-3", "1e10", "1234567e10", "1234567e-10",
          "9999999e-10"})
        expectSameFloat(text);
    // Digits far beyond those kept: the dropped ones still decide the rounding.
    const std::string zeros(400, '0');
    for (const std::string &text : {"1" + zeros, "0." + zeros + "1", "1" + zeros + "e-400",
                                   "3." + zeros + "1e38", "-0." + zeros + "34e401"})
        expectSameFloat(text);
    std::mt19937 random(20261206);
    for (int i = 0; i < 3000; i++) {
        unsigned bits = random();
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value))
            continue;
        // Exactly halfway between two floats, a hair above, and a hair below.
        const std::string half = halfwayAbove(value);
        const std::size_t e = half.find('e');
        expectSameFloat(half);
        expectSameFloat(half.substr(0, e) + zeros + "1" + half.substr(e));
        std::string below = half;
        for (std::size_t d = e - 1; below[d] == '0'; d--)
            below[d] = '9';
        expectSameFloat(below); // one unit lower in the last place, or a nearby value
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", value);
        expectSameFloat(text);
    }
}

TEST(Numbers, RandomTextsAreAcceptedAndReadAsStreamExtractionDoes)
{
    const std::string alphabet = "0123456789000..eE+-x ";
    std::mt19937 random(7);
    for (int i = 0; i < 100000; i++) {
        std::string text(random() % 14, ' ');
        for (char &c : text)
            c = alphabet[random() % alphabet.size()];
        expectSameFloat(text);
        expectSameInt(text);
    }
    for (const char *text : {"2147483647", "-2147483648", "-2147483649", "-0", "007", "+", "5x",
                             "99999999999999999999999", " 5"})
        expectSameInt(text);
}
