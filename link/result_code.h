// Result codes of the device link and their fixed message texts.
//
// Every link operation that can fail returns a ResultCode and stores the
// same value in the link's lastResult. The texts are what the reset log
// shows, letter for letter, so they are constants and never formatted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pantoline {

using ResultCode = std::int32_t;

inline constexpr ResultCode QV5SUCCESS = 0;
inline constexpr ResultCode QV5INVALIDPORT = 1;
inline constexpr ResultCode QV5NOTFOUND = 2;
inline constexpr ResultCode QV5NOCONNECTION = 3;
inline constexpr ResultCode QV5NORESPONSE = 4;
inline constexpr ResultCode QV5INVALIDRESPONSE = 5;
inline constexpr ResultCode QV5INCORRECTMODE = 6;
inline constexpr ResultCode QV5INVALIDPASSWORD = 7;
inline constexpr ResultCode QV5UNKNOWNERROR = 8;
inline constexpr ResultCode QV5INVALIDESN = 9;
inline constexpr ResultCode QV5INVALIDBAUDRATE = 10;
inline constexpr ResultCode QV5STARNOTFOUND = 11;
inline constexpr ResultCode QV5FILENOTSENT = 12;
inline constexpr ResultCode QV5COMMANDNOTSENT = 13;
inline constexpr ResultCode QV5COMMANDNOTRECEIVED = 14;
inline constexpr ResultCode QV5INVALIDFILE = 15;
inline constexpr ResultCode QV5INVALIDSOFTWAREVERSION = 16;
inline constexpr ResultCode QV5INVALIDGPSVERSION = 17;
inline constexpr ResultCode QV5INVALIDBOOTCODEVERSION = 18;
inline constexpr ResultCode QV5GETOVERLAPPEDRESULTERROR = 19;
inline constexpr ResultCode QV5WAITFORSINGLEOBJECTERROR = 20;
inline constexpr ResultCode QV5CREATEEVENTERROR = 21;  // has no text of its own
inline constexpr ResultCode QV5XMODEMSYNCERROR = 22;
inline constexpr ResultCode QV5XMODEMCANCELEDERROR = 23;
inline constexpr ResultCode QV5XMODEMTOOMANYRETURNERRORS = 24;
inline constexpr ResultCode QV5XMODEMUNKNOWNERROR = 25;
inline constexpr ResultCode QV5INVALIDHANDLEVALUE = 26;
inline constexpr ResultCode QV5GETCOMMSTATEERROR = 27;
inline constexpr ResultCode QV5SETCOMMTIMEOUTERROR = 28;
inline constexpr ResultCode QV5SETCOMSTATEERROR = 29;
inline constexpr ResultCode QV5NULLFUNCTIONPOINTER = 30;
inline constexpr ResultCode QV5GPSALLOFFNOTSENT = 31;
inline constexpr ResultCode QV5GPSUPDATEFIRMWARENOTSENT = 32;

// Bytes a caller's text buffer must hold: the longest text
// (QV5GPSUPDATEFIRMWARENOTSENT's, 105 characters) and its terminator.
inline constexpr std::size_t kResultTextCapacity = 106;

// Writes the text of `code` and its terminator to the start of `text`
// (caller-owned, at least kResultTextCapacity bytes; nothing past the
// terminator is touched). Returns true for -1 ("SPACE", a value no
// operation stores) and for every code above except QV5CREATEEVENTERROR;
// any other value gets "Undefined error" and false.
bool DescribeResult(ResultCode code, char* text);

}  // namespace pantoline
