// One TCP connection to the printer daemon zeld, and the framing of its
// request/response protocol. All wire integers are little-endian.
#pragma once

#include <cstdint>

#include "buftool.h"

struct vxskt_module_s {
    int socket_fd;        // connected socket, -1 once closed
    char req_header[4];   // request magic "zel0", no terminator
    int32_t req_command;  // command of the request last written
    char* printer;        // queue name without "@host", owned
    int size_printer;
    char* locale;  // locale string sent with every request, owned
    int size_locale;
    int16_t response_code;  // from the last response header
    int16_t status_code;
    int32_t total_length;     // payload length from the last response header
    BufTool* send_data;       // staging buffer for the next request's data part
    BufTool* recv_data;       // payload of the last response + one zero byte, or null
    int64_t deadline_ms;      // no wait goes past it (a vxsktNowMs() time); 0: none
    int receive_timeout_set;  // the socket's own receive time-out in ms; 0: none set
};
typedef struct vxskt_module_s VxsktModule;

// Monotonic clock in milliseconds, the time base of the deadlines below.
int64_t vxsktNowMs(void);
// Opens a connection to the daemon for `printer` ("queue" or "queue@host";
// the caller's string is cut at the first "@"); null when it cannot.
VxsktModule* vxsktNew(char* printer, char* locale, char* folder_path, int port_num);
// Like vxsktNew, but no wait of this connection (each resolution and connect
// attempt, and every later send and receive) goes past deadline_ms (a
// vxsktNowMs() time point), and a response is waited for until then
// however long that is; 0 = no overall deadline, only the per-step bounds
// that vxsktNew has.
VxsktModule* vxsktNewUntil(char* printer, char* locale, char* folder_path, int port_num,
                           int64_t deadline_ms);
void vxsktDestroy(VxsktModule* vxskt);
// The daemon port a connection opened now takes: ZELD_PORT when it begins
// with a digit and names a port from 1 to 65535, else `port_num`. The one
// reader of ZELD_PORT, so that messages name the port really used.
int vxsktDaemonPort(int port_num);

int vxsktWrite(VxsktModule* vxskt, int32_t command);
int vxsktRead(VxsktModule* vxskt);

int vxsktSetReqByte(VxsktModule* vxskt, char ch);
int vxsktSetReqShort(VxsktModule* vxskt, int16_t st);
int vxsktSetReqLong(VxsktModule* vxskt, int32_t lg);
int vxsktSetReqData(VxsktModule* vxskt, const void* pData, int nSize);
int vxsktResetReqData(VxsktModule* vxskt);

// What vxsktGetResData reads next from the payload (its nType): a byte, a
// 16-bit or a 32-bit integer, nSize bytes, or the whole payload.
enum {
    VXSKT_RES_BYTE = 1,
    VXSKT_RES_SHORT = 2,
    VXSKT_RES_LONG = 3,
    VXSKT_RES_BLOCK = 4,
    VXSKT_RES_WHOLE = 5,
};
int vxsktGetResData(VxsktModule* vxskt, void* pData, int nType, int nSize);
int vxsktSeekResData(VxsktModule* vxskt, int nOffset);
int vxsktGetResSize(VxsktModule* vxskt);

int vxsktGetSocketFD(VxsktModule* vxskt);
int32_t vxsktGetReqCommand(VxsktModule* vxskt);
int16_t vxsktGetResCode(VxsktModule* vxskt);
uint16_t vxsktGetStatusCode(VxsktModule* vxskt);
unsigned char* vxsktGetStatusData(VxsktModule* vxskt);
int32_t vxsktGetStatusLen(VxsktModule* vxskt);

// Why the last opening, send or receive of the calling thread failed: no
// address for the host, every connect refused (`error`: its errno), the
// deadline or a per-step bound passed, or the peer closed or reset the
// connection (`error`: errno, 0 for an orderly close). VXSKT_OK after a
// call that did not fail in the transport (a reply may still be too short).
typedef enum {
    VXSKT_OK = 0,
    VXSKT_RESOLVE,
    VXSKT_CONNECT,
    VXSKT_DEADLINE,
    VXSKT_CLOSED,
} VxsktFailureKind;
typedef struct VxsktFailure {
    VxsktFailureKind kind;
    int error;
} VxsktFailure;
VxsktFailure vxsktLastFailure(void);

// Sees every request frame as it is sent and every response as it is read
// (its header, then its payload, if any): quellonctl -v. Null turns it off.
// Set it before connections are opened; it may be called on any thread.
typedef void (*VxsktTrace)(const VxsktModule* vxskt, bool sent, const unsigned char* bytes,
                           int size);
void vxsktSetTrace(VxsktTrace trace);
