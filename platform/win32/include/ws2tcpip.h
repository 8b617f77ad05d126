// WinSock 2 TCP/IP extras: getaddrinfo and socklen_t come from the Linux headers.
#pragma once

#include "winsock2.h"
