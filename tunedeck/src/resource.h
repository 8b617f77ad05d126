// Dialog templates and control ids of the library. Templates are registered
// under the library's own names, so that they never replace a template of
// the program that loads the library.
#pragma once

#define IDD_MANAGEMENT "Tunedeck.155"

#define IDC_BUNDLE_LIST 1000
#define IDC_DEVICE_IP 1001
#define IDC_CONDUCTOR 1002
#define IDC_VERSION_TEXT 1003
#define IDC_CONFIGURE 1004
#define IDC_ADVANCED 1005
#define IDC_REPORT 1006
#define IDC_SNMP 1007
#define IDC_REFRESH 1008

// Registers the templates (once; later calls do nothing).
void RegisterTunedeckResources();
