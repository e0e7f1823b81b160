#include "ui/gtk/layouts.h"

#include <string>

#include "ui/dialog.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {
namespace gtk {
namespace {

// The main dialog: a progress bar framed by "Lodestria Reset Progress",
// the status line framed by the instructions, RESET and EXIT below them.
// The combo box, the file edit and "Browse" exist but are never shown.
constexpr ControlLayout kResetControls[] = {
    {IDOK, ControlKind::kButton, "RESET LODESTRIA", 56, 80, 104, 15, kVisible | kTabStop | kDefaultButton},
    {IDCANCEL, ControlKind::kButton, "EXIT", 199, 80, 54, 15, kVisible | kTabStop},
    {IDC_STATUS, ControlKind::kEdit, "", 14, 54, 287, 12, kVisible | kTabStop | kReadOnly | kCentred},
    {IDC_PROGRESS, ControlKind::kProgressBar, "Progress1", 15, 18, 286, 13, kVisible | kBorder},
    {IDC_STATIC, ControlKind::kGroupBox, "Lodestria Reset Progress", 7, 5, 301, 33, kVisible | kCentred},
    {IDC_INSTRUCTIONS, ControlKind::kGroupBox, "<<Please follow these Instructions>>", 7, 42, 301, 32,
     kVisible | kCentred},
    {IDC_PORTS, ControlKind::kComboBox, "", 245, 82, 16, 100, kTabStop},
    {IDC_FILE, ControlKind::kEdit, "", 264, 82, 6, 12, kBorder | kTabStop | kReadOnly | kCentred},
    {IDC_BROWSE, ControlKind::kButton, "Browse", 301, 82, 7, 13, kTabStop},
};

constexpr const char* kPortChoices[] = {
    "Scan Ports", "Com1",  "Com2",  "Com3",  "Com4",  "Com5",  "Com6",  "Com7",  "Com8",  "Com9",
    "Com10",      "Com11", "Com12", "Com13", "Com14", "Com15", "Com16", "Com17", "Com18",
};

constexpr ControlLayout kAboutControls[] = {
    {IDC_STATIC, ControlKind::kIcon, "", 11, 17, 20, 20, kVisible, IDR_MAINFRAME},
    {IDC_STATIC, ControlKind::kStaticText, "Pantoline Version 1.0", 40, 10, 119, 8, kVisible},
    {IDOK, ControlKind::kButton, "OK", 178, 7, 50, 14, kVisible | kTabStop | kDefaultButton},
};

constexpr DialogLayout kLayouts[] = {
    {IDD_RESET_DIALOG, "Lodestria - Reset Lodestria", 315, 102, 8, kResetControls, IDC_PORTS,
     kPortChoices},
    {IDD_ABOUTBOX, "About Pantoline", 235, 55, 8, kAboutControls},
};

}  // namespace

const DialogLayout* FindLayout(int templateId) {
  for (const DialogLayout& layout : kLayouts) {
    if (layout.templateId == templateId) {
      return &layout;
    }
  }
  return nullptr;
}

}  // namespace gtk

std::string LoadResourceString(int id) {
  if (id == IDS_ABOUTBOX) {
    return "&About Pantoline...";
  }
  return {};
}

}  // namespace pantoline::ui
