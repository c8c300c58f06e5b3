#pragma once
// Resource identifiers shared by the resource script and the main dialog.

// Dialogs, icon, banner.
#define IDD_ABOUTBOX 100
#define IDD_ROMSETTER_DIALOG 102
#define IDI_APP 128
#define IDB_BANNER 153

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_NO_EFFECT 104
#define IDS_TITLE 1028
#define IDS_BUILT 1029
#define IDS_TIP_UPGRADE 1040
#define IDS_TIP_BIG 1041
#define IDS_TIP_BOOT 1042
#define IDS_TIP_FONT_LIST 1043
#define IDS_TIP_REPORT 1044
#define IDS_TIP_PACK 1045
#define IDS_TIP_SMALL 1046
#define IDS_TIP_STATUS 1047

// System menu command of the About entry.
#define IDM_ABOUTBOX 16

// Controls of the main dialog.
#define IDC_BANNER 1000
// The banner's size in dialog units: the template's and the one the window gives it.
#define BANNER_WIDTH 273
#define BANNER_HEIGHT 52
#define IDC_NAND 1001
#define IDC_NOR 1002
#define IDC_FORMAT 1003
#define IDC_BACKUP 1004
#define IDC_LOAD_BOOT 1005
#define IDC_BOOT_BUTTON 1006
#define IDC_BOOT_LIST 1007
#define IDC_LOAD_FW 1008
#define IDC_BIG_BUTTON 1009
#define IDC_BIG_LIST 1010
#define IDC_SMALL_BUTTON 1011
#define IDC_SMALL_LIST 1012
#define IDC_LOAD_FONT 1013
#define IDC_FONT_BUTTON 1014
#define IDC_FONT_EDIT 1015
#define IDC_REPORT_BUTTON 1016
#define IDC_REPORT_EDIT 1017
#define IDC_PACK_BUTTON 1018
#define IDC_PACK_EDIT 1019
#define IDC_UPGRADE 1020
#define IDC_PROGRESS 1021
#define IDC_STATUS 1022
#define IDC_VERSION 1023
#define IDC_HELP_BUTTON 1024
#define IDC_USB_OFF 1025
#define IDC_EXTRACT 1026
#define IDC_ERASE_NOTICE 1027
// Laid out but hidden from start-up on and never shown.
#define IDC_PROGRESS2 1028
#define IDC_HIDDEN_TEXT1 1029
#define IDC_HIDDEN_TEXT2 1030
#define IDC_HIDDEN_TEXT3 1031
#define IDC_YES_BUTTON 1032
#define IDC_NO_BUTTON 1033
// The About box's lines.
#define IDC_ABOUT_VERSION 1100
#define IDC_ABOUT_BUILT 1101
