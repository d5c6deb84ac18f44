// Printer discovery against a real, private CUPS scheduler: queues are made
// with lpadmin from PPD files written here, and what GetPrintersInfo reads
// must have travelled through the scheduler.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cupsd.h"
#include "discovery_seam.h"
#include "ppddata.h"
#include "startcheck.h"

namespace {

using harness::MakePpd;

// The destination names in the order the scheduler lists them.
std::vector<std::string> SchedulerOrder()
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(dests[i].name);
    cupsFreeDests(count, dests);
    return names;
}

class DiscoveryOnCupsd : public ::testing::Test {
protected:
    DiscoveryOnCupsd() : saved_(g_discovery_calls) { cupsd_.UseInThisProcess(); }
    ~DiscoveryOnCupsd() override
    {
        g_discovery_calls = saved_;
        DestroyPrintersInfo(&wnd_);
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < wnd_.printers_num; ++i)
            names.push_back(wnd_.printersInfo[i]->printerName);
        return names;
    }

    // The record of `queue` holds the model and driver version its PPD gives.
    void ExpectRecord(const char* queue, const char* model, const char* version)
    {
        const UIPrinterInfo* info = GetUIPrinterInfo(&wnd_, queue);
        ASSERT_NE(info, nullptr) << queue;
        EXPECT_STREQ(info->modelName, model) << queue;
        EXPECT_STREQ(info->driverVersion, version) << queue;
    }

    harness::PrivateCupsd cupsd_;
    UIAutoShutdownWnd wnd_{};

private:
    DiscoveryCalls saved_;
};

TEST_F(DiscoveryOnCupsd, ReadsModelAndDriverVersionOfEveryQueueInListOrder)
{
    const struct {
        const char* queue;
        std::string ppd;
        const char* model;
        const char* version;
    } queues[] = {
        {"Brelko-M210", MakePpd("Brelko M210", "2.60"), "Brelko M210", "2.60"},
        {"Brelko-M240C-Old", MakePpd("Brelko M240C/M248C", "2.55"), "Brelko M240C/M248C", "2.55"},
        {"a-lower-case-queue", MakePpd("brelko m220", "2.56"), "brelko m220", "2.56"},
        {"Unsupported", MakePpd("Brelko M900", "3.01"), "Brelko M900", "3.01"},
        {"No-Model-Key", MakePpd("", "2.60"), "", "2.60"},
        {"Colon-In-Model", MakePpd("", "2.60", "*VXPrinterName: \"Brelko M220:rev B\"\n"),
         "Brelko M220", "2.60"},
        {"Minus-One", MakePpd("Brelko M230", "2.60", "*VXPrinterName: \"-1\"\n"), "Brelko M230",
         "2.60"},
    };
    for (const auto& q : queues)
        ASSERT_TRUE(cupsd_.AddQueue(q.queue, q.ppd));

    ASSERT_EQ(GetPrintersInfo(&wnd_), 0);
    EXPECT_EQ(Names(), SchedulerOrder()) << "records follow the scheduler's list";
    ASSERT_EQ(wnd_.printers_num, static_cast<int>(std::size(queues)));
    for (const auto& q : queues)
        ExpectRecord(q.queue, q.model, q.version);
    EXPECT_EQ(cupsd_.TmpFileCount(), 0) << "PPD copies left behind";
}

