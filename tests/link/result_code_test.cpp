#include "link/result_code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace pantoline {
namespace {

// Every text the reset log can show, written out once more by hand. The
// blanks after the colons (one or two), the trailing blank of 26 and
// "progess" in 30 are as every log has always had them.
constexpr std::pair<ResultCode, const char*> kDescribed[] = {
    {-1, "SPACE"},
    {0, "QV5SUCCESS: Successful"},
    {1, "QV5INVALIDPORT: Com Port is Incorrect"},
    {2, "QV5NOTFOUND:  The QV5 was not Found"},
    {3, "QV5NOCONNECTION: No port connection found"},
    {4, "QV5NORESPONSE: QV5 did not respond"},
    {5, "QV5INVALIDRESPONSE:  QV5 responded incorrectly"},
    {6, "QV5INCORRECTMODE:  QV5 is not in correct mode for this command"},
    {7, "QV5INVALIDPASSWORD: Invalid Update Password"},
    {8, "QV5UNKNOWNERROR:  Unknown Error"},
    {9, "QV5INVALIDESN:  The ESN is Invalid"},
    {10, "QV5INVALIDBAUDRATE: The baud rate is invalid"},
    {11, "QV5STARNOTFOUND:  Did not read *"},
    {12, "QV5FILENOTSENT:  The file could not be sent"},
    {13, "QV5COMMANDNOTSENT: Command could not be sent"},
    {14, "QV5COMMANDNOTRECEIVED:  Command not received"},
    {15, "QV5INVALIDFILE:  Invalid File"},
    {16, "QV5INVALIDSOFTWAREVERSION:  Invalid Software Version"},
    {17, "QV5INVALIDGPSVERSION:  Invalid GPS Version"},
    {18, "QV5INVALIDBOOTCODEVERSION: Invalid Boot Code Version"},
    {19, "QV5GETOVERLAPPEDRESULTERROR:  Get Overlapped Result Error (com function)"},
    {20, "QV5WAITFORSINGLEOBJECTERROR:  Wait for single object error (com function)"},
    {21, "Undefined error"},
    {22, "QV5XMODEMSYNCERROR:  XModem Failure No Sync"},
    {23, "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel"},
    {24, "QV5XMODEMTOOMANYRETURNERRORS:  XModem Failure Too Many Retries"},
    {25, "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error"},
    {26, "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value "},
    {27, "QV5GETCOMMSTATEERROR: Com State could not be retrieved (com function)"},
    {28, "QV5SETCOMMTIMEOUTERROR: Set Com Time Out error (com function)"},
    {29, "QV5SETCOMSTATEERROR: Set Com State error (com function)"},
    {30, "QV5NULLFUNCTIONPOINTER: Null Function Pointer (progess monitor)"},
    {31, "QV5GPSALLOFFNOTSENT:  The All Off Command was not sent correctly to the GPS "
         "(GPS Passthrough)"},
    {32, "QV5GPSUPDATEFIRMWARENOTSENT:  The Update Firmware Command not sent correctly to the "
         "GPS (GPS Passthrough)"},
    {-2, "Undefined error"},
    {33, "Undefined error"},
};

TEST(DescribeResult, WritesEachCodesTextAndItsTerminatorOnly) {
  for (const auto& [code, expected] : kDescribed) {
    char text[kResultTextCapacity + 8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(DescribeResult(code, text), std::string(expected) != "Undefined error") << code;
    EXPECT_EQ(std::string(text, std::strlen(expected) + 2), std::string(expected) + '\0' + '#');
  }
  // The longest text and its terminator fill the capacity callers give.
  EXPECT_EQ(std::strlen(kDescribed[33].second) + 1, kResultTextCapacity);
}

}  // namespace
}  // namespace pantoline
