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

int ListedPortNumbersAbove32(int* numbers, int capacity) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  int count = 0;
  for (DWORD index = 0; count < capacity; ++index) {
    char valueName[256];
    DWORD nameLength = sizeof valueName;
    char data[16];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ || dataSize == 0) {
      continue;  // a value too long to be a port name, or not text
    }
    // The stored text may or may not carry its terminator.
    const DWORD length = data[dataSize - 1] == '\0' ? dataSize - 1 : dataSize;
    const int number = ComPortNumber(data, length);
    if (number > 32 && number <= 256 && std::find(numbers, numbers + count, number) == numbers + count) {
      numbers[count++] = number;
    }
  }
  RegCloseKey(key);
  std::sort(numbers, numbers + count);
  return count;
}

}  // namespace pantoline
