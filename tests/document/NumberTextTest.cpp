// Readout and scale numbers: fixed decimals, the sign against the digits,
// and no negative zero.
#include "document/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace phonaxis {
namespace {

TEST(NumberText, FixedNumberHasNoPaddingAndNoNegativeZero)
{
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {
        {-6.3, 1, "-6.3"},     {6.3, 1, "6.3"},
        {-0.0, 1, "0.0"},      {-0.04, 1, "0.0"},
        {-0.05001, 1, "-0.1"}, {-0.001, 2, "0.00"},
        {-0.0033, 2, "0.00"},  {1.0, 2, "1.00"},
        {-1.0, 2, "-1.00"},    {-123.456, 0, "-123"},
        {-0.4, 0, "0"},        {1e20, 1, "100000000000000000000.0"},
        {-1.5, -3, "-2"},      {0.125, 40, "0.12500000000000000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fixedNumber(c.value, c.decimals), c.text) << c.value << " " << c.decimals;
    }
    EXPECT_EQ(fixedNumber(std::numeric_limits<double>::quiet_NaN(), 1), "nan");
    EXPECT_EQ(fixedNumber(-std::numeric_limits<double>::infinity(), 1), "-inf");
    // The largest double prints whole, without a cut.
    const std::string largest = fixedNumber(-std::numeric_limits<double>::max(), 2);
    EXPECT_EQ(largest.size(), 1u + 309u + 3u);
    EXPECT_EQ(largest.substr(largest.size() - 3), ".00");
}

} // namespace
} // namespace phonaxis
