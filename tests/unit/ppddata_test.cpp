// Printer discovery without a scheduler: the PPD line scanner, the record
// table, and GetPrintersInfo against a scripted CUPS (for an empty answer
// that would take 20 seconds, unopenable files and exhausted memory).
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "discovery_seam.h"
#include "ppddata.h"
#include "process.h"

namespace {

struct Model {
    UIAutoShutdownWnd wnd{};
    ~Model() { DestroyPrintersInfo(&wnd); }
};

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

// ------------------------------------------------------------ line scanner

struct ScanCase {
    const char* behaviour;
    std::vector<std::string> lines;
    std::string model;
    std::string version;
};

const ScanCase kScanCases[] = {
    {"both keys give the texts between the quotes",
     {"*VXPrinterName: \"Brelko M220\"\n", "*FileVersion: \"2.60\"\n"},
     "Brelko M220",
     "2.60"},
    {"a colon ends the value", {"*VXPrinterName: \"Brelko:M220\"\n"}, "Brelko", ""},
    {"text after the closing quote is ignored",
     {"*FileVersion: \"2.60\" \"3.00\" x\n"},
     "",
     "2.60"},
    {"no closing quote before the end of line", {"*VXPrinterName: \"Brelko M220\n"}, "", ""},
    {"no closing quote before the end of the text", {"*FileVersion: \"2.60"}, "", ""},
    {"a missing closing quote keeps the earlier value",
     {"*VXPrinterName: \"Brelko M210\"\n", "*VXPrinterName: \"Brelko M220\n"},
     "Brelko M210",
     ""},
    {"no quote at all", {"*VXPrinterName: Brelko M220\n", "*FileVersion: 2.60\n"}, "", ""},
    {"an indented key does not match", {" *VXPrinterName: \"Brelko M220\"\n"}, "", ""},
    {"a key in another letter case does not match",
     {"*vxprintername: \"Brelko M220\"\n", "*FILEVERSION: \"2.60\"\n"},
     "",
     ""},
    {"a key without its colon does not match", {"*VXPrinterName \"Brelko M220\"\n"}, "", ""},
    {"an empty value empties the field",
     {"*VXPrinterName: \"Brelko M220\"\n", "*VXPrinterName: \"\"\n"},
     "",
     ""},
    {"-1 is discarded", {"*FileVersion: \"2.60\"\n", "*FileVersion: \"-1\"\n"}, "", "2.60"},
    {"-1 followed by text is discarded", {"*FileVersion: \"-1abc\"\n"}, "", ""},
    {"-1 after blanks is discarded", {"*FileVersion: \"  -1\"\n"}, "", ""},
    {"0 is kept", {"*FileVersion: \"0\"\n"}, "", "0"},
    {"1.00 is kept", {"*FileVersion: \"1.00\"\n"}, "", "1.00"},
    {"-10 is kept", {"*FileVersion: \"-10\"\n"}, "", "-10"},
    {"a number too large for an int does not wrap to -1",
     {"*FileVersion: \"4294967295\"\n"},
     "",
     "4294967295"},
    {"the same key twice: the later value wins",
     {"*VXPrinterName: \"Brelko M210\"\n", "*VXPrinterName: \"Brelko M250C\"\n"},
     "Brelko M250C",
     ""},
    {"a shorter later value leaves nothing of the earlier one",
     {"*VXPrinterName: \"Brelko M240C/M248C\"\n", "*VXPrinterName: \"B\"\n"},
     "B",
     ""},
    {"a slash is part of the value",
     {"*VXPrinterName: \"Brelko M240C/M248C\"\n"},
     "Brelko M240C/M248C",
     ""},
    {"bytes outside ASCII are copied as they are",
     {"*VXPrinterName: \"\xff\xfe\x01\"\n"},
     "\xff\xfe\x01",
     ""},
    {"a carriage return after the closing quote is harmless",
     {"*FileVersion: \"2.60\"\r\n"},
     "",
     "2.60"},
    {"other keys are ignored",
     {"*ModelName: \"Brelko M220\"\n", "*PCFileName: \"2.60\"\n"},
     "",
     ""},
};

TEST(GetStatusuiValue, ScansLinesAsDocumented)
{
    for (const ScanCase& c : kScanCases) {
        UIPrinterInfo info{};
        for (const std::string& line : c.lines)
            GetStatusuiValue(nullptr, &info, line.c_str());
        EXPECT_EQ(info.modelName, c.model) << c.behaviour;
        EXPECT_EQ(info.driverVersion, c.version) << c.behaviour;
        EXPECT_STREQ(info.printerName, "") << c.behaviour;
    }
}

TEST(GetStatusuiValue, IgnoresNullArguments)
{
    UIPrinterInfo info{};
    GetStatusuiValue(nullptr, &info, nullptr);
    GetStatusuiValue(nullptr, nullptr, "*FileVersion: \"2.60\"\n");
    EXPECT_STREQ(info.driverVersion, "");
}

// ------------------------------------------------------------ whole files

class GetPPDDataTest : public ::testing::Test {
protected:
    // Writes `text` as a PPD file and scans it into `info`.
    int Scan(const std::string& text)
    {
        const std::string path = dir_ / "test.ppd";
        harness::WriteFile(path, text);
        return GetPPDData(nullptr, path.c_str(), &info_);
    }

