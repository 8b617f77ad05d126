// The whole foundation library (the automation-string conversions are in qm/bstr.h).
#pragma once

#include "qm/address.h"
#include "qm/console.h"
#include "qm/errorcode.h"
#include "qm/exception.h"
#include "qm/file.h"
#include "qm/handle.h"
#include "qm/log_file.h"
#include "qm/socket.h"
#include "qm/strings.h"
#include "qm/thread.h"
