// Feeds arbitrary bytes to the connection as the daemon's answer, through
// a socketpair, then takes every response apart in every way the module
// offers. Responses are read until the stream fails.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "vxsktmodule.h"
#include "wire.h"

namespace {

// Larger inputs would not fit the socket buffer in one write.
constexpr size_t kMaxInput = 64 * 1024;
constexpr int kMaxResponses = 8;
constexpr int kMaxReadsPerWalk = 16;

VxsktModule* Connection(int fd)
{
    auto* vxskt = static_cast<VxsktModule*>(std::calloc(1, sizeof(VxsktModule)));
    vxskt->socket_fd = fd;
    std::memcpy(vxskt->req_header, harness::kRequestMagic, 4);
    vxskt->printer = strdup("lp1");
    vxskt->size_printer = 3;
    vxskt->locale = strdup(harness::kEnglishLocale);
    vxskt->size_locale = static_cast<int>(std::strlen(harness::kEnglishLocale));
    vxskt->send_data = buftool_new(512, 0);
    return vxskt;
}

void TakeApart(VxsktModule* vxskt)
{
    const int size = vxsktGetResSize(vxskt);
    const unsigned char* data = vxsktGetStatusData(vxskt);
    if (size > 0 && data[size] != 0) {
        std::abort();  // the payload must be followed by a zero byte
    }
    std::vector<char> out(static_cast<size_t>(size > 0 ? size : 0) + 8);
    const int block_sizes[] = {-1, 0, 1, 3, size, size + 1};
    for (int type = 0; type <= 6; ++type) {
        for (int block : block_sizes) {
            vxsktSeekResData(vxskt, 0);
            // A type that reads nothing succeeds without moving the
            // cursor, so the walk is bounded by count.
            for (int i = 0; i < kMaxReadsPerWalk; ++i) {
                if (vxsktGetResData(vxskt, out.data(), type, block) != 0) {
                    break;
                }
            }
            vxsktSeekResData(vxskt, size - 1);
            vxsktGetResData(vxskt, out.data(), type, block);
        }
    }
    vxsktSeekResData(vxskt, -1);
    vxsktSeekResData(vxskt, size);
    vxsktGetResCode(vxskt);
    vxsktGetStatusCode(vxskt);
    vxsktGetStatusLen(vxskt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int pair[2];
    if (size > kMaxInput || socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        return 0;
    }
    const int wrote = static_cast<int>(write(pair[1], data, size));
    shutdown(pair[1], SHUT_WR);
    VxsktModule* vxskt = Connection(pair[0]);
    if (wrote == static_cast<int>(size)) {
        for (int i = 0; i < kMaxResponses && vxsktRead(vxskt) >= 0; ++i) {
            TakeApart(vxskt);
        }
    }
    vxsktDestroy(vxskt);
    close(pair[1]);
    return 0;
}