    harness::TempDir dir_;
    UIPrinterInfo info_{};
};

TEST_F(GetPPDDataTest, ReadsTheLastUsableLineOfEachKey)
{
    ASSERT_EQ(Scan("*PPD-Adobe: \"4.3\"\n"
                   "*FileVersion: \"2.50\"\n"
                   "*VXPrinterName: \"Brelko M230\"\n"
                   "*FileVersion: \"2.60\"\n"
                   "*VXPrinterName: \"Brelko M230"),
              0);
    EXPECT_STREQ(info_.modelName, "Brelko M230");
    EXPECT_STREQ(info_.driverVersion, "2.60");
}

TEST_F(GetPPDDataTest, ValueBeyondThe255thCharacterIsDiscardedAndTheRestReadAsALine)
{
    // The first read ends after 255 characters, inside the value; the next
    // piece begins with a key of its own.
    const std::string head = "*VXPrinterName: \"";
    ASSERT_EQ(Scan(head + Repeat('A', 255 - head.size()) + "*FileVersion: \"9.99\"\n"), 0);
    EXPECT_STREQ(info_.modelName, "");
    EXPECT_STREQ(info_.driverVersion, "9.99");
}

TEST_F(GetPPDDataTest, ValueEndingWithinThe255thCharacterIsKept)
{
    const std::string head = "*VXPrinterName: \"";
    const std::string value = Repeat('B', 254 - head.size());
    ASSERT_EQ(Scan(head + value + "\"" + Repeat('C', 400) + "\n"), 0);
    EXPECT_EQ(info_.modelName, value);
}

TEST_F(GetPPDDataTest, ANulByteEndsTheLineItIsIn)
{
    using namespace std::string_literals;
    ASSERT_EQ(Scan("*VXPrinterName: \"Brel\0ko\"\n"
                   "*FileVersion: \"2\0.60\"\n"
                   "\0\0\0*FileVersion: \"1.00\"\n"
                   "*VXPrinterName: \"Brelko M210\"\n"s),
              0);
    EXPECT_STREQ(info_.modelName, "Brelko M210");
    EXPECT_STREQ(info_.driverVersion, "");
}

TEST_F(GetPPDDataTest, AnEmptyFileIsReadWithoutValues)
{
    EXPECT_EQ(Scan(""), 0);
    EXPECT_STREQ(info_.modelName, "");
    EXPECT_STREQ(info_.driverVersion, "");
}

TEST_F(GetPPDDataTest, FailsWithoutAReadableFile)
{
    EXPECT_EQ(GetPPDData(nullptr, nullptr, &info_), -1) << "no file name";
    EXPECT_EQ(GetPPDData(nullptr, (dir_ / "missing.ppd").c_str(), &info_), -1) << "missing file";
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(GetPPDData(nullptr, dir_.path().c_str(), &info_), -1) << "a folder";
    EXPECT_EQ(errno, EISDIR);
}

// ------------------------------------------------------------ the record table

TEST(PrinterRecords, CreateFillsTheNameAndClearsTheRest)
{
    const std::string longest = Repeat('q', 255);
    UIPrinterInfo* record = CreateUIPrinterInfo(longest.c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->printerName, longest);
    EXPECT_STREQ(record->modelName, "");
    EXPECT_STREQ(record->driverVersion, "");
    DestroyUIPrinterInfo(record);

    EXPECT_EQ(CreateUIPrinterInfo(Repeat('q', 256).c_str()), nullptr) << "a name that does not fit";
    EXPECT_EQ(CreateUIPrinterInfo(nullptr), nullptr);
}

TEST(PrinterRecords, LookupFindsTheFirstExactMatch)
{
    Model m;
    for (const char* name : {"Office", "Lab", "Office"})
        ASSERT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(&m.wnd, CreateUIPrinterInfo(name)), 0);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, "Office"), m.wnd.printersInfo[0]);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, "Lab"), m.wnd.printersInfo[1]);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, "office"), nullptr);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, "Off"), nullptr);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, nullptr), nullptr);
    EXPECT_EQ(GetUIPrinterInfo(nullptr, "Office"), nullptr);
}

