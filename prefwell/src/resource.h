// Resource ids of the options program.
#pragma once

#define IDD_PREFWELL_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_READ_COMMUNITY 1000
#define IDC_TIMEOUT 1001
#define IDC_WRITE_COMMUNITY 1002
#define IDC_HOLDOFF 1003
#define IDC_RETRIES 1004
#define IDC_ENABLE_CONFIG 1006
#define IDC_ENABLE_SNMP 1007
#define IDC_ENABLE_23MS 1008
#define IDC_ENABLE_REPORT 1009
#define IDC_ENABLE_ADVANCED 1010

// Registers the dialog template and the icon; call once the Qt application exists.
void RegisterPrefwellResources();
