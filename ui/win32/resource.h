/* Identifiers of the program's resources for the resource script, which
   cannot read the C++ declarations of ui/resource_ids.h; resource_check.cpp
   makes sure that both name the same values. */
#ifndef PANTOLINE_UI_WIN32_RESOURCE_H
#define PANTOLINE_UI_WIN32_RESOURCE_H

#define PANTOLINE_IDD_ABOUTBOX 100
#define PANTOLINE_IDS_ABOUTBOX 101
#define PANTOLINE_IDD_RESET_DIALOG 102
#define PANTOLINE_IDR_MAINFRAME 128

#define PANTOLINE_IDC_STATUS 1000
#define PANTOLINE_IDC_PROGRESS 1001
#define PANTOLINE_IDC_BROWSE 1003
#define PANTOLINE_IDC_FILE 1004
#define PANTOLINE_IDC_INSTRUCTIONS 1005
#define PANTOLINE_IDC_PORTS 1007
#define PANTOLINE_IDC_STATIC (-1)

#endif