TEST(PrinterRecords, TheTableHoldsAtMost64AndRefusesNulls)
{
    Model m;
    UIPrinterInfo spare{};
    EXPECT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(nullptr, &spare), -1);
    EXPECT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(&m.wnd, nullptr), -1);
    for (int i = 0; i < PRINTERS_MAX; ++i)
        ASSERT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(&m.wnd, CreateUIPrinterInfo("q")), 0);
    EXPECT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(&m.wnd, &spare), -1);
    EXPECT_EQ(m.wnd.printers_num, PRINTERS_MAX);
}

TEST(PrinterRecords, DestroyEmptiesTheTableAndIgnoresNothingToDo)
{
    DestroyPrintersInfo(nullptr);
    Model m;
    DestroyPrintersInfo(&m.wnd);
    EXPECT_EQ(m.wnd.printers_num, 0);
    for (const char* name : {"a", "b", "c"})
        ASSERT_EQ(AddUIPrinterInfo2UIAutoShutdownWnd(&m.wnd, CreateUIPrinterInfo(name)), 0);
    DestroyPrintersInfo(&m.wnd);
    EXPECT_EQ(m.wnd.printers_num, 0);
    EXPECT_EQ(m.wnd.printersInfo[0], nullptr);
    EXPECT_EQ(GetUIPrinterInfo(&m.wnd, "a"), nullptr);
}

// ------------------------------------------------------------ scripted CUPS

// What the scripted CUPS answers, and what discovery did with it.
struct FakeCups {
    struct Dest {
        std::string name;
        const char* ppd;  // null: the destination has no PPD
    };
    std::vector<Dest> dests;
    int list_at_call = 1;      // the cupsGetDests call that first returns the list
    int unopenable_dest = -1;  // index of the destination whose PPD copy cannot be opened
    int failing_alloc = -1;    // the record allocation (from 1) that fails

    int dests_calls = 0;
    int pauses = 0;
    unsigned paused_seconds = 0;
    int lists_freed = 0;
    int allocs = 0;
    std::vector<std::string> ppd_copies;
    std::string dir;
};

FakeCups* fake;

int FakeGetDests(cups_dest_t** dests)
{
    if (++fake->dests_calls < fake->list_at_call || fake->dests.empty())
        return 0;
    auto* list = new cups_dest_t[fake->dests.size()]();
    for (size_t i = 0; i < fake->dests.size(); ++i)
        list[i].name = const_cast<char*>(fake->dests[i].name.c_str());
    *dests = list;
    return static_cast<int>(fake->dests.size());
}

