// version_probe EXE: reads EXE's version resource and application manifest
// the way Windows does for the file's properties and at start-up, and
// checks what Pantoline.exe must carry. Prints each fault; exit status 0
// when there is none.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD handle = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(argv[1], &handle) + 1);
  GetFileVersionInfoA(argv[1], 0, static_cast<DWORD>(info.size()), info.data());
  const auto value = [&info](const std::string& path) {
    char* text = nullptr;
    UINT length = 0;
    return VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) && text
               ? std::string(text)
               : std::string();
  };
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length);
  std::string manifest;
  if (HMODULE exe = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    if (HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
      manifest.assign(static_cast<const char*>(LockResource(LoadResource(exe, found))),
                      SizeofResource(exe, found));
    }
    FreeLibrary(exe);
  }
  int faults = 0;
  const auto expect = [&faults](bool ok, const std::string& what) {
    faults += ok ? 0 : 1;
    if (!ok) std::printf("FAIL: %s\n", what.c_str());
  };
  expect(fixed && fixed->dwProductVersionMS == 0x00010000 && fixed->dwFileVersionMS == 0x00010000,
         "fixed file and product versions 1.0");
  const std::string strings = "\\StringFileInfo\\040904B0\\";
  for (const auto& [name, wanted] : {std::pair{"ProductName", "Pantoline"},
                                     {"ProductVersion", "1.0"}, {"FileVersion", "1.0"}}) {
    const std::string got = value(strings + name);
    expect(got == wanted, std::string(name) + " is \"" + got + "\"");
  }
  expect(!value(strings + "FileDescription").empty(), "a FileDescription");
  for (const char* part :
       {"level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true</dpiAware>"}) {
    expect(manifest.find(part) != std::string::npos, std::string("the manifest holds ") + part);
  }
  return faults == 0 ? 0 : 1;
}
