#include "link/result_code.h"

#include <cstring>

namespace pantoline {
namespace {

// Indexed by code. The blanks after each colon (one or two) are part of the
// unit's documented texts and of every reset log ever written: keep them.
constexpr const char* kTexts[] = {
    "QV5SUCCESS: Successful",
    "QV5INVALIDPORT: Com Port is Incorrect",
    "QV5NOTFOUND:  The QV5 was not Found",
    "QV5NOCONNECTION: No port connection found",
    "QV5NORESPONSE: QV5 did not respond",
    "QV5INVALIDRESPONSE:  QV5 responded incorrectly",
    "QV5INCORRECTMODE:  QV5 is not in correct mode for this command",
    "QV5INVALIDPASSWORD: Invalid Update Password",
    "QV5UNKNOWNERROR:  Unknown Error",
    "QV5INVALIDESN:  The ESN is Invalid",
    "QV5INVALIDBAUDRATE: The baud rate is invalid",
    "QV5STARNOTFOUND:  Did not read *",
    "QV5FILENOTSENT:  The file could not be sent",
    "QV5COMMANDNOTSENT: Command could not be sent",
    "QV5COMMANDNOTRECEIVED:  Command not received",
    "QV5INVALIDFILE:  Invalid File",
    "QV5INVALIDSOFTWAREVERSION:  Invalid Software Version",
    "QV5INVALIDGPSVERSION:  Invalid GPS Version",
    "QV5INVALIDBOOTCODEVERSION: Invalid Boot Code Version",
    "QV5GETOVERLAPPEDRESULTERROR:  Get Overlapped Result Error (com function)",
    "QV5WAITFORSINGLEOBJECTERROR:  Wait for single object error (com function)",
    nullptr,  // QV5CREATEEVENTERROR
    "QV5XMODEMSYNCERROR:  XModem Failure No Sync",
    "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel",
    "QV5XMODEMTOOMANYRETURNERRORS:  XModem Failure Too Many Retries",
    "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error",
    "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value ",
    "QV5GETCOMMSTATEERROR: Com State could not be retrieved (com function)",
    "QV5SETCOMMTIMEOUTERROR: Set Com Time Out error (com function)",
    "QV5SETCOMSTATEERROR: Set Com State error (com function)",
    "QV5NULLFUNCTIONPOINTER: Null Function Pointer (progess monitor)",
    "QV5GPSALLOFFNOTSENT:  The All Off Command was not sent correctly to the GPS (GPS Passthrough)",
    "QV5GPSUPDATEFIRMWARENOTSENT:  The Update Firmware Command not sent correctly to the GPS (GPS Passthrough)",
};
static_assert(sizeof kTexts / sizeof kTexts[0] == 33);

constexpr const char kSpace[] = "SPACE";
constexpr const char kUndefined[] = "Undefined error";

void Put(const char* source, char* text) {
  std::memcpy(text, source, std::strlen(source) + 1);
}

}  // namespace

bool DescribeResult(ResultCode code, char* text) {
  if (code == -1) {
    Put(kSpace, text);
    return true;
  }
  if (code >= 0 && code <= QV5GPSUPDATEFIRMWARENOTSENT && kTexts[code] != nullptr) {
    Put(kTexts[code], text);
    return true;
  }
  Put(kUndefined, text);
  return false;
}

}  // namespace pantoline
