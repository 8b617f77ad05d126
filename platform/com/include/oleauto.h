// COM-shaped layer under its Windows header name.
#pragma once
#include "com/com.h"
