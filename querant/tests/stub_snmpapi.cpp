// A utility library that lacks most of its entry points.
#include <snmp.h>

#include <cstdlib>

extern "C" LPVOID SnmpUtilMemAlloc(UINT bytes) { return std::calloc(1, bytes ? bytes : 1); }
