// The command line of Pantoline's Linux programs (pantoline,
// pantoline-simunit, pantoline-bench): GNU-style long options read with
// getopt_long, so that every program takes "--name VALUE" and
// "--name=VALUE" alike, accepts unambiguous abbreviations and reports
// mistakes the same way.
#pragma once

#include <functional>
#include <optional>
#include <span>

namespace pantoline {

struct CommandOption {
  const char* name;  // the long name, without "--"
  bool takesValue;
  int id;            // what the handler is given: 256 or more (getopt's own
                     // answers are characters)
};

// Called once per option, in command-line order: its id and its value
// (nullptr for an option without one). False: the value is refused; the
// handler has said why on stderr.
using CommandOptionHandler = std::function<bool(int id, const char* value)>;

// Reads argv. "--help" (or "-h") prints `usage` on stdout; an unknown
// option, a missing value or any argument that is not an option prints
// `usage` on stderr. Returns the status the program should exit with
// after --help (0) or a mistake (2), or nothing to go on.
std::optional<int> ParseCommandLine(int argc, char** argv, std::span<const CommandOption> options,
                                    const char* usage, const CommandOptionHandler& handle);

}  // namespace pantoline
