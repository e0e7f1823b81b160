// The application object: runs the main dialog modally, then ends the
// program, which therefore lives exactly as long as the dialog.
#pragma once

#include "ui/application.h"

namespace pantoline {

class ResetApp : public ui::Application {
 public:
  bool InitInstance() override;
};

}  // namespace pantoline
