// Resource and control ids of Restorix. The numbers are fixed: pages, the
// kernel and tests refer to them.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_RESTORIX_DIALOG 102
#define IDD_SELECT_DEVICE 129
#define IDD_PROGRESS 132
#define IDD_DR 133
#define IDD_PREVIEW 154
#define IDD_SEARCH 155

// Strings
#define IDS_ABOUTBOX 101

// Icons and bitmaps
#define IDI_RESTORIX 141
#define IDB_CHECKBOXES 134
#define IDI_FOLDER 147
#define IDI_FILE 148
#define IDI_FILE_DELETED 149
#define IDI_COMPUTER 150
#define IDI_PARTITION 151
#define IDI_FOLDER_OPEN 157

// System menu command of the about box
#define IDM_ABOUTBOX 0x0010

// Main window
#define IDC_TAB_DR 1000
#define IDC_MINIMIZE 1001
#define IDC_CLOSE 1002
#define IDC_TAB_PR 1003
#define IDC_TAB_FR 1004
#define IDC_TAB_PTR 1005
#define IDC_TAB_VR 1006
#define IDC_PROGRESS 1015

// Device page
#define IDC_PARTITION_LIST 1004
#define IDC_NEXT 1005

// Scan progress dialog
#define IDC_CANCEL_SCAN 1002

// Results, search and preview pages
#define IDC_BACK 1005
#define IDC_FILE_LIST 1007
#define IDC_FOLDER_TREE 1008
#define IDC_FOLDER_LABEL 1009
#define IDC_MARK_ALL 1011
#define IDC_RECOVER_PATH 1012
#define IDC_RECOVER 1013
#define IDC_BROWSE 1014
#define IDC_TEXT_BUTTON 1016
#define IDC_SEARCH 1017
#define IDC_HEX_VIEW 1017
#define IDC_PREVIEW 1018
#define IDC_HEX_BUTTON 1018
#define IDC_PICTURE_BUTTON 1019
#define IDC_TEXT_VIEW 1020
#define IDC_KEYWORD 1021
#define IDC_ADVANCE 1023
#define IDC_SEARCH_GROUP 1024
#define IDC_FOUND_COUNT 1025
#define IDC_PREVIEW_PATH 1026
#define IDC_NO_PREVIEW 1027
#define IDC_SETTINGS_GROUP 1028
#define IDC_RECOVER_PATH_LABEL 1029
#define IDC_KEYWORD_LABEL 1030
#define IDC_ABOUT_TEXT 1031
#define IDC_ABOUT_ICON 1032
// The device page's "open a disk image" button and menu item.
#define IDC_OPEN_IMAGE 1033
// The device page's line naming the scan mode (deep or format recovery).
#define IDC_MODE_LABEL 1040

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
