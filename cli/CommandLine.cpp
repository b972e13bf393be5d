#include "cli/CommandLine.h"

#include <algorithm>

namespace kestrel::cli {
namespace {

bool IsHelp(std::string_view a) { return a == "--help" || a == "-h"; }

bool AllDigits(std::string_view a) {
  return !a.empty() && std::all_of(a.begin(), a.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits "--name=value"; `value` is set only when there is an "=".
bool SplitOption(std::string_view arg, std::string_view& name, std::string_view& value,
                 bool& hasValue) {
  if (arg.size() < 3 || arg.substr(0, 2) != "--") return false;
  size_t eq = arg.find('=');
  hasValue = eq != std::string_view::npos;
  name = hasValue ? arg.substr(0, eq) : arg;
  value = hasValue ? arg.substr(eq + 1) : std::string_view();
  return true;
}

ParseResult Fail(std::string message, Command command) {
  ParseResult r;
  r.error = std::move(message) + " (see 'kestrel " +
            (command == Command::None ? std::string() : std::string(CommandName(command)) + " ") +
            "--help')";
  return r;
}

void AddId(Options& o, uint64_t id) {
  if (std::find(o.ids.begin(), o.ids.end(), id) == o.ids.end()) o.ids.push_back(id);
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::List: return "list";
    case Command::Scan: return "scan";
    case Command::Recover: return "recover";
    default: return "";
  }
}

bool ParseItemId(std::string_view text, uint64_t& id) {
  if (!AllDigits(text)) return false;
  uint64_t value = 0;
  for (char c : text) {
    auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  id = value;
  return true;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  if (args.empty()) return Fail("missing command", Command::None);

  const std::string& first = args[0];
  if (IsHelp(first) || first == "help") {
    o.help = true;
    if (first == "help" && args.size() > 1) {
      const std::string& topic = args[1];
      if (topic == "list") o.command = Command::List;
      else if (topic == "scan") o.command = Command::Scan;
      else if (topic == "recover") o.command = Command::Recover;
      else return Fail("unknown command '" + topic + "'", Command::None);
    }
    result.ok = true;
    return result;
  }
  if (first == "list") o.command = Command::List;
  else if (first == "scan") o.command = Command::Scan;
  else if (first == "recover") o.command = Command::Recover;
  else if (first.size() > 1 && first[0] == '-')
    return Fail("unknown option '" + first + "'", Command::None);
  else return Fail("unknown command '" + first + "'", Command::None);

  const Command cmd = o.command;
  // --help anywhere wins over every other argument of the command.
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--") break;
    if (IsHelp(args[i])) {
      o.help = true;
      result.ok = true;
      return result;
    }
  }

  bool haveVolume = false;
  bool onlyPositional = false;
  auto setSelection = [&](Selection s) -> bool {
    if (o.selection != Selection::None && o.selection != s) return false;
    o.selection = s;
    return true;
  };
  const char* kOneSelection = "choose exactly one of --all, --id and --match";

  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string_view name, value;
    bool hasValue = false;
    if (!onlyPositional && arg == "--") {
      onlyPositional = true;
      continue;
    }
    if (!onlyPositional && arg.size() > 1 && arg[0] == '-') {
      if (!SplitOption(arg, name, value, hasValue))
        return Fail("unknown option '" + arg + "'", cmd);
      if (cmd == Command::Scan && name == "--json" && !hasValue) {
        o.json = true;
      } else if (cmd == Command::Recover && name == "--to") {
        if (!hasValue) {
          if (i + 1 >= args.size()) return Fail("--to needs a folder", cmd);
          value = args[++i];
        }
        if (value.empty()) return Fail("--to needs a folder", cmd);
        if (!o.outDir.empty()) return Fail("--to given twice", cmd);
        o.outDir = std::string(value);
      } else if (cmd == Command::Recover && name == "--all" && !hasValue) {
        if (!setSelection(Selection::All)) return Fail(kOneSelection, cmd);
      } else if (cmd == Command::Recover && name == "--id") {
        if (!setSelection(Selection::Ids)) return Fail(kOneSelection, cmd);
        size_t taken = 0;
        uint64_t id = 0;
        if (hasValue) {
          if (!ParseItemId(value, id)) return Fail("not an item id: '" + std::string(value) + "'", cmd);
          AddId(o, id);
          ++taken;
        }
        // Every following plain number is another id.
        while (i + 1 < args.size() && AllDigits(args[i + 1])) {
          if (!ParseItemId(args[i + 1], id)) return Fail("item id too large: '" + args[i + 1] + "'", cmd);
          AddId(o, id);
          ++taken;
          ++i;
        }
        if (taken == 0) {
          if (i + 1 < args.size() && args[i + 1].size() > 0 && args[i + 1][0] != '-')
            return Fail("not an item id: '" + args[i + 1] + "'", cmd);
          return Fail("--id needs at least one item id", cmd);
        }
      } else if (cmd == Command::Recover && name == "--match") {
        if (!setSelection(Selection::Match)) return Fail(kOneSelection, cmd);
        if (!hasValue) {
          if (i + 1 >= args.size()) return Fail("--match needs a text", cmd);
          value = args[++i];
        }
        if (value.empty()) return Fail("--match needs a non-empty text", cmd);
        if (!o.match.empty()) return Fail("--match given twice", cmd);
        o.match = std::string(value);
      } else {
        return Fail("unknown option '" + arg + "' for " + CommandName(cmd), cmd);
      }
      continue;
    }
    if (cmd == Command::List) return Fail("unexpected argument '" + arg + "'", cmd);
    if (haveVolume) return Fail("unexpected argument '" + arg + "'", cmd);
    if (arg.empty()) return Fail("empty volume name", cmd);
    o.volume = arg;
    haveVolume = true;
  }

  if (cmd != Command::List && !haveVolume) return Fail("missing VOLUME", cmd);
  if (cmd == Command::Recover) {
    if (o.outDir.empty()) return Fail("missing --to DIR", cmd);
    if (o.selection == Selection::None) return Fail(kOneSelection, cmd);
  }
  result.ok = true;
  return result;
}

std::string HelpText(Command command) {
  switch (command) {
    case Command::List:
      return "usage: kestrel list\n"
             "\n"
             "Lists the NTFS and FAT volumes the kernel finds: name, file system and\n"
             "size in sectors, tab-separated. On Linux only letters mapped through\n"
             "KESTREL_VOLUMES (such as D=/path/disk.img) are volumes.\n";
    case Command::Scan:
      return "usage: kestrel scan VOLUME [--json]\n"
             "\n"
             "Scans VOLUME for deleted files and prints one line per found item,\n"
             "tab-separated: id, size in bytes, modified time (local,\n"
             "YYYY-MM-DD HH:MM:SS, empty when unknown) and path.\n"
             "\n"
             "VOLUME   a drive letter (D:) or the path of a disk image or device;\n"
             "         PATH@OFFSET+LENGTH (bytes) selects one partition of a disk image\n"
             "--json   print a JSON array of {id, size, modified, path} instead\n"
             "\n"
             "Exit status: 0 done, 2 bad usage or a volume that is unreadable or\n"
             "neither NTFS nor FAT.\n";
    case Command::Recover:
      return "usage: kestrel recover VOLUME --to DIR (--all | --id ID... | --match TEXT)\n"
             "\n"
             "Scans VOLUME and writes the chosen deleted files to\n"
             "DIR/Deleted/<folder inside the volume>/<name>, then prints\n"
             "\"recovered N, failed M\".\n"
             "\n"
             "--to DIR       the recovery folder (created when missing; not on VOLUME)\n"
             "--all          every found item\n"
             "--id ID...     the items with these ids, as 'kestrel scan' prints them\n"
             "--match TEXT   the items whose file name (with extension) contains TEXT;\n"
             "               ASCII letters match in either case\n"
             "\n"
             "Exit status: 0 all written, 1 some items failed, 2 bad usage or a volume\n"
             "that is unreadable or neither NTFS nor FAT.\n";
    default:
      return "usage: kestrel COMMAND [ARGS]\n"
             "\n"
             "Finds deleted files on NTFS and FAT volumes and disk images and copies\n"
             "them out.\n"
             "\n"
             "  kestrel list                                   volumes the kernel sees\n"
             "  kestrel scan VOLUME [--json]                   list deleted files\n"
             "  kestrel recover VOLUME --to DIR (--all | --id ID... | --match TEXT)\n"
             "                                                 write them to DIR\n"
             "\n"
             "VOLUME is a drive letter (D:) or the path of a disk image or device.\n"
             "'kestrel COMMAND --help' tells more about each command.\n";
  }
}

}  // namespace kestrel::cli
