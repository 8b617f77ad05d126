// Dialog templates and control ids of the library. Templates are registered
// under the library's own names, so that they never replace a template of
// the program that loads the library.
#pragma once

#define IDD_MANAGEMENT "Tunedeck.155"
#define IDD_TRANSMITTER "Tunedeck.157"
#define IDD_RECEIVER "Tunedeck.176"
#define IDD_ADVANCED "Tunedeck.172"
#define IDD_GENERIC_SNMP "Tunedeck.179"
#define IDD_SAVE_REPORTS "Tunedeck.174"
#define IDD_SAVE_REPORT "Tunedeck.171"

// Main device dialog.
#define IDC_BUNDLE_LIST 1000
#define IDC_DEVICE_IP 1001
#define IDC_CONDUCTOR 1002
#define IDC_VERSION_TEXT 1003
#define IDC_CONFIGURE 1004
#define IDC_ADVANCED 1005
#define IDC_REPORT 1006
#define IDC_SNMP 1007
#define IDC_REFRESH 1008
#define IDC_APPLY 1009

// Transmitter and receiver dialogs; the channel rows count up from the first id.
#define IDC_BUNDLE_NUMBER 1100
#define IDC_SUBCOUNT 1101
#define IDC_UNICAST_MODE 1102
#define IDC_MAX_UNICAST 1103
#define IDC_ALL_SAME 1104
#define IDC_CLEAR_ALL 1105
#define IDC_SUBMAP_FIRST 1110    // 8 edits
#define IDC_SUBFORMAT_FIRST 1120 // 8 combos (transmitter) or texts (receiver)
#define IDC_PICTURE_FIRST 1130   // 8 pictures (receiver)

// Advanced dialog.
#define IDC_PERSISTENCE 1200
#define IDC_NAME 1201
#define IDC_LOCATION 1202
#define IDC_CONTACT 1203
#define IDC_COND_PRIORITY 1204
#define IDC_SERIAL_FORMAT 1205
#define IDC_SERIAL_BAUD 1206
#define IDC_SERIAL_PPERIOD 1207
#define IDC_SERIAL_RXMAC 1208
#define IDC_SERIAL_TXMAC 1209
#define IDC_MODE_RATE 1210
#define IDC_PROC_MODE 1211
#define IDC_TAG_ENABLE 1212
#define IDC_HMI_MODE 1213
#define IDC_NETMASK 1214
#define IDC_FREE_CYCLES 1215

// Generic SNMP dialog; one variable combo per group.
#define IDC_GROUP 1300
#define IDC_TYPE 1301
#define IDC_RO 1302
#define IDC_OID 1303
#define IDC_VALUE 1304
#define IDC_X 1305
#define IDC_Y 1306
#define IDC_GET 1307
#define IDC_PUT 1308
#define IDC_FORM_OID 1309
#define IDC_RESET_OID 1310
#define IDC_VARIABLE_FIRST 1320 // 13 combos

// Report dialogs ("Exit" is IDCANCEL).
#define IDC_REPORT_FOLDER 1400
#define IDC_REPORT_FILE 1401
#define IDC_BROWSE 1402
#define IDC_WRITE 1403
#define IDC_REPORT_ALL 1404
#define IDC_REPORT_STATUS 1405
#define IDC_REPORT_PROGRESS 1406

// Registers the templates (once; later calls do nothing).
void RegisterTunedeckResources();
