#include "deadline_standin.h"

#include <chrono>

int64_t vxsktNowMs(void)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

VxsktModule* vxsktNewUntil(char* printer, char* locale, char* folder_path, int port_num,
                           int64_t deadline_ms)
{
    if (deadline_ms != 0 && vxsktNowMs() >= deadline_ms)
        return nullptr;
    return vxsktNew(printer, locale, folder_path, port_num);
}
