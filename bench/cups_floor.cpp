#include "cups_floor.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

// cupsGetPPD and cupsGetPPD3 are deprecated, but they are the calls
// discovery makes.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

constexpr int kConnectMs = 30000;

// Fetches and deletes the PPD of each name whose index `next` hands out.
int FetchShare(const std::vector<std::string>& names, std::atomic<size_t>& next,
               const std::string& server, int port)
{
    http_t* http = httpConnect2(server.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                kConnectMs, nullptr);
    int ppds = 0;
    for (size_t i; http && (i = next++) < names.size();) {
        char path[1024] = "";
        time_t modtime = 0;
        if (cupsGetPPD3(http, names[i].c_str(), &modtime, path, sizeof path) == HTTP_STATUS_OK) {
            unlink(path);
            ++ppds;
        }
    }
    httpClose(http);
    return ppds;
}

}  // namespace

int DiscoveryFloor()
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    int ppds = 0;
    for (int i = 0; i < count; ++i) {
        const char* ppd = cupsGetPPD(dests[i].name);
        if (ppd) {
            unlink(ppd);
            ++ppds;
        }
    }
    cupsFreeDests(count, dests);
    return ppds;
}

int ConcurrentDiscoveryFloor(int connections)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(dests[i].name);
    cupsFreeDests(count, dests);

    const std::string server = cupsServer();
    const int port = ippPort();
    std::atomic<size_t> next{0};
    std::atomic<int> ppds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < connections; ++t)
        threads.emplace_back([&] { ppds += FetchShare(names, next, server, port); });
    for (auto& thread : threads)
        thread.join();
    return ppds;
}
