// The simulated unit on a pseudo-terminal and the reset logs of the
// courses it gives, shared by the window's course tests and the
// command-line program's: the same course writes the same log.
#pragma once

#include <string>

#include "tests/support/scripted_unit.h"

namespace pantoline::testing {

inline const std::string kOk = "QV5SUCCESS: Successful";
inline const std::string kLocate =
    "PANTOLINE LOG INITIATED \n System Download was found \n App Locate the Lodestria :: \n    ";
// The logs of the courses with the unit on Com1.
inline const std::string kLoadedLog = kLocate + kOk + " - Current Port = \\\\.\\Com1\nSet Progress Function:: \n    " +
                                      kOk + "\nApp Load System:: \n    " + kOk +
                                      "\nCompleted in 0 minutes \nPANTOLINE LOG COMPLETE \n";
inline const std::string kMissingLog = "PANTOLINE LOG INITIATED \n ResetPack was NOT found \n PANTOLINE LOG COMPLETE \n";
// The last name tried, Com32, does not exist: its open failed.
inline const std::string kNotFoundLog =
    kLocate + "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - Current Port = NOT FOUND\n"
              "PANTOLINE LOG COMPLETE \n";
// A load that failed with `result` (its text) on the unit on Com1.
inline std::string LoadFailedLog(const std::string& result) {
  return kLocate + kOk + " - Current Port = \\\\.\\Com1\nSet Progress Function:: \n    " + kOk +
         "\nApp Load System:: \n    " + result + "\nPANTOLINE LOG COMPLETE \n";
}

// The courses' package as file text: 3000 bytes, which end inside the last
// of 24 blocks; the unit receives them padded.
inline std::string CoursePackage(bool received) {
  const Bytes package = received ? Padded(Package(3000)) : Package(3000);
  return {package.begin(), package.end()};
}

// The file a unit started as `tag` writes its transfer to.
inline std::string Received(const std::string& tag = "unit") { return tag == "unit" ? "received.bin" : tag + ".bin"; }

// The simulated unit (PANTOLINE_SIMUNIT) in the background, its port placed by `place`, answering
// the greeting or not, with `extra` options. With --once it ends after one transfer, written to
// Received(tag); its output goes to <tag>.out and <tag>.err. It is ended after five minutes, should
// the test itself be ended, and killed 5 s after a stop it has not obeyed.
inline std::string StartUnit(const std::string& place, bool answers, const std::string& extra = "",
                             const std::string& tag = "unit") {
  return "( timeout -k 5 300 \"$PANTOLINE_SIMUNIT\" " + place + " " + extra + " --once --output " + Received(tag) +
         " --greeting " + (answers ? "normal" : "silent") + " >" + tag + ".out 2>" + tag + ".err & echo $! >" + tag +
         ".pid; wait $!; echo $? >" + tag + ".rc ) & until [ -s " + tag + ".out ] || [ -e " + tag +
         ".rc ]; do sleep 0.05; done; [ -s " + tag + ".out ]";
}
// Ends the unit: one that has written its transfer gets a second to end by itself.
inline std::string StopUnit(const std::string& tag = "unit") {
  return "if [ -e " + tag + ".pid ]; then [ -e " + Received(tag) + " ] && for i in 1 2 3 4 5 6 7 8 9 10; do [ -e " +
         tag + ".rc ] || sleep 0.1; done; kill $(cat " + tag + ".pid) 2>/dev/null; until [ -e " + tag +
         ".rc ]; do sleep 0.05; done; fi";
}
inline const std::string kStopUnit = StopUnit();

}  // namespace pantoline::testing
