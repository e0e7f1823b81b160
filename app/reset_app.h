// The application object: runs the main dialog modally, then ends the
// program, which therefore lives exactly as long as the dialog.
#pragma once

#include "ui/application.h"

namespace pantoline {

class ResetApp : public ui::Application {
 public:
  // --help and --version; Pantoline takes nothing else.
  std::optional<int> HandleCommandLine(int argc, char** argv) override;
  bool InitInstance() override;
};

}  // namespace pantoline
