#include "app/command_line.h"

#include <getopt.h>

#include <cstdio>
#include <vector>

namespace pantoline {
namespace {

constexpr int kHelpId = 'h';

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, std::span<const CommandOption> options,
                                    const char* usage, const CommandOptionHandler& handle) {
  std::vector<option> table;
  table.reserve(options.size() + 2);
  for (const CommandOption& o : options) {
    table.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, o.id});
  }
  table.push_back({"help", no_argument, nullptr, kHelpId});
  table.push_back({nullptr, 0, nullptr, 0});

  // getopt keeps its place in globals: start afresh, and stop at the first
  // argument that is not an option ("+") rather than reorder argv.
  optind = 0;
  for (;;) {
    const int id = getopt_long(argc, argv, "+h", table.data(), nullptr);
    if (id == -1) {
      break;
    }
    if (id == kHelpId) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (id == '?' || id == ':') {  // getopt has named the mistake on stderr
      std::fputs(usage, stderr);
      return 2;
    }
    if (!handle(id, optarg)) {
      return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", argv[0], argv[optind]);
    std::fputs(usage, stderr);
    return 2;
  }
  return std::nullopt;
}

}  // namespace pantoline
