// rc_layouts RC OUTPUT: writes the GTK layer's dialog layouts and string
// table as C++ (see ui/gtk/layouts.h), read from the Windows program's resource
// script, so that both programs have their dialogs from one source.
//
// It reads what the script's dialogs need: DIALOGEX templates (CAPTION,
// FONT and CONTROL statements), their initial data (resource type 240)
// and STRINGTABLE. Every other statement, with any BEGIN ... END block it
// has, is passed over. Identifiers are written as the script names them
// without its PANTOLINE_ prefix: the names of ui/resource_ids.h, so that
// the compiler checks that both agree.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A token: a string literal (kept with its quotes) or a word, number,
// comma or bar.
std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  for (std::size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
      break;
    }
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '"') {
      std::size_t end = i + 1;  // at the closing quote; "" and \" stay inside
      while (end < line.size() && line[end] != '"') {
        end += line[end] == '\\' ? 2 : 1;
        if (end + 1 < line.size() && line[end] == '"' && line[end + 1] == '"') {
          end += 2;
        }
      }
      tokens.push_back(line.substr(i, end + 1 - i));
      i = end + 1;
    } else if (c == ',' || c == '|') {
      tokens.emplace_back(1, c);
      ++i;
    } else {
      std::size_t end = i;
      while (end < line.size() && std::string(" \t\r,|\"").find(line[end]) == std::string::npos) {
        ++end;
      }
      tokens.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return tokens;
}

// The statement's arguments, split at its commas.
std::vector<std::vector<std::string>> Arguments(const std::vector<std::string>& tokens, std::size_t from) {
  std::vector<std::vector<std::string>> arguments(1);
  for (std::size_t i = from; i < tokens.size(); ++i) {
    if (tokens[i] == ",") {
      arguments.emplace_back();
    } else {
      arguments.back().push_back(tokens[i]);
    }
  }
  return arguments;
}

std::string Name(const std::string& symbol) {
  const std::string prefix = "PANTOLINE_";
  return symbol.starts_with(prefix) ? symbol.substr(prefix.size()) : symbol;
}

bool Has(const std::vector<std::string>& style, const std::string& flag) {
  for (std::size_t i = 0; i < style.size(); ++i) {
    if (style[i] == flag && (i == 0 || style[i - 1] != "NOT")) {
      return true;
    }
  }
  return false;
}

// A CONTROL statement's arguments as a ControlLayout initialiser.
std::string Control(const std::vector<std::vector<std::string>>& a) {
  const std::string text = a[0][0];
  const std::string& cls = a[2][0];
  const std::vector<std::string>& style = a[3];
  std::string kind = "kStaticText";
  if (cls == "\"Button\"") {
    kind = Has(style, "BS_GROUPBOX") ? "kGroupBox" : "kButton";
  } else if (cls == "\"Edit\"") {
    kind = "kEdit";
  } else if (cls == "\"msctls_progress32\"") {
    kind = "kProgressBar";
  } else if (cls == "\"ComboBox\"") {
    kind = "kComboBox";
  } else if (Has(style, "SS_ICON")) {
    kind = "kIcon";
  }
  // A CONTROL statement's control is visible unless its style says NOT.
  std::string flags = "0";
  const std::pair<const char*, const char*> kFlags[] = {
      {"WS_TABSTOP", "kTabStop"}, {"BS_DEFPUSHBUTTON", "kDefaultButton"}, {"ES_READONLY", "kReadOnly"},
      {"ES_CENTER", "kCentred"},  {"BS_CENTER", "kCentred"},            {"WS_BORDER", "kBorder"}};
  if (!(style.size() >= 2 && style[style.size() - 1] == "WS_VISIBLE" && style[style.size() - 2] == "NOT")) {
    flags += " | kVisible";
  }
  for (const auto& [flag, ours] : kFlags) {
    flags += Has(style, flag) ? std::string(" | ") + ours : "";
  }
  std::ostringstream out;
  out << "    {" << Name(a[1][0]) << ", ControlKind::" << kind << ", " << (kind == "kIcon" ? "\"\"" : text) << ", "
      << a[4][0] << ", " << a[5][0] << ", " << a[6][0] << ", " << a[7][0] << ", " << flags
      << (kind == "kIcon" ? ", " + Name(text) : "") << "},\n";
  return out.str();
}

