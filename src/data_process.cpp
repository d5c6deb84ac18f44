#include "data_process.h"
