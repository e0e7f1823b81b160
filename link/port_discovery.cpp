// FindDevice: the search for the unit over the 32 candidate port names and
// the numbered ports above them that the system lists.
#include <cstdio>
#include <cstring>

#include "link/device_link.h"

namespace pantoline {

// Ports 1 to 30 are spelled "Com", 31 and 32 "COM": the names are stored in
// portName and the reset log, so their spelling is part of the output.
const char kCandidatePorts[kCandidatePortCount][kPortNameSlot] = {
    "\\\\.\\Com1",  "\\\\.\\Com2",  "\\\\.\\Com3",  "\\\\.\\Com4",  "\\\\.\\Com5",
    "\\\\.\\Com6",  "\\\\.\\Com7",  "\\\\.\\Com8",  "\\\\.\\Com9",  "\\\\.\\Com10",
    "\\\\.\\Com11", "\\\\.\\Com12", "\\\\.\\Com13", "\\\\.\\Com14", "\\\\.\\Com15",
    "\\\\.\\Com16", "\\\\.\\Com17", "\\\\.\\Com18", "\\\\.\\Com19", "\\\\.\\Com20",
    "\\\\.\\Com21", "\\\\.\\Com22", "\\\\.\\Com23", "\\\\.\\Com24", "\\\\.\\Com25",
    "\\\\.\\Com26", "\\\\.\\Com27", "\\\\.\\Com28", "\\\\.\\Com29", "\\\\.\\Com30",
    "\\\\.\\COM31", "\\\\.\\COM32",
};

bool DeviceLink::TryPort(const char* name) {
  SerialPort* const port = Open(name);
  if (port == nullptr) {
    return false;  // lastResult keeps Open's code
  }
  portHandle = port;
  if (Handshake() == QV5SUCCESS) {
    PurgeBoth();
    connected = true;
    lastResult = QV5SUCCESS;
    std::memcpy(portName, name, std::strlen(name) + 1);
    return true;
  }
  // Closed with the platform's close, not ~DeviceLink's: the link keeps
  // its serial number.
  ClosePort();
  lastResult = QV5NOTFOUND;
  return false;
}

ResultCode DeviceLink::FindDevice() {
  // A search starts from no port: one left open would be leaked by the
  // first handle stored below.
  ClosePort();
  // kSearching is what lets Handshake greet on every port.
  mode = LinkMode::kSearching;
  // The candidates, then the ports numbered above them, as USB and
  // Bluetooth adapters often are.
  char names[kMaxSearchedPorts][kPortNameSlot];
  const int count = SearchOrder(ports_, names, kMaxSearchedPorts);
  for (int i = 0; i < count; ++i) {
    if (TryPort(names[i])) {
      return QV5SUCCESS;
    }
    if (StopRequested()) {
      break;
    }
  }
  return lastResult;
}

ResultCode DeviceLink::FindDeviceOn(const char* name) {
  ClosePort();
  mode = LinkMode::kSearching;
  if (std::strlen(name) >= sizeof portName) {
    return lastResult = QV5INVALIDHANDLEVALUE;
  }
  return TryPort(name) ? QV5SUCCESS : lastResult;
}

int DeviceLink::SearchOrder(SerialPorts& ports, char (*names)[kPortNameSlot], int capacity) {
  int count = 0;
  for (const char* name : kCandidatePorts) {
    if (count < capacity) {
      std::memcpy(names[count++], name, kPortNameSlot);
    }
  }
  int numbers[kMaxExtraPorts];
  const int extra = ports.ExtraPortNumbers(numbers, kMaxExtraPorts);
  for (int i = 0; i < extra && count < capacity; ++i) {
    if (numbers[i] > kCandidatePortCount &&
        std::snprintf(names[count], kPortNameSlot, "\\\\.\\COM%d", numbers[i]) < kPortNameSlot) {
      ++count;
    }
  }
  return count;
}

}  // namespace pantoline