void FakeFreeDests(int, cups_dest_t* dests)
{
    ++fake->lists_freed;
    delete[] dests;
}

// Like cupsGetPPD: a fresh copy in a temporary file, its path in a buffer
// that the next call reuses.
const char* FakeGetPpd(const char* name)
{
    static std::string path;
    for (const auto& dest : fake->dests) {
        if (dest.name != name || !dest.ppd)
            continue;
        path = fake->dir + "/ppd-copy-" + std::to_string(fake->ppd_copies.size());
        harness::WriteFile(path, dest.ppd);
        fake->ppd_copies.push_back(path);
        return path.c_str();
    }
    return nullptr;
}

unsigned FakeSleep(unsigned seconds)
{
    ++fake->pauses;
    fake->paused_seconds += seconds;
    return 0;
}

FILE* FakeOpen(const char* path, const char* mode)
{
    if (fake->unopenable_dest >= 0 &&
        fake->ppd_copies.size() == static_cast<size_t>(fake->unopenable_dest) + 1) {
        errno = EACCES;
        return nullptr;
    }
    return fopen(path, mode);
}

void* FakeAlloc(size_t size)
{
    return ++fake->allocs == fake->failing_alloc ? nullptr : malloc(size);
}

const char* const kSupportedPpd = "*VXPrinterName: \"Brelko M220\"\n*FileVersion: \"2.60\"\n";

class ScriptedDiscovery : public ::testing::Test {
protected:
    ScriptedDiscovery() : saved_(g_discovery_calls)
    {
        cups_.dir = dir_.path();
        fake = &cups_;
        g_discovery_calls = {FakeGetDests, FakeGetPpd, FakeFreeDests, FakeSleep, FakeOpen,
                             FakeAlloc,    0};
    }
    ~ScriptedDiscovery() override
    {
        g_discovery_calls = saved_;
        fake = nullptr;
    }

    void AddDests(int count, const char* prefix = "Queue-")
    {
        for (int i = 0; i < count; ++i)
            cups_.dests.push_back({prefix + std::to_string(i), kSupportedPpd});
    }

    // Runs discovery and returns its result; its standard error goes to `err_`.
    int Discover()
    {
        ::testing::internal::CaptureStderr();
        const int result = GetPrintersInfo(&m_.wnd);
        err_ = ::testing::internal::GetCapturedStderr();
        return result;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < m_.wnd.printers_num; ++i)
            names.push_back(m_.wnd.printersInfo[i]->printerName);
        return names;
    }

    int LeftoverCopies() const
    {
        int left = 0;
        struct stat st;
        for (const auto& path : cups_.ppd_copies)
            left += stat(path.c_str(), &st) == 0;
        return left;
    }

    harness::TempDir dir_;
    FakeCups cups_;
    Model m_;
    std::string err_;

private:
    DiscoveryCalls saved_;
};

TEST_F(ScriptedDiscovery, NoListAfter21CallsIsAnEmptySuccess)
{
    cups_.list_at_call = 1000;
    AddDests(1);
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(cups_.dests_calls, 21);
    EXPECT_EQ(cups_.pauses, 20);
    EXPECT_EQ(cups_.paused_seconds, 20u);
    EXPECT_EQ(m_.wnd.printers_num, 0);
    EXPECT_EQ(err_, std::string("quellon: no printer list from the CUPS scheduler at ") +
                        cupsServer() + "\n");
}

