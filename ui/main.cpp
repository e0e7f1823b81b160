// The program's entry on every desktop: the toolkit's, run on the one
// application object, constructed before. The C runtime calls main for
// the windowed Windows program as well. In an object of its own, so that
// a program with a main() of its own (a test) can link the toolkit layer
// without it.
#include "ui/application.h"

int main(int argc, char** argv) {
  pantoline::ui::Application* app = pantoline::ui::Application::Current();
  return app != nullptr ? app->Run(argc, argv) : 1;
}
