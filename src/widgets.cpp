#include "widgets.h"
