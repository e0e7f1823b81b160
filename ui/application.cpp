// The application object's registry, the same on every desktop; each
// toolkit layer supplies Run.
#include "ui/application.h"

namespace pantoline::ui {
namespace {

// Constant-initialised, so that it is null before any constructor runs,
// whatever the order of static initialisation.
Application* current = nullptr;

}  // namespace

Application::Application() { current = this; }

Application::~Application() {
  if (current == this) {
    current = nullptr;
  }
}

Application* Application::Current() { return current; }

}  // namespace pantoline::ui