struct Dialog {
  std::string name, title, width, height, font = "8";
  std::string controls;
  std::string dataControl = "0";
  std::string data;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rc_layouts RC OUTPUT\n");
    return 2;
  }
  std::ifstream rc(argv[1]);
  if (!rc) {
    std::fprintf(stderr, "rc_layouts: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<Dialog> dialogs;
  std::string strings;
  enum class In { kNothing, kDialogHead, kControls, kInitialData, kStrings, kSkipped } in = In::kNothing;
  int depth = 0;  // of the BEGIN ... END blocks of a statement passed over
  std::vector<std::string> statement;
  auto endControl = [&] {
    if (!statement.empty()) {
      dialogs.back().controls += Control(Arguments(statement, 1));
      statement.clear();
    }
  };
  Dialog* data = nullptr;
  for (std::string line; std::getline(rc, line);) {
    const std::vector<std::string> t = Tokens(line);
    if (t.empty() || t[0][0] == '#') {
      continue;
    }
    const bool begin = t[0] == "BEGIN" || t[0] == "{";
    const bool end = t[0] == "END" || t[0] == "}";
    switch (in) {
      case In::kNothing:
        if (t.size() >= 2 && t[1] == "DIALOGEX") {
          const auto a = Arguments(t, 2);
          dialogs.emplace_back();
          dialogs.back().name = Name(t[0]);
          dialogs.back().width = a[2][0];
          dialogs.back().height = a[3][0];
          in = In::kDialogHead;
        } else if (t.size() >= 2 && t[1] == "240") {
          for (Dialog& d : dialogs) {
            data = d.name == Name(t[0]) ? &d : data;
          }
          in = In::kInitialData;
        } else if (t[0] == "STRINGTABLE") {
          in = In::kStrings;
        } else if (begin) {
          in = In::kSkipped;
          depth = 1;
        }
        break;
      case In::kDialogHead:
        if (t[0] == "CAPTION") {
          dialogs.back().title = t[1];
        } else if (t[0] == "FONT") {
          dialogs.back().font = t[1];
        } else if (begin) {
          in = In::kControls;
        }
        break;
      case In::kControls:
        if (end || t[0] == "CONTROL") {
          endControl();
        }
        if (end) {
          in = In::kNothing;
        } else if (t[0] == "CONTROL" || !statement.empty()) {
          statement.insert(statement.end(), t.begin(), t.end());
        }
        break;
      case In::kInitialData:
        if (end) {
          in = In::kNothing;
        } else if (!begin && t.size() >= 7 && data != nullptr) {
          data->dataControl = Name(t[0]);
          data->data += "    " + t[6].substr(0, t[6].size() - 3) + "\",\n";  // without its "\0"
        }
        break;
      case In::kStrings:
        if (end) {
          in = In::kNothing;
        } else if (!begin) {
          strings += "    {" + Name(t[0]) + ", " + t.back() + "},\n";
        }
        break;
      case In::kSkipped:
        depth += begin ? 1 : end ? -1 : 0;
        in = depth == 0 ? In::kNothing : in;
        break;
    }
  }

  std::ostringstream out;
  out << "// Generated by rc_layouts from the Windows resource script: do not edit.\n"
         "#include \"ui/gtk/layouts.h\"\n#include \"ui/resource_ids.h\"\n\n"
         "namespace pantoline::ui::gtk {\nnamespace {\n\n";
  std::string table;
  for (const Dialog& d : dialogs) {
    out << "constexpr ControlLayout k" << d.name << "Controls[] = {\n" << d.controls << "};\n";
    if (!d.data.empty()) {
      out << "constexpr const char* k" << d.name << "Data[] = {\n" << d.data << "};\n";
    }
    table += "    {" + d.name + ", " + d.title + ", " + d.width + ", " + d.height + ", " + d.font + ", k" + d.name +
             "Controls, " + d.dataControl + (d.data.empty() ? "" : ", k" + d.name + "Data") + "},\n";
  }
  out << "constexpr DialogLayout kLayouts[] = {\n" << table << "};\n"
      << "constexpr StringResource kStrings[] = {\n" << strings << "};\n\n}  // namespace\n\n"
      << "const std::span<const DialogLayout> kDialogLayouts = kLayouts;\n"
      << "const std::span<const StringResource> kStringResources = kStrings;\n\n"
      << "}  // namespace pantoline::ui::gtk\n";
  std::ofstream(argv[2]) << out.str();
  return dialogs.empty() ? 1 : 0;
}
