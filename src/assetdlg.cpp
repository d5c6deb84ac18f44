#include "assetdlg.h"

// --------------------------------------------------------- printer operations

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data_process.h"

namespace {

// Every request of the program is command 19 naming one item.
constexpr int kRequestCommand = 19;
constexpr int32_t kItemFirmwareVersion = 106520;
constexpr int32_t kItemReadTimer = 106523;
constexpr int32_t kItemWriteTimer = 102415;
// Bytes of the data part after its length field.
constexpr int32_t kQueryLength = 4;
constexpr int32_t kWriteLength = 8;

constexpr const char* kLocaleJapanese = "ja_JP.UTF-8";
constexpr const char* kLocaleEnglish = "en_GB.UTF-8";
constexpr const char* kCharset = "UTF-8";
constexpr int kFirmVerSize = 10;

// Stages the data part of an item request (the value only for a write)
// and runs the exchange. Returns SendRequest's result; -1 when there is
// no connection or staging was refused (then nothing stays staged).
int RequestItem(UIAutoShutdownWnd* wnd, int32_t item, const int32_t* value)
{
    VxsktModule* vxskt = wnd->pVxskt;
    if (vxskt == nullptr) {
        return SEND_FAILED;
    }
    const bool staged =
        vxsktSetReqLong(vxskt, value != nullptr ? kWriteLength : kQueryLength) == 0 &&
        vxsktSetReqLong(vxskt, item) == 0 && (value == nullptr || vxsktSetReqLong(vxskt, *value) == 0);
    if (!staged) {
        vxsktResetReqData(vxskt);
        return SEND_FAILED;
    }
    return SendRequest(vxskt, kRequestCommand);
}

}  // namespace

// Chooses the locale string sent with every request: Japanese when
// LC_CTYPE (or, when it is unset, LANG) begins with "ja", else English.
// The caller frees the result; null when memory ran out.
char* SetLocaleString(UIAutoShutdownWnd* wnd)
{
    const char* value = std::getenv("LC_CTYPE");
    if (value == nullptr) {
        value = std::getenv("LANG");
    }
    mem_free(wnd->tocode);
    mem_free(wnd->fromcode);
    wnd->tocode = strdup(kCharset);
    wnd->fromcode = strdup(kCharset);
    const bool japanese = value != nullptr && std::strncmp(value, "ja", 2) == 0;
    return strdup(japanese ? kLocaleJapanese : kLocaleEnglish);
}

// Reads the printer's firmware version as "major.minor", two digits each.
int GetFirmVer(UIAutoShutdownWnd* wnd, char* firmVer)
{
    signed char major = 0;
    signed char minor = 0;
    const int result = RequestItem(wnd, kItemFirmwareVersion, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(wnd->pVxskt, &major, 1, 0) < 0 ||
        vxsktGetResData(wnd->pVxskt, &minor, 1, 0) < 0) {
        return -1;
    }
    std::snprintf(firmVer, kFirmVerSize, "%02d.%02d", major, minor);
    return 0;
}

// Reads the auto shutdown timer: bit 15 set means off, the low bits hours.
int GetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short* timer)
{
    int32_t value = 0;
    const int result = RequestItem(wnd, kItemReadTimer, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(wnd->pVxskt, &value, 3, 0) < 0) {
        return -1;
    }
    *timer = static_cast<unsigned short>(value & 0xFFFF);
    return 0;
}

// Writes a new auto shutdown timer; 0 when the daemon accepted it.
int SetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short timer)
{
    const int32_t value = timer;
    return RequestItem(wnd, kItemWriteTimer, &value);
}

// ------------------------------------------------------------ settings dialog

// Placeholder until the settings dialog lands.
UIASSetDlg* CreateASSetDlg(UIDialog*)
{
    return nullptr;
}

void ShowASSetDlg(UIAutoShutdownWnd*) {}
