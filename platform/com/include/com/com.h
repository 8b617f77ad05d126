// Everything of the COM-shaped layer.
#pragma once
#include "com/activation.h"
#include "com/bstr.h"
#include "com/comerror.h"
#include "com/errorinfo.h"
#include "com/guid.h"
#include "com/ptr.h"
#include "com/registration.h"
#include "com/transport.h"
#include "com/unknown.h"
#include "com/variant.h"
