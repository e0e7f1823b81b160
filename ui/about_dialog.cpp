#include "ui/about_dialog.h"

#include "ui/resource_ids.h"

namespace pantoline::ui {

AboutDialog::AboutDialog() : Dialog(IDD_ABOUTBOX) {}

}  // namespace pantoline::ui
