// quellonctl's exit statuses, as the manual page and scripts know them.
#pragma once

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoCups = 3,
    kExitDiffers = 4,
};
