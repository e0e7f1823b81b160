// The about box: the icon, "Pantoline Version 1.0" and OK. Everything it
// does is the base dialog's.
#pragma once

#include "ui/dialog.h"

namespace pantoline::ui {

class AboutDialog : public Dialog {
 public:
  AboutDialog();
};

}  // namespace pantoline::ui
