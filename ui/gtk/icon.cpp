#include "ui/dialog.h"
#include "ui/gtk/icon_paint.h"
#include "ui/gtk/toolkit.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {

Icon Icon::Load(int resourceId) {
  if (resourceId != IDR_MAINFRAME) {
    return {};
  }
  // Made once and kept for the life of the program, like a resource icon.
  static gtk::IconImages images{gtk::PaintIcon(32), gtk::PaintIcon(16)};
  return Icon(&images);
}

}  // namespace pantoline::ui
