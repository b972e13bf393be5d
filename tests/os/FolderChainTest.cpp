// Recovery folders are made on demand, parents first as far as missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "kernel/os/Os.h"
#include "tests/support/TestSupport.h"

namespace kestrel::os {
namespace {

namespace fs = std::filesystem;

TEST(FolderChain, MakesWhatIsMissingAndKeepsWhatIsThere) {
  test::TempDir temp;
  const std::u16string base = test::KernelPath(temp.path());
  ASSERT_TRUE(CreateFolderChain(base + u"\\a\\b\\c"));
  EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b" / "c"));
  {
    std::ofstream keep(temp.path() / "a" / "b" / "kept.txt");
    keep << "x";
  }
  // Again, beside it, and with a separator at the end: the rest stays.
  EXPECT_TRUE(CreateFolderChain(base + u"\\a\\b\\c"));
  EXPECT_TRUE(CreateFolderChain(base + u"\\a\\b\\d\\e\\"));
  EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b" / "d" / "e"));
  EXPECT_TRUE(fs::is_regular_file(temp.path() / "a" / "b" / "kept.txt"));

  // A file where a folder should be: a clear no, and the file is untouched.
  {
    std::ofstream file(temp.path() / "file");
    file << "data";
  }
  EXPECT_FALSE(CreateFolderChain(base + u"\\file\\sub\\deeper"));
  EXPECT_TRUE(fs::is_regular_file(temp.path() / "file"));
  EXPECT_EQ(fs::file_size(temp.path() / "file"), 4u);
  EXPECT_FALSE(CreateFolderChain(base + u"\\file"));
}

}  // namespace
}  // namespace kestrel::os
