#include "buftool.h"
