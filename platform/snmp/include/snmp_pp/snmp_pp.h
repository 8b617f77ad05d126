// SNMPv1 manager classes: values, addresses, bindings, Pdus, targets and the
// Snmp session. Include this one header.
#pragma once

#include "snmp_pp/smi.h"
#include "snmp_pp/values.h"
#include "snmp_pp/address.h"
#include "snmp_pp/vb.h"
#include "snmp_pp/pdu.h"
#include "snmp_pp/target.h"
#include "snmp_pp/uxsnmp.h"
