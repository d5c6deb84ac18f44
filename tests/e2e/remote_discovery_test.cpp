// Discovery from a scheduler across the network (the private cupsd behind
// the delay proxy): fetching the PPD files over several connections at once
// gives exactly what fetching them one after the other gives, and leaves
// no copy and no descriptor behind.
#include <dirent.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cupsd.h"
#include "discovery_seam.h"
#include "ppddata.h"
#include "ppdfetch.h"
#include "proxy.h"

namespace {

struct Discovered {
    int result;
    std::vector<std::string> records;  // name, model and version, in slot order
    std::string err;
};

int OpenDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

class RemoteDiscovery : public ::testing::Test {
protected:
    RemoteDiscovery() : saved_(g_discovery_calls) {}
    ~RemoteDiscovery() override { g_discovery_calls = saved_; }

    Discovered Discover(int connections)
    {
        g_discovery_calls.ppd_connections = connections;
        UIAutoShutdownWnd wnd{};
        ::testing::internal::CaptureStderr();
        Discovered found{GetPrintersInfo(&wnd), {}, ::testing::internal::GetCapturedStderr()};
        for (int i = 0; i < wnd.printers_num; ++i) {
            const UIPrinterInfo* r = wnd.printersInfo[i];
            found.records.push_back(std::string(r->printerName) + "|" + r->modelName + "|" +
                                    r->driverVersion);
        }
        DestroyPrintersInfo(&wnd);
        return found;
    }

    harness::PrivateCupsd cupsd_;

private:
    DiscoveryCalls saved_;
};

// 70 queues of several models and versions (beyond the window's 64), a raw
// one, and one whose PPD fetch the proxy cuts off midway.
TEST_F(RemoteDiscovery, ConcurrentFetchesGiveTheSerialRecordsAndReportsAndLeaveNothingOpen)
{
    for (int i = 0; i < 70; ++i) {
        const std::string model = i % 3 ? "Brelko M220" : "Brelko M900";
        ASSERT_TRUE(cupsd_.AddQueue("Queue-" + std::to_string(100 + i),
                                    harness::MakePpd(model, "2." + std::to_string(i))));
    }
    ASSERT_EQ(harness::Run({"lpadmin", "-h", cupsd_.server(), "-p", "Queue-1", "-E", "-v",
                            "file:///dev/null"},
                           std::chrono::seconds(30), nullptr, cupsd_.env()),
              0);
    harness::DelayProxy proxy(cupsd_.server(), harness::Millis(2), "/printers/Queue-105.ppd");
    cupsd_.UseInThisProcess(proxy.server());

    const Discovered serial = Discover(0);
    // The first discovery opened libcups's own connection for the list.
    const int descriptors = OpenDescriptors();
    const Discovered concurrent = Discover(kMaxPpdConnections);
    EXPECT_EQ(OpenDescriptors(), descriptors) << "a connection or a file left open";

    EXPECT_EQ(concurrent.result, serial.result);
    EXPECT_EQ(concurrent.records, serial.records);
    EXPECT_EQ(concurrent.err, serial.err);
    EXPECT_EQ(serial.result, 0);
    EXPECT_EQ(serial.records.size(), 64u);
    EXPECT_NE(serial.err.find("queue \"Queue-105\" left out: cannot fetch its PPD file"),
              std::string::npos)
        << serial.err;
    EXPECT_EQ(cupsd_.TmpFileCount(), 0) << "PPD copies left behind";
}

}  // namespace
