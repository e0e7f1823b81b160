#include "ui/win32/app_name.h"

#include "ui/win32/win32.h"

namespace pantoline::ui {

std::string AppNameFromPath(std::string_view modulePath) {
  const std::size_t folderEnd = modulePath.find_last_of("\\/:");
  std::string_view name =
      folderEnd == std::string_view::npos ? modulePath : modulePath.substr(folderEnd + 1);
  const std::size_t extension = name.rfind('.');
  if (extension != std::string_view::npos) {
    name = name.substr(0, extension);
  }
  return std::string(name);
}

std::string ModuleAppName() {
  // A path cut short by the call would lose its extension: grow the buffer
  // until the whole path fits (up to the longest path the system has).
  constexpr std::size_t kLongestPath = 32'768;
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size() || path.size() >= kLongestPath) {
      path.resize(length);
      return AppNameFromPath(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace pantoline::ui
