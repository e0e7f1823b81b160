// The resource script and the code must name the same resources and
// controls; a mismatch would only show as a control the code cannot find.
#include "ui/resource_ids.h"
#include "ui/win32/resource.h"

namespace pantoline::ui {

static_assert(IDD_ABOUTBOX == PANTOLINE_IDD_ABOUTBOX);
static_assert(IDS_ABOUTBOX == PANTOLINE_IDS_ABOUTBOX);
static_assert(IDD_RESET_DIALOG == PANTOLINE_IDD_RESET_DIALOG);
static_assert(IDR_MAINFRAME == PANTOLINE_IDR_MAINFRAME);
static_assert(IDC_STATUS == PANTOLINE_IDC_STATUS);
static_assert(IDC_PROGRESS == PANTOLINE_IDC_PROGRESS);
static_assert(IDC_BROWSE == PANTOLINE_IDC_BROWSE);
static_assert(IDC_FILE == PANTOLINE_IDC_FILE);
static_assert(IDC_INSTRUCTIONS == PANTOLINE_IDC_INSTRUCTIONS);
static_assert(IDC_PORTS == PANTOLINE_IDC_PORTS);
static_assert(IDC_STATIC == PANTOLINE_IDC_STATIC);
// The standard buttons keep the platform's numbers (1 and 2), which the
// script takes from the Windows headers.
static_assert(IDOK == 1 && IDCANCEL == 2);

}  // namespace pantoline::ui
