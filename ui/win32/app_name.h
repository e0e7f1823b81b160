// How the application's name follows from the executable's path.
#pragma once

#include <string>
#include <string_view>

namespace pantoline::ui {

// The file name of `modulePath` without its folder and without its
// extension (the part from the last full stop on): "C:\Tools\Reset2.exe"
// gives "Reset2", "C:\a.b\Pantoline.v2.exe" gives "Pantoline.v2". Both
// kinds of slash and a drive's colon end a folder.
std::string AppNameFromPath(std::string_view modulePath);

// The name of the running executable, as above.
std::string ModuleAppName();

}  // namespace pantoline::ui
