#include <gtest/gtest.h>

#include "cli/CommandLine.h"

namespace kestrel::cli {
namespace {

ParseResult Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(CommandLine, ScanTakesVolumeAndJsonInAnyOrder) {
  ParseResult r = Parse({"scan", "disk.img"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.command, Command::Scan);
  EXPECT_EQ(r.options.volume, "disk.img");
  EXPECT_EQ(r.options.format, ScanFormat::Lines);
  EXPECT_FALSE(r.options.quiet);

  r = Parse({"scan", "--json", "D:"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.format, ScanFormat::Json);
  EXPECT_EQ(r.options.volume, "D:");
  r = Parse({"scan", "D:", "--jsonl", "-q"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.format, ScanFormat::JsonLines);
  EXPECT_TRUE(r.options.quiet);
  // Flags take CLI11's boolean values, as in --json=false.
  r = Parse({"scan", "D:", "--json=false"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.format, ScanFormat::Lines);

  // "--" ends the options: a volume may start with a dash.
  r = Parse({"scan", "--", "-odd.img"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.volume, "-odd.img");
}

TEST(CommandLine, RecoverSelections) {
  ParseResult r = Parse({"recover", "img", "--to", "out", "--all"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.command, Command::Recover);
  EXPECT_EQ(r.options.outDir, "out");
  EXPECT_EQ(r.options.selection, Selection::All);

  r = Parse({"recover", "--to=out dir", "--match", "Report", "img"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.outDir, "out dir");
  EXPECT_EQ(r.options.selection, Selection::Match);
  EXPECT_EQ(r.options.match, "Report");
  EXPECT_EQ(r.options.volume, "img");

  r = Parse({"recover", "--match=季度", "img", "-o", "o", "--intact-only", "--report=r.jsonl"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.match, "季度");
  EXPECT_EQ(r.options.outDir, "o");
  EXPECT_TRUE(r.options.intactOnly);
  EXPECT_EQ(r.options.report, "r.jsonl");
  // Argument bytes that are not UTF-8 are kept as they are.
  r = Parse({"recover", "img\xff", "--to", "o\xfe", "--all"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.volume, "img\xff");
  EXPECT_EQ(r.options.outDir, "o\xfe");
}

TEST(CommandLine, IdsAreCommaListsAndAFollowingNumberIsNoId) {
  ParseResult r = Parse({"recover", "--id", "5,18446744073709551615,5", "img", "--to", "o"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.selection, Selection::Ids);
  EXPECT_EQ(r.options.ids, (std::vector<uint64_t>{5, UINT64_MAX}));
  EXPECT_EQ(r.options.volume, "img");

  r = Parse({"recover", "img", "--to", "o", "--id=7", "--id", "3,7"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.ids, (std::vector<uint64_t>{7, 3}));

  // The image is named 2024: it is the volume, never a second id.
  r = Parse({"recover", "--to", "o", "--id", "5", "2024"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.ids, std::vector<uint64_t>{5});
  EXPECT_EQ(r.options.volume, "2024");
  r = Parse({"recover", "img", "--to", "o", "--id", "5", "2024"});
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("unexpected argument '2024'"), std::string::npos) << r.error;
}

TEST(CommandLine, VersionAndSuggestions) {
  for (auto args : std::vector<std::vector<std::string>>{{"--version"}, {"-V"}}) {
    ParseResult r = Parse(args);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.version);
  }
  EXPECT_EQ(VersionText().rfind("kestrel " KESTREL_VERSION "\n", 0), 0u) << VersionText();

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"scna", "x"}, "unknown command 'scna'; did you mean 'scan'?"},
      {{"recovr"}, "did you mean 'recover'?"},
      {{"rec"}, "did you mean 'recover'?"},
      {{"lst"}, "did you mean 'list'?"},
      {{"help", "scam"}, "did you mean 'scan'?"},
      {{"scan", "x", "--jsn"}, "unknown option '--jsn' for scan; did you mean '--json'?"},
      {{"recover", "x", "--too=o", "--all"}, "unknown option '--too' for recover; did you mean '--to'?"},
      {{"recover", "x", "--to", "o", "--intact"}, "did you mean '--intact-only'?"},
  };
  for (const auto& [args, text] : cases) {
    ParseResult r = Parse(args);
    EXPECT_FALSE(r.ok) << args[0];
    EXPECT_NE(r.error.find(text), std::string::npos) << r.error;
  }
  ParseResult r = Parse({"frobnicate"});
  EXPECT_EQ(r.error.find("did you mean"), std::string::npos) << r.error;
  EXPECT_EQ(Suggest("xyz", {"list", "scan"}), "");
}

// Each bad argument is named in the message.
TEST(CommandLine, ErrorsNameTheBadArgument) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"recover", "img", "--to", "o", "--id", "twelve"}, "twelve"},
      {{"recover", "img", "--to", "o", "--id", "1,x2"}, "x2"},
      {{"recover", "img", "--to", "o", "--id", "99999999999999999999"}, "99999999999999999999"},
      {{"recover", "img", "--all", "--to"}, "--to"},
      {{"scan", "a.img", "b.img"}, "b.img"},
      {{"scan", "a.img", "--all"}, "--all"},
  };
  for (const auto& [args, text] : cases) {
    ParseResult r = Parse(args);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_NE(r.error.find(text), std::string::npos) << r.error;
  }
}

TEST(CommandLine, ItemIdsAreDecimal64Bit) {
  uint64_t id = 0;
  EXPECT_TRUE(ParseItemId("0", id));
  EXPECT_EQ(id, 0u);
  EXPECT_TRUE(ParseItemId("4294967296", id));
  EXPECT_EQ(id, 4294967296u);
  EXPECT_TRUE(ParseItemId("18446744073709551615", id));
  EXPECT_EQ(id, UINT64_MAX);
  EXPECT_FALSE(ParseItemId("18446744073709551616", id));
  EXPECT_FALSE(ParseItemId("", id));
  EXPECT_FALSE(ParseItemId("-1", id));
  EXPECT_FALSE(ParseItemId("0x10", id));
  EXPECT_FALSE(ParseItemId("12a", id));
}

TEST(CommandLine, HelpForEveryCommand) {
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
    ParseResult r = Parse(args);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(r.options.command, Command::None);
  }
  ParseResult r = Parse({"help", "recover"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.command, Command::Recover);
  // --help wins over arguments that would otherwise be wrong.
  r = Parse({"recover", "--all", "--help", "--bogus"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.options.help);
  EXPECT_EQ(r.options.command, Command::Recover);
  r = Parse({"scan", "-h"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.command, Command::Scan);
  r = Parse({"list", "--help"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.options.help);

  EXPECT_EQ(HelpText(Command::Scan).rfind("usage: kestrel scan VOLUME [--json | --jsonl]", 0), 0u);
  EXPECT_EQ(HelpText(Command::Recover).rfind(
                "usage: kestrel recover VOLUME --to DIR (--all | --id ID[,ID...] | --match TEXT)\n", 0),
            0u);
  EXPECT_EQ(HelpText(Command::List).rfind("usage: kestrel list [DISK]\n", 0), 0u);
  EXPECT_EQ(HelpText(Command::None).rfind("usage: kestrel COMMAND", 0), 0u);
  // The exit statuses are documented where the user looks for them.
  for (Command c : {Command::None, Command::Scan, Command::Recover})
    for (const char* status : {"  0 ", "  1 ", "  2 ", "  3 ", "  130 "})
      EXPECT_NE(HelpText(c).find(status), std::string::npos) << CommandName(c) << status;
}

TEST(CommandLine, WholeDisksTakeAPartitionNumberAndListTakesADisk) {
  ParseResult r = Parse({"recover", "disk.img", "--partition", "2", "--to", "o", "--all"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.volume, "disk.img");
  EXPECT_EQ(r.options.partition, 2);
  r = Parse({"scan", "--partition=5", "/dev/sdb"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.partition, 5);
  r = Parse({"list", "/dev/sdb"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.volume, "/dev/sdb");
  r = Parse({"list"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.volume.empty());
}

TEST(CommandLine, UsageErrorsAreOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--verbose"},
      {"help", "nothing"},
      {"list", "disk.img", "extra"},
      {"list", "--partition", "1"},
      {"scan", "disk.img", "--partition", "0"},
      {"scan", "disk.img", "--partition", "two"},
      {"scan", "disk.img", "--partition", "1", "--partition", "2"},
      {"scan"},
      {"scan", "a.img", "b.img"},
      {"scan", "a.img", "--all"},
      {"scan", ""},
      {"recover", "img", "--all"},                          // no --to
      {"recover", "img", "--to", "o"},                      // no selection
      {"recover", "img", "--to"},                           // --to without folder
      {"recover", "img", "--to=", "--all"},
      {"recover", "img", "--to", "o", "--to", "p", "--all"},
      {"recover", "img", "--to", "o", "--all", "--match", "x"},
      {"recover", "img", "--to", "o", "--id", "1", "--all"},
      {"recover", "img", "--to", "o", "--id"},
      {"recover", "img", "--to", "o", "--id", "abc"},
      {"recover", "img", "--to", "o", "--id=-3"},
      {"recover", "img", "--to", "o", "--id", "99999999999999999999"},
      {"recover", "img", "--to", "o", "--match"},
      {"recover", "img", "--to", "o", "--match", ""},
      {"recover", "img", "--to", "o", "--match", "a", "--match", "b"},
      {"recover", "--to", "o", "--all"},                    // no volume
      {"recover", "img", "--to", "o", "--json", "--all"},
      {"scan", "img", "--json", "--jsonl"},
      {"--bogus"},
  };
  for (const auto& args : bad) {
    ParseResult r = Parse(args);
    std::string joined;
    for (const auto& a : args) joined += "[" + a + "]";
    EXPECT_FALSE(r.ok) << joined;
    EXPECT_FALSE(r.error.empty()) << joined;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << joined;
    EXPECT_NE(r.error.find("--help"), std::string::npos) << joined;
  }
}

}  // namespace
}  // namespace kestrel::cli
