#include "app/reset_app.h"

#include "ui/reset_dialog.h"

namespace pantoline {

bool ResetApp::InitInstance() {
  EnableControlContainer();
  ui::ResetDialog dialog;
  SetMainWindow(&dialog);
  dialog.DoModal();  // how it ended changes nothing
  SetMainWindow(nullptr);
  return false;
}

// The one application object, constructed before the toolkit's entry runs.
ResetApp theApp;

}  // namespace pantoline
