#pragma once

#include "unit/unit_info.h"
