#include "ui/gtk/layouts.h"

#include <string>

#include "ui/dialog.h"

namespace pantoline::ui {
namespace gtk {

const DialogLayout* FindLayout(int templateId) {
  for (const DialogLayout& layout : kDialogLayouts) {
    if (layout.templateId == templateId) {
      return &layout;
    }
  }
  return nullptr;
}

}  // namespace gtk

std::string LoadResourceString(int id) {
  for (const gtk::StringResource& string : gtk::kStringResources) {
    if (string.id == id) {
      return string.text;
    }
  }
  return {};
}

}  // namespace pantoline::ui
