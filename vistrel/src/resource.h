// Resource ids of the console: templates, menus, icons, controls, commands.
#pragma once

// Templates, menu, accelerators, icons, animation
#define IDD_ABOUTBOX 100
#define IDD_VISTREL_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_COLUMN_EDIT 133
#define IDD_IP_ASSIGN 134
#define IDI_OFFLINE 136
#define IDI_ONLINE 138
#define IDR_MAIN_MENU 145
#define IDR_ANIMATION 151
#define IDR_ACCELERATORS 154
#define IDD_OPTIONS "Options"
#define IDD_COLUMN_CHOOSER "Column Chooser"

// Main dialog
#define IDC_DEVICE_LIST 1000
#define IDC_STATUS_SPARE 1043
#define IDC_DEVICE_COUNT 1040
#define IDC_ACTIVE_COUNT 1041
#define IDC_DEAD_COUNT 1042
#define IDC_LIST_HEADER 1500
#define ID_HEADER_FIRST 1600
#define ID_HEADER_LAST 1700

// Commands
#define ID_EDIT_COPY_ROWS 1001
#define ID_NEW_IP_ADDRESS 1002
#define ID_UPDATE_FIRMWARE 1003
#define ID_VIEW_REFRESH 32781
#define ID_VIEW_COLUMN_CHOOSER 32782
#define ID_HELP_ABOUT 32784
#define ID_VELTRIX_CLOSE 32785
#define ID_EDIT_SELECT_ALL 32786
#define ID_TOOLS_CONFIGURE 32787
#define ID_TOOLS_REPORT 32788
#define ID_TOOLS_OPTIONS 32789

// About box
#define IDC_ABOUT_TEXT 1049
#define IDC_ANIMATION 2500

// Options
#define IDC_ADAPTER 1007
#define IDC_IP_END 1008
#define IDC_AUTO_ASSIGN 1009
#define IDC_RANGE_DEFAULT 1010
#define IDC_FIRMWARE_FOLDER 1011
#define IDC_FOLDER_DEFAULT 1012
#define IDC_FOLDER_BROWSE 1013
#define IDC_IP_START 1014

// Column Chooser
#define IDC_WATCH_LIST 1001
#define IDC_MOVE_TO_WATCH 1030
#define IDC_MOVE_TO_AVAILABLE 1031
#define IDC_DEFAULT_COLUMNS 1032
#define IDC_ADD_COLUMN 1033
#define IDC_DELETE_COLUMN 1034
#define IDC_AVAILABLE_LIST 1035
#define IDC_EDIT_COLUMN 1050

// Column editor
#define IDC_COLUMN_NAME 1028
#define IDC_COLUMN_OID 1029
#define IDC_COLUMN_GROUP 1051

// IP assignment
#define IDC_NEW_ADDRESS 1006

// Registers templates, menus, accelerators and icons; call once the Qt
// application exists.
void RegisterVistrelResources();
