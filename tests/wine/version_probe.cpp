// version_probe EXE: reads EXE's version resource and application manifest
// the way Windows does for the file's properties and at start-up, and
// checks what Pantoline.exe must carry. Prints each fault; exit status 0
// when there is none.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int faults = 0;

void Expect(bool ok, const char* what, const std::string& got) {
  if (!ok) {
    std::printf("FAIL: %s (got \"%s\")\n", what, got.c_str());
    ++faults;
  }
}

std::string Value(std::vector<char>& info, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  return VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) &&
                 text != nullptr
             ? std::string(text)
             : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD handle = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(argv[1], &handle));
  if (info.empty() ||
      !GetFileVersionInfoA(argv[1], 0, static_cast<DWORD>(info.size()), info.data())) {
    std::printf("FAIL: %s has no version information\n", argv[1]);
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length);
  Expect(fixed != nullptr && fixed->dwProductVersionMS == 0x00010000 &&
             fixed->dwFileVersionMS == 0x00010000,
         "fixed file and product versions 1.0", "");
  Expect(Value(info, "ProductName") == "Pantoline", "ProductName", Value(info, "ProductName"));
  Expect(Value(info, "ProductVersion") == "1.0", "ProductVersion", Value(info, "ProductVersion"));
  Expect(Value(info, "FileVersion") == "1.0", "FileVersion", Value(info, "FileVersion"));
  Expect(!Value(info, "FileDescription").empty(), "a FileDescription", "");

  std::string manifest;
  if (HMODULE exe = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    if (HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
      manifest.assign(static_cast<const char*>(LockResource(LoadResource(exe, found))),
                      SizeofResource(exe, found));
    }
    FreeLibrary(exe);
  }
  for (const char* part :
       {"level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true</dpiAware>"}) {
    Expect(manifest.find(part) != std::string::npos, part, manifest.empty() ? "no manifest" : "");
  }
  return faults == 0 ? 0 : 1;
}