TEST_F(ScriptedDiscovery, AListAtTheThirdCallIsDiscoveredAfterTwoPauses)
{
    cups_.list_at_call = 3;
    cups_.dests = {{"Lab", kSupportedPpd},
                   {"NoPpd", nullptr},
                   {"Office", "*VXPrinterName: \"Brelko M900\"\n"}};
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(cups_.dests_calls, 3);
    EXPECT_EQ(cups_.pauses, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Lab", "Office"}));
    EXPECT_STREQ(m_.wnd.printersInfo[0]->modelName, "Brelko M220");
    EXPECT_STREQ(m_.wnd.printersInfo[0]->driverVersion, "2.60");
    EXPECT_STREQ(m_.wnd.printersInfo[1]->modelName, "Brelko M900");
    EXPECT_STREQ(m_.wnd.printersInfo[1]->driverVersion, "");
    EXPECT_EQ(cups_.lists_freed, 1);
    EXPECT_EQ(LeftoverCopies(), 0);
}

TEST_F(ScriptedDiscovery, TwoEntriesOfOneNameGiveTwoRecords)
{
    cups_.dests = {{"Twin", kSupportedPpd}, {"Twin", "*FileVersion: \"1.00\"\n"}};
    EXPECT_EQ(Discover(), 0);
    ASSERT_EQ(m_.wnd.printers_num, 2);
    EXPECT_EQ(GetUIPrinterInfo(&m_.wnd, "Twin"), m_.wnd.printersInfo[0]);
}

TEST_F(ScriptedDiscovery, AnUnopenablePpdFailsDiscoveryAndSaysWhich)
{
    AddDests(3);
    cups_.unopenable_dest = 1;
    EXPECT_EQ(Discover(), -1);
    EXPECT_EQ(Names(), std::vector<std::string>{"Queue-0"}) << "records made before stay";
    EXPECT_EQ(LeftoverCopies(), 0);
    EXPECT_EQ(cups_.lists_freed, 1);
    EXPECT_EQ(err_, "quellon: cannot read the PPD file of queue \"Queue-1\": " +
                        std::string(strerror(EACCES)) + "\n");
}

TEST_F(ScriptedDiscovery, AnAllocationFailureFailsDiscoveryAndSaysSo)
{
    AddDests(3);
    cups_.failing_alloc = 2;
    EXPECT_EQ(Discover(), -1);
    EXPECT_EQ(Names(), std::vector<std::string>{"Queue-0"});
    EXPECT_EQ(LeftoverCopies(), 0);
    EXPECT_EQ(cups_.lists_freed, 1);
    EXPECT_EQ(err_, "quellon: out of memory while reading the printer list\n");
}

TEST_F(ScriptedDiscovery, Beyond64DestinationsTheFirst64AreKeptAndTheRestCleanedUp)
{
    AddDests(70);
    EXPECT_EQ(Discover(), 0);
    ASSERT_EQ(m_.wnd.printers_num, 64);
    EXPECT_STREQ(m_.wnd.printersInfo[0]->printerName, "Queue-0");
    EXPECT_STREQ(m_.wnd.printersInfo[63]->printerName, "Queue-63");
    EXPECT_EQ(cups_.ppd_copies.size(), 70u);
    EXPECT_EQ(LeftoverCopies(), 0);
    EXPECT_EQ(cups_.allocs, 64);
    std::string expected;
    for (int i = 64; i < 70; ++i)
        expected += "quellon: queue \"Queue-" + std::to_string(i) +
                    "\" left out: the list holds at most 64 printers\n";
    EXPECT_EQ(err_, expected);
}

TEST_F(ScriptedDiscovery, ANameLongerThan255BytesIsSkipped)
{
    cups_.dests = {{Repeat('x', 256), kSupportedPpd},
                   {Repeat('y', 255), kSupportedPpd},
                   {"After", kSupportedPpd}};
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{Repeat('y', 255), "After"}));
    EXPECT_EQ(cups_.ppd_copies.size(), 3u);
    EXPECT_EQ(LeftoverCopies(), 0);
    EXPECT_EQ(err_, "quellon: queue \"" + Repeat('x', 256) +
                        "\" left out: its name is longer than 255 bytes\n");
}

TEST_F(ScriptedDiscovery, NoDestinationWithAPpdIsAnEmptySuccess)
{
    cups_.dests = {{"Raw", nullptr}};
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(m_.wnd.printers_num, 0);
    EXPECT_EQ(cups_.pauses, 0);
    EXPECT_EQ(cups_.lists_freed, 1);
}

}  // namespace
