#include "link/port_numbers_win32.h"

#include <windows.h>

#include <algorithm>

namespace pantoline {

int ComPortNumber(const char* text, unsigned long length) {
  if (length < 4 || length > 6 || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text, 3, "COM", 3) !=
                                      CSTR_EQUAL) {
    return 0;
  }
  int number = 0;
  for (DWORD i = 3; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return 0;
    }
    number = number * 10 + (text[i] - '0');
  }
  return text[3] == '0' ? 0 : number;
}

void ForEachListedPort(void (*port)(void* context, int number, const char* device), void* context) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    char device[256];
    DWORD deviceLength = sizeof device;
    char data[16];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, index, device, &deviceLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ || dataSize == 0) {
      continue;  // a value too long to be a port name, or not text
    }
    // The stored text may or may not carry its terminator.
    const DWORD length = data[dataSize - 1] == '\0' ? dataSize - 1 : dataSize;
    if (const int number = ComPortNumber(data, length); number > 0) {
      port(context, number, device);
    }
  }
  RegCloseKey(key);
}

int ListedPortNumbersAbove32(int* numbers, int capacity) {
  struct Found {
    int* numbers;
    int capacity;
    int count;
  } found{numbers, capacity, 0};
  ForEachListedPort(
      [](void* context, int number, const char*) {
        Found& f = *static_cast<Found*>(context);
        if (f.count < f.capacity && number > 32 && number <= 256 &&
            std::find(f.numbers, f.numbers + f.count, number) == f.numbers + f.count) {
          f.numbers[f.count++] = number;
        }
      },
      &found);
  std::sort(numbers, numbers + found.count);
  return found.count;
}

}  // namespace pantoline