TEST_F(DiscoveryOnCupsd, SkipsAQueueWithoutPpd)
{
    ASSERT_TRUE(cupsd_.AddQueue("Brelko-M250C", MakePpd("Brelko M250C")));
    std::string output;
    ASSERT_EQ(harness::Run({"lpadmin", "-h", cupsd_.server(), "-p", "Raw-Queue", "-E", "-v",
                            "file:///dev/null"},
                           std::chrono::seconds(30), &output, cupsd_.env()),
              0)
        << output;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(GetPrintersInfo(&wnd_), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a queue without a PPD is no fault";
    EXPECT_EQ(Names(), std::vector<std::string>{"Brelko-M250C"});
    EXPECT_EQ(cupsd_.TmpFileCount(), 0);
}

TEST_F(DiscoveryOnCupsd, KeepsTheFirst64Of70QueuesAndLeavesNoCopies)
{
    const std::string ppd = MakePpd("Brelko M230");
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(cupsd_.AddQueue("Queue-" + std::to_string(100 + i), ppd));
    ASSERT_EQ(GetPrintersInfo(&wnd_), 0);
    std::vector<std::string> first64 = SchedulerOrder();
    ASSERT_EQ(first64.size(), 70u);
    first64.resize(64);
    EXPECT_EQ(Names(), first64);
    EXPECT_EQ(cupsd_.TmpFileCount(), 0);
}

// A PPD copy that cannot be opened, the third queue's, on an otherwise real
// scheduler.
int g_opens;
FILE* OpenFailingThird(const char* path, const char* mode)
{
    if (++g_opens == 3) {
        errno = EACCES;
        return nullptr;
    }
    return fopen(path, mode);
}

TEST_F(DiscoveryOnCupsd, AFailedDiscoveryLeavesNoCopiesEither)
{
    for (const char* queue : {"Q1", "Q2", "Q3", "Q4"})
        ASSERT_TRUE(cupsd_.AddQueue(queue, MakePpd("Brelko M210")));
    g_opens = 0;
    g_discovery_calls.open = OpenFailingThird;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(GetPrintersInfo(&wnd_), -1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("queue \"Q3\""), std::string::npos) << err;
    EXPECT_EQ(wnd_.printers_num, 2);
    EXPECT_EQ(cupsd_.TmpFileCount(), 0);
}

// libcups takes a queue's PPD straight from CUPS_SERVERROOT/ppd/NAME.ppd
// when that path can be read, as on a machine whose scheduler is local. A
// folder in its place passes that check but cannot be read as a file: a PPD
// the scheduler hands out that discovery cannot read, with nothing faked.
TEST_F(DiscoveryOnCupsd, APpdThatCannotBeReadFailsDiscoveryAndSaysWhich)
{
    for (const char* queue : {"Q1", "Q2", "Q3"})
        ASSERT_TRUE(cupsd_.AddQueue(queue, MakePpd("Brelko M210")));
    const std::string server_root = cupsd_.home() + "/server-root";
    ASSERT_EQ(harness::Run({"mkdir", "-p", server_root + "/ppd/Q2.ppd"}, std::chrono::seconds(10)),
              0);
    setenv("CUPS_SERVERROOT", server_root.c_str(), 1);

    // libcups reads CUPS_SERVERROOT once per thread: a fresh thread sees it.
    int result = 0;
    std::string err;
    std::thread([&] {
        ::testing::internal::CaptureStderr();
        result = GetPrintersInfo(&wnd_);
        err = ::testing::internal::GetCapturedStderr();
    }).join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, "quellon: cannot read the PPD file of queue \"Q2\": " +
                       std::string(strerror(EISDIR)) + "\n");
    EXPECT_EQ(wnd_.printers_num, 1);
    EXPECT_EQ(cupsd_.TmpFileCount(), 0);
}

unsigned g_pauses;
unsigned CountPause(unsigned seconds)
{
    g_pauses += seconds;
    return 0;
}

