// The Prometheus tools the metrics tests lean on, on a hand-written textfile:
// promtool tells a valid text from a broken one, and the node exporter
// serves the valid one with no scrape error.
#include <gtest/gtest.h>

#include "node_exporter.h"

namespace {

const char kValid[] = "# HELP quellon_test_up Whether the printer answered.\n"
                      "# TYPE quellon_test_up gauge\n"
                      "quellon_test_up{queue=\"a \\\"b\\\"\"} 1\n";

TEST(NodeExporter, ServesAValidTextfileThatPromtoolPasses)
{
    harness::TempDir dir;
    harness::WriteFile(dir / "quellon.prom", kValid);
    const harness::PromtoolCheck valid = harness::PromtoolCheckMetrics(kValid);
    EXPECT_EQ(valid.status, 0) << valid.output;
    const harness::PromtoolCheck broken =
        harness::PromtoolCheckMetrics("quellon_test_up{queue=\"a} 1\n");
    EXPECT_NE(broken.status, 0) << broken.output;

    harness::NodeExporter exporter(dir.path());
    const std::optional<std::string> metrics = exporter.Scrape();
    ASSERT_TRUE(metrics) << exporter.Log();
    EXPECT_EQ(harness::SampleValue(*metrics, "node_textfile_scrape_error"), 0.0) << *metrics;
    EXPECT_EQ(harness::SampleValue(*metrics, "quellon_test_up{queue=\"a \\\"b\\\"\"}"), 1.0)
        << *metrics;
}

}  // namespace
