// The numbered serial ports that Windows lists, for the search beyond its
// 32 fixed names. Used by serial_port_win32.cpp.
#pragma once

namespace pantoline {

// The numbers n above 32 of the ports "COMn" that the system lists under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (where each serial driver enters the
// ports it made), ascending and without repeats; at most `capacity` of them
// go into `numbers`. Returns how many. Values that are not "COMn" with n
// from 33 to 256 are passed over. 0 when the key is absent.
int ListedPortNumbersAbove32(int* numbers, int capacity);

// Calls `port` with n and the device name its driver gave ("\Device\Serial0")
// for every value "COMn" under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the
// key's order; `device` lasts for the call. Nothing when the key is absent.
// Allocates nothing, so that the search may call it.
void ForEachListedPort(void (*port)(void* context, int number, const char* device), void* context);

// n of the `length` characters "COMn" (any letter case, n without leading
// zeros) at `text`, or 0 when they are not such a name.
int ComPortNumber(const char* text, unsigned long length);

}  // namespace pantoline
