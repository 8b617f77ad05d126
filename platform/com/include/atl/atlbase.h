// ATL-shaped layer (see atl/atlcom.h).
#pragma once
#include "atl/atlcom.h"
