// The program's entry: the C runtime calls main for the windowed program
// as well; the global application object was constructed before.
#include "ui/application.h"

int main(int argc, char** argv) {
  pantoline::ui::Application* application = pantoline::ui::Application::Current();
  return application != nullptr ? application->Run(argc, argv) : 1;
}
