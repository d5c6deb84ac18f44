#include "startcheck.h"
