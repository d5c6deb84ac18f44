// Temporary: the connection deadline API until the connection module has it.
#pragma once

#include <cstdint>

#include "vxsktmodule.h"

int64_t vxsktNowMs(void);
VxsktModule* vxsktNewUntil(char* printer, char* locale, char* folder_path, int port_num,
                           int64_t deadline_ms);
