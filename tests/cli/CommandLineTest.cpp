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
  EXPECT_FALSE(r.options.json);

  r = Parse({"scan", "--json", "D:"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.json);
  EXPECT_EQ(r.options.volume, "D:");

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

  r = Parse({"recover", "--match=季度", "img", "--to", "o"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.match, "季度");
}

TEST(CommandLine, IdsRunUntilTheFirstNonNumberAndRepeatsCollapse) {
  ParseResult r = Parse({"recover", "--id", "5", "18446744073709551615", "5", "img", "--to", "o"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.selection, Selection::Ids);
  EXPECT_EQ(r.options.ids, (std::vector<uint64_t>{5, UINT64_MAX}));
  EXPECT_EQ(r.options.volume, "img");

  r = Parse({"recover", "img", "--to", "o", "--id=7", "--id", "3", "7"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.ids, (std::vector<uint64_t>{7, 3}));
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

  EXPECT_EQ(HelpText(Command::Scan).rfind("usage: kestrel scan VOLUME [--json]\n", 0), 0u);
  EXPECT_EQ(HelpText(Command::Recover).rfind(
                "usage: kestrel recover VOLUME --to DIR (--all | --id ID... | --match TEXT)\n", 0),
            0u);
  EXPECT_EQ(HelpText(Command::List).rfind("usage: kestrel list\n", 0), 0u);
  EXPECT_EQ(HelpText(Command::None).rfind("usage: kestrel COMMAND", 0), 0u);
}

TEST(CommandLine, UsageErrorsAreOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--verbose"},
      {"help", "nothing"},
      {"list", "extra"},
      {"scan"},
      {"scan", "a.img", "b.img"},
      {"scan", "a.img", "--json=yes"},
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
