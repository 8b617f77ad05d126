#pragma once

#include "mfc/commctrl.h"
