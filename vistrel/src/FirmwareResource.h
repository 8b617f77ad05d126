// Resource ids of the firmware update dialogs: the Select Firmware Version
// dialog (template 132) and the progress dialog (template 142).
#pragma once

#define IDD_SELECT_VERSION 132
#define IDD_FIRMWARE_PROGRESS 142

// Select Firmware Version
#define IDC_SHOW_ALL_VERSIONS 1016
#define IDC_APPLY_TO_ALL 1017
#define IDC_VERSION_LIST 1024
#define IDC_CURRENT_VERSION 1025
#define IDC_UPDATE_VERSION 1026
#define IDC_BOOT_IF_NECESSARY 1052
#define IDC_BOOT_IF_DIFFERENT 1053
#define IDC_BOOT_ALWAYS 1054
#define IDC_BOOT_GROUP 1056
#define IDC_CODE_IF_DIFFERENT 1057
#define IDC_CODE_ALWAYS 1058
#define IDC_CODE_GROUP 1059
#define IDC_CONFIG_GROUP 1061
#define IDC_CONFIG_NEVER 1062
#define IDC_CONFIG_IF_DIFFERENT 1063
#define IDC_CONFIG_ALWAYS 1064
#define IDC_CONFIG_AUTOMATIC 1065

// Progress
#define IDC_PROGRESS_BAR 1005
#define IDC_PROGRESS_STATUS 1038

// Registers templates 132 and 142; called with the console's other resources.
void RegisterFirmwareResources();
