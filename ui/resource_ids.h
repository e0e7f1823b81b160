// Identifiers of the program's resources and controls. They name the same
// things in the Windows resource script and in the Linux layouts.
#pragma once

namespace pantoline::ui {

// Dialog templates, strings and icons.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;  // "&About Pantoline..."
inline constexpr int IDD_RESET_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;  // the application icon

// Commands of the standard buttons.
inline constexpr int IDOK = 1;      // RESET LODESTRIA
inline constexpr int IDCANCEL = 2;  // EXIT, Escape, the Close item

// Controls of the main dialog.
inline constexpr int IDC_STATUS = 1000;
inline constexpr int IDC_PROGRESS = 1001;
inline constexpr int IDC_BROWSE = 1003;
inline constexpr int IDC_FILE = 1004;
inline constexpr int IDC_INSTRUCTIONS = 1005;
inline constexpr int IDC_PORTS = 1007;
inline constexpr int IDC_STATIC = -1;

// The About item of the system menu. The platform uses the low four bits
// of system commands itself, so they are ignored when matching it.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

}  // namespace pantoline::ui
