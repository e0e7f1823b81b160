#include "link/result_code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/device_link.h"
#include "tests/support/scripted_ports.h"

namespace pantoline {
namespace {

std::string Describe(ResultCode code, bool* known = nullptr) {
  char text[kResultTextCapacity];
  const bool ok = DescribeResult(code, text);
  if (known != nullptr) {
    *known = ok;
  }
  return text;
}

TEST(DescribeResult, GivesEveryTextLetterForLetter) {
  // Spot checks across the table, chosen for the traps in it: the two
  // blanks after some colons, the trailing blank of 26, the misspelling in 30.
  EXPECT_EQ(Describe(0), "QV5SUCCESS: Successful");
  EXPECT_EQ(Describe(2), "QV5NOTFOUND:  The QV5 was not Found");
  EXPECT_EQ(Describe(4), "QV5NORESPONSE: QV5 did not respond");
  EXPECT_EQ(Describe(5), "QV5INVALIDRESPONSE:  QV5 responded incorrectly");
  EXPECT_EQ(Describe(6), "QV5INCORRECTMODE:  QV5 is not in correct mode for this command");
  EXPECT_EQ(Describe(13), "QV5COMMANDNOTSENT: Command could not be sent");
  EXPECT_EQ(Describe(19), "QV5GETOVERLAPPEDRESULTERROR:  Get Overlapped Result Error (com function)");
  EXPECT_EQ(Describe(20), "QV5WAITFORSINGLEOBJECTERROR:  Wait for single object error (com function)");
  EXPECT_EQ(Describe(22), "QV5XMODEMSYNCERROR:  XModem Failure No Sync");
  EXPECT_EQ(Describe(23), "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel");
  EXPECT_EQ(Describe(25), "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error");
  EXPECT_EQ(Describe(26), "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value ");
  EXPECT_EQ(Describe(27), "QV5GETCOMMSTATEERROR: Com State could not be retrieved (com function)");
  EXPECT_EQ(Describe(28), "QV5SETCOMMTIMEOUTERROR: Set Com Time Out error (com function)");
  EXPECT_EQ(Describe(29), "QV5SETCOMSTATEERROR: Set Com State error (com function)");
  EXPECT_EQ(Describe(30), "QV5NULLFUNCTIONPOINTER: Null Function Pointer (progess monitor)");
}

TEST(DescribeResult, LengthsAndBlanksMatchTheTable) {
  const int lengths[] = {22, 37, 35, 41, 34, 46, 62, 43, 31, 34, 44, 32, 43, 44, 44, 29, 52,
                         42, 52, 72, 73, 0,  43, 53, 62, 51, 49, 69, 61, 55, 63, 93, 105};
  const std::string twoBlanks = ",2,5,6,8,9,11,12,14,15,16,17,19,20,22,23,24,31,32,";
  for (ResultCode code = 0; code <= 32; ++code) {
    if (code == 21) {
      continue;
    }
    SCOPED_TRACE(code);
    const std::string text = Describe(code);
    EXPECT_EQ(text.size(), static_cast<std::size_t>(lengths[code]));
    const std::size_t colon = text.find(':');
    ASSERT_NE(colon, std::string::npos);
    const bool two = twoBlanks.find("," + std::to_string(code) + ",") != std::string::npos;
    EXPECT_EQ(text.substr(colon + 1, 3).find_first_not_of(' '), two ? 2u : 1u);
  }
}

TEST(DescribeResult, CodesWithoutTextAreUndefinedAndFalse) {
  bool known = true;
  for (ResultCode code : {21, -2, 33, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(Describe(code, &known), "Undefined error") << code;
    EXPECT_FALSE(known) << code;
  }
  EXPECT_EQ(Describe(-1, &known), "SPACE");
  EXPECT_TRUE(known);
}

TEST(DescribeResult, WritesTheTextAndTerminatorOnly) {
  char text[200];
  std::memset(text, '#', sizeof text);
  DescribeResult(32, text);
  EXPECT_EQ(text[104], ')');
  EXPECT_EQ(text[105], '\0');
  EXPECT_EQ(text[106], '#');
  std::memset(text, '#', sizeof text);
  DescribeResult(-1, text);
  EXPECT_EQ(std::string(text, 7), std::string("SPACE\0#", 7));
}

TEST(DescribeLastResult, RendersTheLinksLastResult) {
  testing::VirtualClock clock;
  testing::ScriptedPorts ports(clock);
  DeviceLink link(ports, clock);
  char text[kResultTextCapacity];
  EXPECT_TRUE(link.DescribeLastResult(text));
  EXPECT_STREQ(text, "QV5SUCCESS: Successful");
  link.lastResult = QV5CREATEEVENTERROR;
  EXPECT_FALSE(link.DescribeLastResult(text));
  EXPECT_STREQ(text, "Undefined error");
}

}  // namespace
}  // namespace pantoline
