#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#ifndef KESTREL_VERSION
#  define KESTREL_VERSION "0.0.0"
#endif

namespace kestrel::cli {
namespace {

const std::vector<std::string> kCommands = {"list", "scan", "recover", "help"};

bool IsHelp(std::string_view a) { return a == "--help" || a == "-h"; }
bool IsVersion(std::string_view a) { return a == "--version" || a == "-V"; }

Command CommandNamed(std::string_view name) {
  if (name == "list") return Command::List;
  if (name == "scan") return Command::Scan;
  if (name == "recover") return Command::Recover;
  return Command::None;
}

ParseResult Fail(std::string message, Command command) {
  ParseResult r;
  r.error = std::move(message) + " (see 'kestrel " +
            (command == Command::None ? std::string() : std::string(CommandName(command)) + " ") +
            "--help')";
  return r;
}

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "unknown option '--jsn' for scan; did you mean '--json'?"
std::string UnknownArgument(const std::string& arg, Command cmd, const CLI::App& app) {
  if (arg.size() > 1 && arg[0] == '-') {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
      for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
      for (const std::string& n : option->get_snames()) names.push_back("-" + n);
    }
    const std::string name = arg.substr(0, arg.find('='));
    // Single letters are too short to guess from.
    std::string hint = name.rfind("--", 0) == 0 ? Suggest(name, names) : std::string();
    return "unknown option '" + name + "' for " + CommandName(cmd) +
           (hint.empty() ? "" : "; did you mean '" + hint + "'?");
  }
  return "unexpected argument '" + arg + "'";
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
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  id = value;
  return true;
}

std::string Suggest(std::string_view word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 3) + 1;
  for (const std::string& c : candidates) {
    size_t d = EditDistance(word, c);
    // A prefix ("rec" for "recover") is as good as a near miss.
    if (word.size() >= 2 && c.rfind(word, 0) == 0) d = std::min<size_t>(d, 1);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  if (args.empty()) return Fail("missing command", Command::None);

  const std::string& first = args[0];
  if (IsHelp(first) || first == "help") {
    o.help = true;
    if (first == "help" && args.size() > 1) {
      o.command = CommandNamed(args[1]);
      if (o.command == Command::None) {
        std::string hint = Suggest(args[1], kCommands);
        return Fail("unknown command '" + args[1] + "'" +
                        (hint.empty() ? "" : "; did you mean '" + hint + "'?"),
                    Command::None);
      }
    }
    result.ok = true;
    return result;
  }
  if (IsVersion(first)) {
    o.version = true;
    result.ok = true;
    return result;
  }
  o.command = CommandNamed(first);
  if (o.command == Command::None) {
    if (first.size() > 1 && first[0] == '-') return Fail("unknown option '" + first + "'", Command::None);
    std::string hint = Suggest(first, kCommands);
    return Fail("unknown command '" + first + "'" +
                    (hint.empty() ? "" : "; did you mean '" + hint + "'?"),
                Command::None);
  }
  const Command cmd = o.command;
  // --help anywhere before "--" wins over every other argument.
  for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
    if (IsHelp(args[i])) {
      o.help = true;
      result.ok = true;
      return result;
    }
  }

