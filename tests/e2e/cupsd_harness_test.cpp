// The private scheduler and the PPD files every cupsd-backed test relies on.
#include <gtest/gtest.h>

#include "cupsd.h"

namespace {

using harness::MakePpd;
using harness::PrivateCupsd;

using namespace std::chrono_literals;

TEST(MakePpd, PassesCupstestppdForEveryShape)
{
    harness::TempDir dir;
    const struct {
        std::string model, version, extra;
    } cases[] = {
        {"Brelko M210", "2.60", ""},
        {"Brelko M240C/M248C", "2.55", ""},
        {"", "1.00", ""},
        {"Brelko M220", "2.60", "*VXPrinterName: \"Brelko M230\"\n"},
    };
    for (const auto& c : cases) {
        const std::string path = dir / "test.ppd";
        harness::WriteFile(path, MakePpd(c.model, c.version, c.extra));
        std::string output;
        EXPECT_EQ(harness::Run({"cupstestppd", "-W", "none", path}, 30000ms, &output), 0)
            << "PPD for model \"" << c.model << "\" is not valid:\n"
            << output;
    }
}

TEST(PrivateCupsd, ListsTheQueuesAddedToItAndNothingOfTheSystem)
{
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.AddQueue("Harness-One", MakePpd("Brelko M210")));
    ASSERT_TRUE(cupsd.AddQueue("Harness-Two", MakePpd("Brelko M220")));
    std::string output;
    ASSERT_EQ(harness::Run({"lpstat", "-v"}, 30000ms, &output, cupsd.env()), 0) << output;
    EXPECT_EQ(output, "device for Harness-One: ///dev/null\n"
                      "device for Harness-Two: ///dev/null\n");
    ASSERT_TRUE(cupsd.RemoveQueue("Harness-One"));
    ASSERT_EQ(harness::Run({"lpstat", "-v"}, 30000ms, &output, cupsd.env()), 0) << output;
    EXPECT_EQ(output, "device for Harness-Two: ///dev/null\n");
}

TEST(PrivateCupsd, RefusesAnUnreadablePpdFile)
{
    PrivateCupsd cupsd;
    EXPECT_FALSE(cupsd.AddQueue("Harness-Missing", "/nonexistent/file.ppd"));
}

}  // namespace