TEST_F(DiscoveryOnCupsd, AnEmptySchedulerIsAskedAgainThenGivesNoPrintersAndNamesItself)
{
    g_pauses = 0;
    g_discovery_calls.sleep = CountPause;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(GetPrintersInfo(&wnd_), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quellon: no printer list from the CUPS scheduler at " + cupsd_.server() + "\n");
    EXPECT_EQ(g_pauses, 20u);
    EXPECT_EQ(wnd_.printers_num, 0);
}

// With an unusable TMPDIR every cupsGetPPD fails. The list stays as it
// would (empty), but each queue left out says why.
TEST_F(DiscoveryOnCupsd, AQueueLeftOutForAFailedFetchIsNamedWithTheReason)
{
    for (const char* queue : {"Q1", "Q2"})
        ASSERT_TRUE(cupsd_.AddQueue(queue, MakePpd("Brelko M210")));
    std::string expected;
    for (const std::string& queue : SchedulerOrder())
        expected += "quellon: queue \"" + queue +
                    "\" left out: cannot fetch its PPD file: " + strerror(ENOENT) + "\n";
    setenv("TMPDIR", (cupsd_.tmpdir() + "/missing").c_str(), 1);
    int result = -1;
    std::string err;
    // A fresh thread, should libcups keep what it read of the environment.
    std::thread([&] {
        ::testing::internal::CaptureStderr();
        result = GetPrintersInfo(&wnd_);
        err = ::testing::internal::GetCapturedStderr();
    }).join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(wnd_.printers_num, 0);
    EXPECT_EQ(err, expected);
}

void AddDemoQueues(const harness::PrivateCupsd& cupsd)
{
    std::string output;
    ASSERT_EQ(harness::Run({harness::SourcePath("scripts/demo-queues"), cupsd.root()},
                           std::chrono::seconds(60), &output, cupsd.env()),
              0)
        << output;
}

TEST_F(DiscoveryOnCupsd, TheDemoQueuesCarryTheModelsTheDemoRelies)
{
    ASSERT_NO_FATAL_FAILURE(AddDemoQueues(cupsd_));
    ASSERT_EQ(GetPrintersInfo(&wnd_), 0);
    const struct {
        const char* queue;
        const char* model;
        const char* version;
    } expected[] = {
        {"Brelko-M210", "Brelko M210", "2.60"},
        {"Brelko-M220", "Brelko M220", "2.60"},
        {"Brelko-M230", "Brelko M230", "2.61"},
        {"Brelko-M240C", "Brelko M240C/M248C", "2.60"},
        {"Brelko-M250C", "Brelko M250C", "2.70"},
        {"Brelko-M220-Office", "Brelko M220", "2.60"},
        {"Brelko-M240C-Old", "Brelko M240C/M248C", "2.60"},
        {"Brelko-M900", "Brelko M900", "2.60"},
        {"brelko-m220-lower", "brelko m220", "2.60"},
        {"Brelko-M230-OldDriver", "Brelko M230", "2.55"},
    };
    EXPECT_EQ(wnd_.printers_num, static_cast<int>(std::size(expected)));
    for (const auto& e : expected)
        ExpectRecord(e.queue, e.model, e.version);
}

// The demo's tour finds its way down the printer list by the third column of
// the queue list; a queue marked wrongly there sends it to the wrong row.
TEST_F(DiscoveryOnCupsd, TheDemoQueueListSaysWhichQueuesTheWindowLists)
{
    ASSERT_NO_FATAL_FAILURE(AddDemoQueues(cupsd_));
    ASSERT_EQ(GetPrintersInfo(&wnd_), 0);
    std::ifstream queues(harness::SourcePath("data/demo/queues"));
    ASSERT_TRUE(queues) << "data/demo/queues";
    int rows = 0;
    for (std::string line; std::getline(queues, line);) {
        std::istringstream fields(line);
        std::string queue, ppd, shown;
        if (!(fields >> queue) || queue[0] == '#')
            continue;
        ++rows;
        ASSERT_TRUE(fields >> ppd >> shown) << line;
        ASSERT_TRUE(shown == "listed" || shown == "hidden") << line;
        const UIPrinterInfo* info = GetUIPrinterInfo(&wnd_, queue.c_str());
        ASSERT_NE(info, nullptr) << queue;
        EXPECT_EQ(GetMinFirmVersion(info->modelName) != nullptr, shown == "listed")
            << queue << " (" << info->modelName << ") is marked " << shown;
    }
    EXPECT_EQ(rows, wnd_.printers_num);
}

}  // namespace
