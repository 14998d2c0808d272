#pragma once

#include "link/upward.h"
