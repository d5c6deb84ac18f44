// Feeds arbitrary bytes to the PPD scanner: once as one line straight to
// ReadPpdLine, once as a whole PPD file read through ReadPpdFile. The
// fields it fills must stay terminated within their 256 bytes, and the
// queue name must stay untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "discovery.h"
#include "discovery_seam.h"

namespace {

const uint8_t* g_data;
size_t g_size;

// Serves the fuzzer's bytes as the PPD file, without touching the disk.
FILE* OpenInput(const char*, const char* mode)
{
    return g_size ? fmemopen(const_cast<uint8_t*>(g_data), g_size, mode) : fopen("/dev/null", mode);
}

void CheckRecord(const UIPrinterInfo& info)
{
    if (strnlen(info.modelName, sizeof info.modelName) == sizeof info.modelName ||
        strnlen(info.driverVersion, sizeof info.driverVersion) == sizeof info.driverVersion ||
        strcmp(info.printerName, "fuzz") != 0)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    UIPrinterInfo line_info{};
    strcpy(line_info.printerName, "fuzz");
    const std::string line(reinterpret_cast<const char*>(data), size);
    ReadPpdLine(&line_info, line.c_str());
    CheckRecord(line_info);

    UIPrinterInfo file_info{};
    strcpy(file_info.printerName, "fuzz");
    g_data = data;
    g_size = size;
    g_discovery_calls.open = OpenInput;
    if (ReadPpdFile("fuzz.ppd", &file_info) != 0)
        abort();
    CheckRecord(file_info);
    return 0;
}