  CLI::App app;
  app.set_help_flag();
  app.allow_windows_style_options(false);
  std::vector<std::string> volumes;
  std::vector<std::string> idTexts;
  std::vector<std::string> matches;
  bool all = false;
  app.add_option("VOLUME", volumes);
  std::vector<std::string> partitionTexts;
  bool deep = false, formatted = false;
  if (cmd != Command::List) {
    app.add_flag("-q,--quiet", o.quiet);
    app.add_flag("--deep", deep);
    app.add_flag("--formatted", formatted);
    app.add_option("--partition", partitionTexts)->type_name("N")->expected(1)->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  bool json = false, jsonl = false;
  if (cmd == Command::Scan) {
    app.add_flag("--json", json);
    app.add_flag("--jsonl", jsonl);
  }
  if (cmd == Command::Recover) {
    app.add_option("-o,--to", o.outDir)->type_name("DIR");
    app.add_option("--report", o.report)->type_name("FILE");
    app.add_flag("--all", all);
    app.add_flag("--intact-only", o.intactOnly);
    // One value per --id (a following number is the VOLUME, not another
    // id); several ids are "1,2,3" or --id given again.
    app.add_option("--id", idTexts)->type_name("ID[,ID...]")->expected(1)->allow_extra_args(false)->delimiter(',')->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--match", matches)->type_name("TEXT")->expected(1)->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  std::vector<std::string> rest(args.rbegin(), args.rend() - 1);  // CLI11 takes them reversed
  try {
    app.parse(rest);
  } catch (const CLI::ExtrasError&) {
    // CLI11's message lists every extra argument; the first one, with a
    // suggestion, is what the user needs to see.
    std::vector<std::string> extras = app.remaining();
    return Fail(UnknownArgument(extras.empty() ? std::string() : extras.front(), cmd, app), cmd);
  } catch (const CLI::ParseError& e) {
    std::string what = e.what();
    return Fail(what.empty() ? "bad arguments" : what, cmd);
  }

  if (volumes.size() > 1) return Fail("unexpected argument '" + volumes[1] + "'", cmd);
  if (cmd != Command::List) {
    if (volumes.empty()) return Fail("missing VOLUME", cmd);
    if (volumes[0].empty()) return Fail("empty volume name", cmd);
    o.volume = volumes[0];
  } else if (!volumes.empty()) {
    if (volumes[0].empty()) return Fail("empty disk name", cmd);
    o.volume = volumes[0];
  }
  if (deep && formatted) return Fail("--deep and --formatted do not go together", cmd);
  if (deep) o.mode = KX_MODE_DEEP;
  if (formatted) o.mode = KX_MODE_FORMATTED;
  if (partitionTexts.size() > 1) return Fail("--partition given twice", cmd);
  if (!partitionTexts.empty()) {
    uint64_t n = 0;
    if (!ParseItemId(partitionTexts[0], n) || n == 0 || n > 1024)
      return Fail("--partition: not a partition number: '" + partitionTexts[0] + "'", cmd);
    o.partition = static_cast<int>(n);
  }
  if (json && jsonl) return Fail("choose one of --json and --jsonl", cmd);
  o.format = json ? ScanFormat::Json : jsonl ? ScanFormat::JsonLines : ScanFormat::Lines;
  if (cmd != Command::Recover) {
    result.ok = true;
    return result;
  }

  const int chosen = (all ? 1 : 0) + (idTexts.empty() ? 0 : 1) + (matches.empty() ? 0 : 1);
  const char* kOneSelection = "choose exactly one of --all, --id and --match";
  if (chosen != 1) return Fail(kOneSelection, cmd);
  if (all) o.selection = Selection::All;
  for (const std::string& text : idTexts) {
    uint64_t id = 0;
    if (!ParseItemId(text, id)) return Fail("--id: not an item id: '" + text + "'", cmd);
    if (std::find(o.ids.begin(), o.ids.end(), id) == o.ids.end()) o.ids.push_back(id);
    o.selection = Selection::Ids;
  }
  if (!matches.empty()) {
    if (matches.size() > 1) return Fail("--match given twice", cmd);
    if (matches[0].empty()) return Fail("--match needs a non-empty text", cmd);
    o.match = matches[0];
    o.selection = Selection::Match;
  }
  if (o.outDir.empty()) return Fail("missing --to DIR", cmd);
  result.ok = true;
  return result;
}

std::string VersionText() {
  return "kestrel " KESTREL_VERSION "\n";
}

namespace {

const char* kExitStatusText =
    "Exit status:\n"
    "  0    done\n"
    "  1    some chosen items were not recovered\n"
    "  2    bad usage (or a recovery folder on the scanned volume)\n"
    "  3    the volume cannot be read or is not supported\n"
    "  130  interrupted (Ctrl-C); what was done so far is reported\n";

}  // namespace

std::string HelpText(Command command) {
  switch (command) {
    case Command::List:
      return "usage: kestrel list [DISK]\n"
             "\n"
             "Without DISK: the volumes there are, one per line, tab-separated: name,\n"
             "file system ('-' when none is recognised) and size in sectors, then the\n"
             "label where known. On Windows these are the lettered volumes, then each\n"
             "physical disk (\\\\.\\PhysicalDriveN, its table's kind and its name) and\n"
             "its partitions that can be scanned, as 'DISK --partition N'; on Linux\n"
             "the block devices and partitions you can read (or, when KESTREL_VOLUMES\n"
             "maps letters such as D=/path/disk.img or PhysicalDrive0=/path/disk.img,\n"
             "those).\n"
             "\n"
             "With DISK (a disk image or device): its partition table, one partition\n"
             "per line, tab-separated: number, start and size in 512-byte sectors,\n"
             "first byte, length in bytes, type, GPT name and file system. Scan one\n"
             "with 'kestrel scan DISK --partition N'.\n";
    case Command::Scan:
      return std::string(
                 "usage: kestrel scan VOLUME [--json | --jsonl] [--partition N] [--deep | --formatted]\n"
                 "                    [--quiet]\n"
                 "\n"
                 "Scans VOLUME for deleted files and prints one line per found item,\n"
                 "tab-separated: id, size in bytes, state (intact, partly-overwritten,\n"
                 "overwritten, damaged, encrypted or unknown), modified time (UTC, ISO 8601, empty\n"
                 "when unknown) and the path inside the volume.\n"
                 "\n"
                 "VOLUME       a drive letter (D:) or the path of a disk image or device;\n"
                 "             PATH@OFFSET+LENGTH (bytes) selects one partition of a disk image\n"
                 "--partition N  partition N of a whole disk, as 'kestrel list DISK' numbers\n"
                 "             them (needed when the disk has several supported partitions)\n"
                 "--json       print one JSON object: the volume and an array of items\n"
                 "--jsonl      print one JSON object per item and line, as they are found\n"
                 "--deep       find files by their contents in the free space (or the whole\n"
                 "             disk when no file system is readable), under \"Carved files\"\n"
                 "--formatted  rebuild the previous file system of a quick-formatted volume,\n"
                 "             under \"Previous file system\"\n"
                 "-q, --quiet  no progress on stderr\n"
                 "\n") +
             kExitStatusText;
    case Command::Recover:
      return std::string(
                 "usage: kestrel recover VOLUME --to DIR (--all | --id ID[,ID...] | --match TEXT)\n"
                 "                       [--partition N] [--deep | --formatted] [--intact-only]\n"
                 "                       [--report FILE] [--quiet]\n"
                 "\n"
                 "Scans VOLUME and writes the chosen deleted files to\n"
                 "DIR/Deleted/<path inside the volume>, then prints\n"
                 "\"recovered N (A intact, B partly overwritten, C overwritten), failed M\".\n"
                 "A name already taken gets \" (2)\", \" (3)\", ... before its extension;\n"
                 "an incomplete copy is kept as <name>.partial and counts as failed.\n"
                 "\n"
                 "-o, --to DIR    the recovery folder (created when missing; never on VOLUME)\n"
                 "--partition N   partition N of a whole disk, as 'kestrel list DISK' shows it\n"
                 "--deep, --formatted  recover what that scan finds (see 'kestrel scan --help')\n"
                 "--all           every found item\n"
                 "--id ID[,ID]    the items with these ids, as 'kestrel scan' prints them;\n"
                 "                a list with commas, or --id again\n"
                 "--match TEXT    the items whose file name (with extension) contains TEXT;\n"
                 "                ASCII letters match in either case\n"
                 "--intact-only   of those, only the items none of whose clusters is in use\n"
                 "--report FILE   one JSON line per chosen item: id, path, output, size,\n"
                 "                bytes written, sha256, result and reason\n"
                 "-q, --quiet     no progress on stderr\n"
                 "\n"
                 "Each item that fails is named on stderr with the reason.\n"
                 "\n") +
             kExitStatusText;
    default:
      return std::string(
                 "usage: kestrel COMMAND [ARGS]\n"
                 "\n"
                 "Finds deleted files on NTFS and FAT volumes and disk images and copies\n"
                 "them out.\n"
                 "\n"
                 "  kestrel list [DISK]                        volumes, or a disk's partitions\n"
                 "  kestrel scan VOLUME [--json | --jsonl]     list deleted files\n"
                 "  kestrel recover VOLUME --to DIR (--all | --id ID[,ID...] | --match TEXT)\n"
                 "                                             write them to DIR\n"
                 "  kestrel --version                          the version\n"
                 "\n"
                 "VOLUME is a drive letter (D:) or the path of a disk image or device;\n"
                 "for a whole disk, --partition N chooses one of its partitions.\n"
                 "'kestrel COMMAND --help' tells more about each command. Progress goes to\n"
                 "stderr when it is a terminal; --quiet silences it.\n"
                 "\n") +
             kExitStatusText;
  }
}

}  // namespace kestrel::cli
