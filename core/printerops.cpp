#include "printerops.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data_process.h"
#include "model.h"

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
// The variables that decide the character type, strongest first.
constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_CTYPE", "LANG"};

// Oldest driver whose printers answer the timer items.
constexpr char kMinDriverVersion[] = "2.56";

// Stages the data part of an item request (the value only for a write)
// and runs the exchange. Returns SendRequest's result; -1 when there is
// no connection or staging was refused (then nothing stays staged).
int RequestItem(VxsktModule* vxskt, int32_t item, const int32_t* value)
{
    if (vxskt == nullptr) {
        return SEND_FAILED;
    }
    const bool staged =
        vxsktSetReqLong(vxskt, value != nullptr ? kWriteLength : kQueryLength) == 0 &&
        vxsktSetReqLong(vxskt, item) == 0 &&
        (value == nullptr || vxsktSetReqLong(vxskt, *value) == 0);
    if (!staged) {
        vxsktResetReqData(vxskt);
        return SEND_FAILED;
    }
    return SendRequest(vxskt, kRequestCommand);
}

// Splits the decimal number at the start of `text` into its integer digits
// (leading zeros dropped) and fraction digits (trailing zeros dropped).
// False unless `text` begins with a digit.
bool SplitDecimal(const char* text, std::string* whole, std::string* fraction)
{
    if (!std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    const char* p = text;
    while (*p == '0')
        ++p;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        whole->push_back(*p++);
    if (*p == '.') {
        for (++p; std::isdigit(static_cast<unsigned char>(*p)); ++p)
            fraction->push_back(*p);
    }
    while (!fraction->empty() && fraction->back() == '0')
        fraction->pop_back();
    return true;
}

WriteReport Known(WriteOutcome outcome, unsigned short held, bool reply_lost = false)
{
    return WriteReport{outcome, true, held, reply_lost};
}

WriteReport Unknown(bool reply_lost = false)
{
    return WriteReport{WRITE_FAILED, false, 0, reply_lost};
}

// What the printer holds after a write whose connection failed, read on a
// fresh connection: the write is never sent again. `accepted`: the daemon
// answered the write with success before the read-back was lost, so a
// value other than the one sent means the printer kept another; otherwise
// the write's reply was lost and the printer may never have seen it.
WriteReport ReadBackOnFreshConnection(VxsktModule** vxskt, unsigned short wanted,
                                      VxsktModule* (*reopen)(void* ctx), void* ctx, bool accepted)
{
    const bool reply_lost = !accepted;
    VxsktModule* fresh = reopen != nullptr ? reopen(ctx) : nullptr;
    if (fresh == nullptr)
        return Unknown(reply_lost);
    vxsktDestroy(*vxskt);
    *vxskt = fresh;
    unsigned short held = 0;
    if (QueryAutoShutdownTime(fresh, &held) < 0)
        return Unknown(reply_lost);
    if (held == wanted)
        return Known(WRITE_CHANGED, held, reply_lost);
    return Known(accepted ? WRITE_VERIFY_FAILED : WRITE_FAILED, held, reply_lost);
}

}  // namespace

char* ChooseLocaleString(void)
{
    const char* value = nullptr;
    for (const char* name : kLocaleVariables) {
        value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            break;
    }
    const bool japanese = value != nullptr && std::strncmp(value, "ja", 2) == 0;
    return strdup(japanese ? kLocaleJapanese : kLocaleEnglish);
}

int QueryFirmVer(VxsktModule* vxskt, char* firmVer)
{
    signed char major = 0;
    signed char minor = 0;
    const int result = RequestItem(vxskt, kItemFirmwareVersion, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(vxskt, &major, VXSKT_RES_BYTE, 0) < 0 ||
        vxsktGetResData(vxskt, &minor, VXSKT_RES_BYTE, 0) < 0) {
        return -1;
    }
    std::snprintf(firmVer, FIRM_VER_SIZE, "%02d.%02d", major, minor);
    return 0;
}

int QueryAutoShutdownTime(VxsktModule* vxskt, unsigned short* timer)
{
    int32_t value = 0;
    const int result = RequestItem(vxskt, kItemReadTimer, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(vxskt, &value, VXSKT_RES_LONG, 0) < 0) {
        return -1;
    }
    *timer = static_cast<unsigned short>(value & 0xFFFF);
    return 0;
}

int WriteAutoShutdownTime(VxsktModule* vxskt, unsigned short timer)
{
    const int32_t value = timer;
    return RequestItem(vxskt, kItemWriteTimer, &value);
}

// Driver versions are decimal numbers: 10.00 is newer than 2.56, and 2.560
// is the same version.
bool DriverVersionSupported(const char* driverVersion)
{
    std::string whole, fraction, min_whole, min_fraction;
    if (driverVersion == nullptr || !SplitDecimal(driverVersion, &whole, &fraction))
        return false;
    SplitDecimal(kMinDriverVersion, &min_whole, &min_fraction);
    if (whole.size() != min_whole.size())
        return whole.size() > min_whole.size();
    if (whole != min_whole)
        return whole > min_whole;
    return fraction >= min_fraction;
}

const char* MinDriverVersion(void)
{
    return kMinDriverVersion;
}

// Both versions are "%02d.%02d" texts, whose string order is the numeric
// order. A model without a minimum cannot be vouched for.
bool FirmwareSupported(const char* modelName, const char* firmVer)
{
    const char* minimum = GetMinFirmVersion(modelName);
    return minimum != nullptr && firmVer != nullptr && std::strcmp(firmVer, minimum) >= 0;
}

WriteReport WriteAndReadBack(VxsktModule** vxskt, unsigned short wanted,
                             VxsktModule* (*reopen)(void* ctx), void* ctx)
{
    const int written = WriteAutoShutdownTime(*vxskt, wanted);
    if (written == SEND_REFUSED)
        return WriteReport{WRITE_REFUSED, false, 0, false};
    if (written < 0)
        return ReadBackOnFreshConnection(vxskt, wanted, reopen, ctx, false);
    unsigned short held = 0;
    const int read = QueryAutoShutdownTime(*vxskt, &held);
    // A daemon that takes the write and then drops the connection has still
    // taken it: what it holds is asked once more, elsewhere.
    if (read == SEND_FAILED)
        return ReadBackOnFreshConnection(vxskt, wanted, reopen, ctx, true);
    if (read < 0)
        return Unknown();
    return Known(held == wanted ? WRITE_CHANGED : WRITE_VERIFY_FAILED, held);
}

WriteReport VerifiedWriteOver(VxsktModule** vxskt, unsigned short held, unsigned short wanted,
                              VxsktModule* (*reopen)(void* ctx), void* ctx, bool dry_run)
{
    if (held == wanted)
        return Known(WRITE_UNCHANGED, held);
    if (dry_run)
        return Known(WRITE_CHANGED, held);
    const WriteReport report = WriteAndReadBack(vxskt, wanted, reopen, ctx);
    // A refused write left the printer as it was read just before.
    return report.outcome == WRITE_REFUSED ? Known(WRITE_REFUSED, held) : report;
}
