#include "link/result_code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pantoline {
namespace {

// Every text the reset log can show, written out once more by hand. The
// blanks after the colons (one or two), the trailing blank of 26 and
// "progess" in 30 are as every log has always had them.
struct Described {
  ResultCode code;
  const char* text;
  bool known;
};
constexpr Described kDescribed[] = {
    {-1, "SPACE", true},
    {0, "QV5SUCCESS: Successful", true},
    {1, "QV5INVALIDPORT: Com Port is Incorrect", true},
    {2, "QV5NOTFOUND:  The QV5 was not Found", true},
    {3, "QV5NOCONNECTION: No port connection found", true},
    {4, "QV5NORESPONSE: QV5 did not respond", true},
    {5, "QV5INVALIDRESPONSE:  QV5 responded incorrectly", true},
    {6, "QV5INCORRECTMODE:  QV5 is not in correct mode for this command", true},
    {7, "QV5INVALIDPASSWORD: Invalid Update Password", true},
    {8, "QV5UNKNOWNERROR:  Unknown Error", true},
    {9, "QV5INVALIDESN:  The ESN is Invalid", true},
    {10, "QV5INVALIDBAUDRATE: The baud rate is invalid", true},
    {11, "QV5STARNOTFOUND:  Did not read *", true},
    {12, "QV5FILENOTSENT:  The file could not be sent", true},
    {13, "QV5COMMANDNOTSENT: Command could not be sent", true},
    {14, "QV5COMMANDNOTRECEIVED:  Command not received", true},
    {15, "QV5INVALIDFILE:  Invalid File", true},
    {16, "QV5INVALIDSOFTWAREVERSION:  Invalid Software Version", true},
    {17, "QV5INVALIDGPSVERSION:  Invalid GPS Version", true},
    {18, "QV5INVALIDBOOTCODEVERSION: Invalid Boot Code Version", true},
    {19, "QV5GETOVERLAPPEDRESULTERROR:  Get Overlapped Result Error (com function)", true},
    {20, "QV5WAITFORSINGLEOBJECTERROR:  Wait for single object error (com function)", true},
    {21, "Undefined error", false},
    {22, "QV5XMODEMSYNCERROR:  XModem Failure No Sync", true},
    {23, "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel", true},
    {24, "QV5XMODEMTOOMANYRETURNERRORS:  XModem Failure Too Many Retries", true},
    {25, "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error", true},
    {26, "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value ", true},
    {27, "QV5GETCOMMSTATEERROR: Com State could not be retrieved (com function)", true},
    {28, "QV5SETCOMMTIMEOUTERROR: Set Com Time Out error (com function)", true},
    {29, "QV5SETCOMSTATEERROR: Set Com State error (com function)", true},
    {30, "QV5NULLFUNCTIONPOINTER: Null Function Pointer (progess monitor)", true},
    {31, "QV5GPSALLOFFNOTSENT:  The All Off Command was not sent correctly to the GPS "
         "(GPS Passthrough)", true},
    {32, "QV5GPSUPDATEFIRMWARENOTSENT:  The Update Firmware Command not sent correctly to the "
         "GPS (GPS Passthrough)", true},
    {-2, "Undefined error", false},
    {33, "Undefined error", false},
};

TEST(DescribeResult, WritesEachCodesTextAndItsTerminatorOnly) {
  for (const Described& d : kDescribed) {
    char text[kResultTextCapacity + 8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(DescribeResult(d.code, text), d.known) << d.code;
    EXPECT_EQ(std::string(text, std::strlen(d.text) + 2), std::string(d.text) + '\0' + '#');
  }
  // The longest text and its terminator fill the capacity callers give.
  EXPECT_EQ(std::strlen(kDescribed[33].text) + 1, kResultTextCapacity);
}

}  // namespace
}  // namespace pantoline
