#include "link/result_code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace pantoline {
namespace {

// Every text the reset log can show, written out once more by hand, each
// by the name the code uses, so that a name with the wrong number shows the
// wrong text. The blanks after the colons (one or two), the trailing blank
// of QV5INVALIDHANDLEVALUE and "progess" in QV5NULLFUNCTIONPOINTER are as
// every log has always had them.
constexpr std::pair<ResultCode, const char*> kDescribed[] = {
    {-1, "SPACE"},
    {QV5SUCCESS, "QV5SUCCESS: Successful"},
    {QV5INVALIDPORT, "QV5INVALIDPORT: Com Port is Incorrect"},
    {QV5NOTFOUND, "QV5NOTFOUND:  The QV5 was not Found"},
    {QV5NOCONNECTION, "QV5NOCONNECTION: No port connection found"},
    {QV5NORESPONSE, "QV5NORESPONSE: QV5 did not respond"},
    {QV5INVALIDRESPONSE, "QV5INVALIDRESPONSE:  QV5 responded incorrectly"},
    {QV5INCORRECTMODE, "QV5INCORRECTMODE:  QV5 is not in correct mode for this command"},
    {QV5INVALIDPASSWORD, "QV5INVALIDPASSWORD: Invalid Update Password"},
    {QV5UNKNOWNERROR, "QV5UNKNOWNERROR:  Unknown Error"},
    {QV5INVALIDESN, "QV5INVALIDESN:  The ESN is Invalid"},
    {QV5INVALIDBAUDRATE, "QV5INVALIDBAUDRATE: The baud rate is invalid"},
    {QV5STARNOTFOUND, "QV5STARNOTFOUND:  Did not read *"},
    {QV5FILENOTSENT, "QV5FILENOTSENT:  The file could not be sent"},
    {QV5COMMANDNOTSENT, "QV5COMMANDNOTSENT: Command could not be sent"},
    {QV5COMMANDNOTRECEIVED, "QV5COMMANDNOTRECEIVED:  Command not received"},
    {QV5INVALIDFILE, "QV5INVALIDFILE:  Invalid File"},
    {QV5INVALIDSOFTWAREVERSION, "QV5INVALIDSOFTWAREVERSION:  Invalid Software Version"},
    {QV5INVALIDGPSVERSION, "QV5INVALIDGPSVERSION:  Invalid GPS Version"},
    {QV5INVALIDBOOTCODEVERSION, "QV5INVALIDBOOTCODEVERSION: Invalid Boot Code Version"},
    {QV5GETOVERLAPPEDRESULTERROR, "QV5GETOVERLAPPEDRESULTERROR:  Get Overlapped Result Error (com function)"},
    {QV5WAITFORSINGLEOBJECTERROR, "QV5WAITFORSINGLEOBJECTERROR:  Wait for single object error (com function)"},
    {QV5CREATEEVENTERROR, "Undefined error"},
    {QV5XMODEMSYNCERROR, "QV5XMODEMSYNCERROR:  XModem Failure No Sync"},
    {QV5XMODEMCANCELEDERROR, "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel"},
    {QV5XMODEMTOOMANYRETURNERRORS, "QV5XMODEMTOOMANYRETURNERRORS:  XModem Failure Too Many Retries"},
    {QV5XMODEMUNKNOWNERROR, "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error"},
    {QV5INVALIDHANDLEVALUE, "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value "},
    {QV5GETCOMMSTATEERROR, "QV5GETCOMMSTATEERROR: Com State could not be retrieved (com function)"},
    {QV5SETCOMMTIMEOUTERROR, "QV5SETCOMMTIMEOUTERROR: Set Com Time Out error (com function)"},
    {QV5SETCOMSTATEERROR, "QV5SETCOMSTATEERROR: Set Com State error (com function)"},
    {QV5NULLFUNCTIONPOINTER, "QV5NULLFUNCTIONPOINTER: Null Function Pointer (progess monitor)"},
    {QV5GPSALLOFFNOTSENT, "QV5GPSALLOFFNOTSENT:  The All Off Command was not sent correctly to the GPS "
         "(GPS Passthrough)"},
    {QV5GPSUPDATEFIRMWARENOTSENT, "QV5GPSUPDATEFIRMWARENOTSENT:  The Update Firmware Command not sent correctly to the "
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
  // The names stand for 0 to 32, in the order of their rows.
  for (int row = 1; row <= 33; ++row) EXPECT_EQ(kDescribed[row].first, row - 1) << kDescribed[row].second;
  // The longest text and its terminator fill the capacity callers give.
  EXPECT_EQ(std::strlen(kDescribed[33].second) + 1, kResultTextCapacity);
}

}  // namespace
}  // namespace pantoline
