#include "link/upward.h"
#include "unit/unit_info.h"
