// The supported-model table.
#include <string>

#include <gtest/gtest.h>

#include "startcheck.h"

namespace {

struct FirmCase {
    const char* model;
    const char* minimum;  // null: not supported
};

void PrintTo(const FirmCase& c, std::ostream* os)
{
    *os << (c.model ? "\"" + std::string(c.model) + "\"" : std::string("null"));
}

class MinFirmVersion : public testing::TestWithParam<FirmCase> {};

TEST_P(MinFirmVersion, MatchesWholeNamesOnly)
{
    const char* got = GetMinFirmVersion(GetParam().model);
    if (GetParam().minimum)
        EXPECT_STREQ(got, GetParam().minimum);
    else
        EXPECT_EQ(got, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Models, MinFirmVersion,
    testing::Values(FirmCase{"Brelko M210", "01.00"}, FirmCase{"Brelko M220", "01.01"},
                    FirmCase{"Brelko M240C/M248C", "01.03"}, FirmCase{"Brelko M250C", "01.00"},
                    FirmCase{"brelko m220", nullptr}, FirmCase{"Brelko M220 ", nullptr},
                    FirmCase{"Brelko M22", nullptr}, FirmCase{"Brelko M240C", nullptr},
                    FirmCase{"", nullptr}, FirmCase{nullptr, nullptr}));

TEST(ModelTable, RowsEndWithANullRow)
{
    EXPECT_STREQ(GetASModelName(0), "Brelko M210");
    EXPECT_STREQ(GetASModelName(4), "Brelko M250C");
    EXPECT_STREQ(GetASFirmVersion(3), "01.03");
    EXPECT_EQ(GetASModelName(5), nullptr);
    EXPECT_EQ(GetASFirmVersion(5), nullptr);
    // Out of the table is no model either, rather than a stray read.
    EXPECT_EQ(GetASModelName(6), nullptr);
    EXPECT_EQ(GetASModelName(-1), nullptr);
    EXPECT_EQ(GetASFirmVersion(6), nullptr);
}

}  // namespace
