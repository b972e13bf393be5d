// The built `kestrel` program on real images made by the fixture scripts:
// what it prints, what it writes and how it ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

// A guard against a hung program, not a timing check.
constexpr int kRunLimitSeconds = 300;

struct RunResult {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

// Runs kestrel with `args`; `env` entries ("NAME=value") replace or add to
// the environment. With `terminalStderr`, stderr is a pseudo-terminal, and
// SIGINT is sent once `interruptOn` shows on it.
RunResult Kestrel(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  bool terminalStderr = false, std::string interruptOn = {}) {
  TempDir io;
  const fs::path outFile = io.path() / "out", errFile = io.path() / "err";
  std::vector<std::string> argStore = {KESTREL_CLI_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& x) {
      return x.substr(0, x.find('=')) == name;
    });
    if (!replaced) envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int master = -1, slave = -1;
  if (terminalStderr && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (terminalStderr) {
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (slave >= 0) close(slave);
  RunResult r;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    if (master >= 0) close(master);
    return r;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
  int wstatus = 0;
  for (;;) {
    if (master >= 0) {  // keep the terminal drained so the program never blocks on it
      pollfd p{master, POLLIN, 0};
      while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        char buf[512];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        r.err.append(buf, static_cast<size_t>(n));
      }
      if (!interruptOn.empty() && r.err.find(interruptOn) != std::string::npos) {
        kill(pid, SIGINT);
        interruptOn.clear();
      }
    }
    pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      ADD_FAILURE() << "kestrel did not finish";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (master >= 0) {
    char buf[512];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
    close(master);
  } else {
    r.err = ReadAll(errFile);
  }
  r.out = ReadAll(outFile);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(sep, start);
    out.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// A usage (2) or volume (3) error: nothing on stdout, one line on stderr.
void ExpectFailureLine(const RunResult& r, const std::string& what, int status = 2) {
  EXPECT_EQ(r.status, status) << what << "\nstderr: " << r.err;
  EXPECT_EQ(r.out, "") << what;
  ASSERT_FALSE(r.err.empty()) << what;
  EXPECT_EQ(r.err.rfind("kestrel: ", 0), 0u) << what << ": " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
  EXPECT_EQ(r.err.back(), '\n') << what;
}

struct ScanLine {
  std::string id, size, state, modified, path;
};

std::vector<ScanLine> ParseScan(const std::string& out) {
  std::vector<ScanLine> rows;
  for (const std::string& line : Lines(out)) {
    std::vector<std::string> f = Split(line, '\t');
    EXPECT_EQ(f.size(), 5u) << line;
    if (f.size() != 5) continue;
    rows.push_back({f[0], f[1], f[2], f[3], f[4]});
  }
  return rows;
}

std::string IsoUtc(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  tm fields{};
  gmtime_r(&t, &fields);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
  return text;
}

// The last line of `recover` for freshly deleted files (all intact).
std::string Summary(size_t recovered, size_t failed) {
  return "recovered " + std::to_string(recovered) + " (" + std::to_string(recovered) +
         " intact, 0 partly overwritten, 0 overwritten), failed " + std::to_string(failed) + "\n";
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Every regular file under `dir`, relative, "/"-separated.
std::map<std::string, fs::path> FilesUnder(const fs::path& dir) {
  std::map<std::string, fs::path> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[fs::relative(e.path(), dir).generic_string()] = e.path();
  return files;
}

// The samples. NTFS times are shown in UTC whatever the zone the program
// runs in. FAT keeps a wall-clock time with no zone, which the kernel reads
// as local time, as Windows does: the FAT sample is scanned in the zone its
// builder wrote it in, UTC.
struct Sample {
  const char* name;
  bool ntfs;
};
const Sample kSamples[] = {{"sample_ntfs", true}, {"sample_fat32", false}};

// UTC+8 with no summer time; a plain POSIX zone needs no zone database.
const char* kZone = "TZ=CST-8";

class SampleTest : public ::testing::TestWithParam<Sample> {};

TEST_P(SampleTest, ScanListsExactlyTheDeletedFiles) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  auto manifest = ReadManifest(s.name);
  ASSERT_FALSE(manifest.empty());

  RunResult r = Kestrel({"scan", img.string()}, {s.ntfs ? kZone : "TZ=UTC0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "nothing on stderr when it is not a terminal";
  std::vector<ScanLine> rows = ParseScan(r.out);
  ASSERT_EQ(rows.size(), manifest.size()) << r.out;

  std::map<std::string, ScanLine> byPath;
  std::set<std::string> ids;
  for (const ScanLine& row : rows) {
    // Inside the volume: no letter, no "Deleted", "/" between folders.
    EXPECT_EQ(row.path.find_first_of(":\\"), std::string::npos) << row.path;
    EXPECT_NE(row.path.rfind("Deleted/", 0), 0u) << row.path;
    byPath[row.path] = row;
    uint64_t id = 0;
    EXPECT_NO_THROW(id = std::stoull(row.id)) << row.id;
    EXPECT_EQ(std::to_string(id), row.id);
    ids.insert(row.id);
  }
  EXPECT_EQ(ids.size(), rows.size()) << "ids are unique within a scan";
  for (const ManifestEntry& e : manifest) {
    auto it = byPath.find(e.path);
    ASSERT_NE(it, byPath.end()) << "not found: " << e.path << "\n" << r.out;
    EXPECT_EQ(it->second.size, std::to_string(e.size)) << e.path;
    EXPECT_EQ(it->second.state, "intact") << e.path;
    EXPECT_EQ(it->second.modified, IsoUtc(e.mtime)) << e.path;
  }
}

// A real JSON parser reads --json and --jsonl back into the scan lines.
TEST_P(SampleTest, JsonHoldsTheSameAsTheLines) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  RunResult lines = Kestrel({"scan", img.string()});
  RunResult json = Kestrel({"scan", "--json", img.string()});
  RunResult jsonl = Kestrel({"scan", img.string(), "--jsonl"});
  ASSERT_EQ(lines.status, 0) << lines.err;
  ASSERT_EQ(json.status, 0) << json.err;
  ASSERT_EQ(jsonl.status, 0) << jsonl.err;
  EXPECT_FALSE(ParseScan(lines.out).empty());

  nlohmann::json doc = nlohmann::json::parse(json.out);
  const nlohmann::json& volume = doc.at("volume");
  EXPECT_EQ(volume.at("fileSystem"), s.ntfs ? "NTFS" : "FAT32");
  EXPECT_LE(volume.at("size").get<uint64_t>(), fs::file_size(img));  // NTFS keeps its backup boot
  EXPECT_GT(volume.at("size").get<uint64_t>(), fs::file_size(img) / 2);  // sector outside
  EXPECT_GT(volume.at("clusterSize").get<uint64_t>(), 0u);
  EXPECT_TRUE(volume.at("serial").is_string());
  std::string rebuilt;
  for (const nlohmann::json& o : doc.at("items")) {
    for (const char* key : {"id", "path", "name", "size", "state", "overwrittenPercent", "flags",
                            "recordNumber", "created", "modified", "accessed"})
      EXPECT_TRUE(o.contains(key)) << key << " in " << o.dump();
    EXPECT_EQ(FileNameOf(o.at("path").get<std::string>()), o.at("name"));
    EXPECT_TRUE(o.at("flags").is_array());
    rebuilt += std::to_string(o.at("id").get<uint64_t>()) + "\t" +
               std::to_string(o.at("size").get<uint64_t>()) + "\t" +
               o.at("state").get<std::string>() + "\t" +
               (o.at("modified").is_null() ? "" : o.at("modified").get<std::string>()) + "\t" +
               o.at("path").get<std::string>() + "\n";
  }
  EXPECT_EQ(rebuilt, lines.out);
  // One object per line, the same objects.
  std::vector<std::string> streamed = Lines(jsonl.out);
  ASSERT_EQ(streamed.size(), doc.at("items").size());
  for (size_t i = 0; i < streamed.size(); ++i)
    EXPECT_EQ(nlohmann::json::parse(streamed[i]), doc.at("items")[i]);
}

TEST_P(SampleTest, RecoverAllWritesEveryFileIntact) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  auto manifest = ReadManifest(s.name);
  TempDir out;
  const fs::path target = out.path() / "Recovered Files";  // made by the program
  RunResult r = Kestrel({"recover", img.string(), "--to", target.string(), "--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Summary(manifest.size(), 0));
  EXPECT_EQ(r.err, "");
  auto files = FilesUnder(target);
  EXPECT_EQ(files.size(), manifest.size());
  for (const ManifestEntry& e : manifest) {
    auto it = files.find("Deleted/" + e.path);
    ASSERT_NE(it, files.end()) << "missing: Deleted/" << e.path;
    EXPECT_EQ(fs::file_size(it->second), e.size) << e.path;
    EXPECT_EQ(Sha256File(it->second), e.sha256) << e.path;
  }
}

TEST_P(SampleTest, RecoverMatchChoosesByFileNameOnly) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  auto manifest = ReadManifest(s.name);
  // Keywords: ASCII in another case, Chinese, a folder name, and a non-ASCII
  // letter in another case (which must not fold).
  for (const std::string keyword : {"TXT", "季度", "Documents", "CRÈME", "crème", ".tar.g"}) {
    std::vector<const ManifestEntry*> expected;
    for (const ManifestEntry& e : manifest)
      if (AsciiLower(FileNameOf(e.path)).find(AsciiLower(keyword)) != std::string::npos)
        expected.push_back(&e);
    TempDir out;
    RunResult r = Kestrel({"recover", img.string(), "--to", out.path().string(), "--match", keyword});
    EXPECT_EQ(r.status, 0) << keyword << ": " << r.err;
    EXPECT_EQ(r.out, Summary(expected.size(), 0)) << keyword;
    auto files = FilesUnder(out.path());
    EXPECT_EQ(files.size(), expected.size()) << keyword;
    for (const ManifestEntry* e : expected) {
      auto it = files.find("Deleted/" + e->path);
      ASSERT_NE(it, files.end()) << keyword << ": missing " << e->path;
      EXPECT_EQ(Sha256File(it->second), e->sha256) << e->path;
    }
  }
}

TEST_P(SampleTest, RecoverIdsWritesOnlyThoseAndCountsUnknownIdsAsFailed) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  auto manifest = ReadManifest(s.name);
  RunResult scan = Kestrel({"scan", img.string()});
  std::vector<ScanLine> rows = ParseScan(scan.out);
  ASSERT_GE(rows.size(), 3u) << scan.err;

  TempDir out;
  RunResult r = Kestrel({"recover", img.string(), "--to", out.path().string(), "--id",
                         rows[2].id + "," + rows[0].id});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Summary(2, 0));
  auto files = FilesUnder(out.path());
  ASSERT_EQ(files.size(), 2u);
  for (const ScanLine* row : {&rows[0], &rows[2]}) {
    const std::string& inside = row->path;
    auto it = files.find("Deleted/" + inside);
    ASSERT_NE(it, files.end()) << inside;
    auto e = std::find_if(manifest.begin(), manifest.end(),
                          [&](const ManifestEntry& m) { return m.path == inside; });
    ASSERT_NE(e, manifest.end()) << inside;
    EXPECT_EQ(Sha256File(it->second), e->sha256);
  }

  // An id the scan did not find: reported, counted as failed, status 1.
  uint64_t unused = 1;
  for (const ScanLine& row : rows) unused = std::max<uint64_t>(unused, std::stoull(row.id) + 1);
  TempDir out2;
  r = Kestrel({"recover", img.string(), "--to", out2.path().string(), "--id", rows[1].id, "--id",
               std::to_string(unused)});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, Summary(1, 1));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find(std::to_string(unused)), std::string::npos) << r.err;
  EXPECT_EQ(FilesUnder(out2.path()).size(), 1u);
}

TEST_P(SampleTest, DriveLetterFromTheVolumeTableAndFreeLetterForPaths) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  RunResult byPath = Kestrel({"scan", img.string()});
  ASSERT_EQ(byPath.status, 0) << byPath.err;
  RunResult byLetter = Kestrel({"scan", "d:"}, {"KESTREL_VOLUMES=D=" + img.string()});
  ASSERT_EQ(byLetter.status, 0) << byLetter.err;
  EXPECT_EQ(byLetter.out, byPath.out);

  // D: is taken by the user's own mapping: the path goes to the next letter,
  // only the named volume is scanned, and no letter shows in the output.
  TempDir tmp;
  fs::path zeros = tmp.path() / "zeros.img";
  WriteFile(zeros, std::string(1 << 20, '\0'));
  RunResult moved = Kestrel({"scan", img.string()}, {"KESTREL_VOLUMES=D=" + zeros.string()});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_EQ(moved.out, byPath.out);
}

TEST_P(SampleTest, ImagePathsWithAtSignsAndPartitionOffsets) {
  const Sample s = GetParam();
  fs::path img = RequireImage(s.name);
  if (img.empty()) return;
  RunResult plain = Kestrel({"scan", img.string()});
  ASSERT_EQ(plain.status, 0) << plain.err;

  TempDir tmp;
  fs::path odd = tmp.path() / "copy@1.img";
  fs::copy_file(img, odd);
  RunResult r = Kestrel({"scan", odd.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);

  // The volume one MiB into a larger file, named with @OFFSET+LENGTH.
  fs::path disk = tmp.path() / "disk.img";
  {
    std::ofstream out(disk, std::ios::binary);
    out << std::string(1 << 20, '\0') << std::ifstream(img, std::ios::binary).rdbuf();
  }
  r = Kestrel({"scan", disk.string() + "@1048576+" + std::to_string(fs::file_size(img))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

// The committed samples hold what samples/DELETED.txt says they lost.
TEST(KestrelCli, BundledSamplesGiveBackWhatDeletedTxtLists) {
  const fs::path samples = fs::path(KESTREL_SOURCE_DIR) / "samples";
  std::map<std::string, std::vector<std::vector<std::string>>> listed;  // by image
  std::ifstream in(samples / "DELETED.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = Split(line, '\t');
    ASSERT_EQ(f.size(), 5u) << line;
    listed[f[0]].push_back(f);
  }
  ASSERT_EQ(listed.size(), 2u);
  for (const auto& [gz, rows] : listed) {
    TempDir tmp;
    const fs::path img = tmp.path() / "sample.img";
    std::string cmd = "gzip -dc '" + (samples / gz).string() + "' > '" + img.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << gz;
    const fs::path out = tmp.path() / "out";
    RunResult r = Kestrel({"recover", img.string(), "--to", out.string(), "--all"}, {"TZ=UTC0"});
    EXPECT_EQ(r.status, 0) << gz << ": " << r.err;
    EXPECT_EQ(r.out, Summary(rows.size(), 0)) << gz;
    auto files = FilesUnder(out);
    EXPECT_EQ(files.size(), rows.size()) << gz;
    for (const auto& f : rows) {
      auto it = files.find("Deleted/" + f[1]);
      ASSERT_NE(it, files.end()) << gz << ": " << f[1];
      EXPECT_EQ(std::to_string(fs::file_size(it->second)), f[2]) << f[1];
      EXPECT_EQ(Sha256File(it->second), f[4]) << f[1];
    }
    // The listed times are UTC (FAT's read in the zone they were written in).
    const bool fat = gz.find("fat") != std::string::npos;
    RunResult scan = Kestrel({"scan", img.string()}, {fat ? "TZ=UTC0" : kZone});
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::map<std::string, std::string> shown;
    for (const ScanLine& row : ParseScan(scan.out)) shown[row.path] = row.modified;
    for (const auto& f : rows) {
      std::string iso = f[3];
      std::replace(iso.begin(), iso.end(), ' ', 'T');
      EXPECT_EQ(shown[f[1]], iso + "Z") << gz << ": " << f[1];
    }
  }
}

TEST(KestrelCli, ListShowsMappedVolumesWithTheirFileSystems) {
  fs::path ntfs = RequireImage("sample_ntfs");
  if (ntfs.empty()) return;
  fs::path fat = RequireImage("sample_fat32");
  if (fat.empty()) return;
  RunResult r = Kestrel({"list"}, {"KESTREL_VOLUMES=E=" + ntfs.string() + ";G=" + fat.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  std::vector<std::string> e = Split(lines[0], '\t'), g = Split(lines[1], '\t');
  ASSERT_EQ(e.size(), 3u);
  ASSERT_EQ(g.size(), 3u);
  EXPECT_EQ(e[0], "E:");
  EXPECT_EQ(e[1], "NTFS");
  EXPECT_EQ(g[0], "G:");
  EXPECT_EQ(g[1], "FAT32");
  EXPECT_EQ(e[2], std::to_string(fs::file_size(ntfs) / 512) + " sectors");
  EXPECT_EQ(g[2], std::to_string(fs::file_size(fat) / 512) + " sectors");
}

// Physical disks as the kernel's device list holds them (mapped to images
// here, as they are on Windows): each after the volumes, with the
// partitions an engine reads under the numbers 'list DISK' gives them.
TEST(KestrelCli, ListShowsPhysicalDisksWithTheirReadablePartitions) {
  fs::path gpt = RequireImage("disk_gpt");
  if (gpt.empty()) return;
  fs::path gap = RequireImage("disk_mbr_gap");
  if (gap.empty()) return;
  fs::path fat = RequireImage("sample_fat32");
  if (fat.empty()) return;
  RunResult r = Kestrel(
      {"list"}, {"KESTREL_VOLUMES=G=" + fat.string() + ";PhysicalDrive0=" + gpt.string() + ";PhysicalDrive2=" + gap.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(r.out)) rows.push_back(Split(line, '\t'));
  ASSERT_EQ(rows.size(), 7u) << r.out;
  EXPECT_EQ(rows[0][0], "G:");
  const std::vector<std::vector<std::string>> partitions = {
      {"\\\\.\\PhysicalDrive0 --partition 1", "FAT32", "69632 sectors", "photos"},
      {"\\\\.\\PhysicalDrive0 --partition 2", "NTFS", "81920 sectors", "documents"},
      {"\\\\.\\PhysicalDrive2 --partition 3", "FAT16", "20480 sectors"},
      {"\\\\.\\PhysicalDrive2 --partition 5", "FAT16", "16384 sectors"}};
  EXPECT_EQ(std::vector<std::string>(rows[1].begin(), rows[1].begin() + 2),
            (std::vector<std::string>{"\\\\.\\PhysicalDrive0", "GPT disk"}));
  EXPECT_EQ(rows[1].back(), "fixed disk #1");
  EXPECT_EQ(rows[2], partitions[0]);
  EXPECT_EQ(rows[3], partitions[1]);
  EXPECT_EQ(std::vector<std::string>(rows[4].begin(), rows[4].begin() + 2),
            (std::vector<std::string>{"\\\\.\\PhysicalDrive2", "MBR disk"}));
  EXPECT_EQ(rows[4].back(), "fixed disk #2");
  EXPECT_EQ(rows[5], partitions[2]);
  EXPECT_EQ(rows[6], partitions[3]);
}

TEST(KestrelCli, UnreadableOrUnsupportedVolumesEndWithStatus3) {
  TempDir tmp;
  ExpectFailureLine(Kestrel({"scan", (tmp.path() / "no such.img").string()}), "missing file", 3);
  ExpectFailureLine(Kestrel({"scan", tmp.path().string()}), "a folder", 3);
  ExpectFailureLine(Kestrel({"scan", (tmp.path() / "x.img@512").string()}), "missing file with offset", 3);

  fs::path zeros = tmp.path() / "zeros.img";
  WriteFile(zeros, std::string(4 << 20, '\0'));
  RunResult r = Kestrel({"scan", zeros.string()});
  ExpectFailureLine(r, "zeros", 3);
  fs::path empty = tmp.path() / "empty.img";
  WriteFile(empty, "");
  ExpectFailureLine(Kestrel({"scan", empty.string()}), "empty file", 3);

  fs::path ext2 = tmp.path() / "ext2.img";
  WriteFile(ext2, std::string(4 << 20, '\0'));
  std::string mk = "mke2fs -q -F -t ext2 '" + ext2.string() + "' >/dev/null 2>&1 || "
                   "/sbin/mke2fs -q -F -t ext2 '" + ext2.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(mk.c_str()), 0) << "mke2fs (e2fsprogs) is needed";
  ExpectFailureLine(Kestrel({"scan", ext2.string()}), "ext2", 3);
  ExpectFailureLine(Kestrel({"recover", ext2.string(), "--to", (tmp.path() / "o").string(), "--all"}),
                    "recover ext2", 3);
  EXPECT_FALSE(fs::exists(tmp.path() / "o")) << "nothing is created for an unusable volume";

  // A readable volume that lost nothing: no lines, a word on stderr, done.
  fs::path fresh = tmp.path() / "fresh.img";
  WriteFile(fresh, std::string(8 << 20, '\0'));
  ASSERT_EQ(std::system(("mkntfs -q -F -f '" + fresh.string() + "' >/dev/null 2>&1 || /sbin/mkntfs -q -F -f '" +
                         fresh.string() + "' >/dev/null 2>&1").c_str()), 0) << "mkntfs (ntfs-3g) is needed";
  r = Kestrel({"scan", fresh.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "kestrel: no deleted files found\n");

  // A letter that maps to nothing.
  ExpectFailureLine(Kestrel({"scan", "Q:"}, {"KESTREL_VOLUMES="}), "unmapped letter", 3);
}

TEST(KestrelCli, UsageErrorsEndWithStatus2) {
  TempDir tmp;
  const std::string img = (tmp.path() / "any.img").string();
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"unpack"},
      {"scan"},
      {"scan", img, "--all"},
      {"list", "D:"},
      {"recover", img, "--all"},
      {"recover", img, "--to", tmp.path().string()},
      {"recover", img, "--to", tmp.path().string(), "--all", "--match", "x"},
      {"recover", img, "--to", tmp.path().string(), "--id", "twelve"},
      {"recover", img, "--to", tmp.path().string(), "--match", ""},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += " " + a;
    ExpectFailureLine(Kestrel(args), "kestrel" + joined);
  }
}

TEST(KestrelCli, OutputFolderProblemsEndWithStatus2) {
  fs::path img = RequireImage("sample_ntfs");
  if (img.empty()) return;
  TempDir tmp;
  WriteFile(tmp.path() / "file", "x");
  ExpectFailureLine(
      Kestrel({"recover", img.string(), "--to", (tmp.path() / "file" / "sub").string(), "--all"}),
      "folder under a file");
  // On POSIX the kernel would turn "\" into "/": refused rather than misplaced.
  ExpectFailureLine(
      Kestrel({"recover", img.string(), "--to", (tmp.path() / "a\\b").string(), "--all"}),
      "backslash in folder");
  EXPECT_TRUE(FilesUnder(tmp.path()).size() == 1);
}

TEST(KestrelCli, ItemsTheKernelCannotWriteAreEachNamedWithAReason) {
  fs::path img = RequireImage("sample_ntfs");
  if (img.empty()) return;
  auto manifest = ReadManifest("sample_ntfs");
  TempDir tmp;
  // "Deleted" already exists as a file: no item can be written below it.
  WriteFile(tmp.path() / "Deleted", "in the way");
  RunResult r = Kestrel({"recover", img.string(), "--to", tmp.path().string(), "--all"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "recovered 0 (0 intact, 0 partly overwritten, 0 overwritten), failed " +
                       std::to_string(manifest.size()) + "\n");
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), manifest.size()) << r.err;
  for (const ManifestEntry& e : manifest) {
    auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind("kestrel: failed: " + e.path + ": ", 0) == 0;
    });
    ASSERT_NE(line, lines.end()) << e.path << "\n" << r.err;
    EXPECT_GT(line->size(), ("kestrel: failed: " + e.path + ": ").size()) << "a reason follows";
  }
  EXPECT_EQ(ReadAll(tmp.path() / "Deleted"), "in the way");
}

// --report: one line per chosen item, read by a real JSON parser and held
// against the bytes on disk. A second run into the same folder keeps the
// first files and reports where the new ones went.
TEST(KestrelCli, ReportLinesMatchWhatWasWritten) {
  fs::path img = RequireImage("sample_ntfs");
  if (img.empty()) return;
  auto manifest = ReadManifest("sample_ntfs");
  TempDir tmp;
  const fs::path out = tmp.path() / "out";
  std::set<std::string> outputs;
  for (int run = 0; run < 2; ++run) {
    const fs::path report = tmp.path() / ("report" + std::to_string(run) + ".jsonl");
    RunResult r = Kestrel({"recover", img.string(), "-o", out.string(), "--all", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(ReadAll(report));
    ASSERT_EQ(lines.size(), manifest.size());
    for (const std::string& line : lines) {
      nlohmann::json o = nlohmann::json::parse(line);
      auto e = std::find_if(manifest.begin(), manifest.end(),
                            [&](const ManifestEntry& m) { return m.path == o.at("path"); });
      ASSERT_NE(e, manifest.end()) << line;
      EXPECT_EQ(o.at("result"), "recovered");
      EXPECT_TRUE(o.at("reason").is_null());
      EXPECT_EQ(o.at("size").get<uint64_t>(), e->size);
      EXPECT_EQ(o.at("written").get<uint64_t>(), e->size);
      EXPECT_EQ(o.at("sha256"), e->sha256);
      const fs::path written = o.at("output").get<std::string>();
      EXPECT_EQ(Sha256File(written), e->sha256) << written;
      EXPECT_EQ(fs::relative(written, out).generic_string().rfind("Deleted/", 0), 0u) << written;
      EXPECT_TRUE(outputs.insert(written.string()).second) << "written twice: " << written;
    }
  }
  EXPECT_EQ(FilesUnder(out).size(), 2 * manifest.size()) << "nothing of the first run was lost";
}

// Deleted files whose clusters were taken again: the summary counts them by
// the state the scan shows, and --intact-only takes the intact ones alone.
TEST(KestrelCli, SummaryCountsStatesAndIntactOnlyTakesIntactItems) {
  fs::path img = RequireImage("ntfs_reuse");
  if (img.empty()) return;
  auto manifest = ReadManifest("ntfs_reuse");
  RunResult scan = Kestrel({"scan", img.string()});
  ASSERT_EQ(scan.status, 0) << scan.err;
  std::map<std::string, size_t> states;
  std::set<std::string> intact;
  for (const ScanLine& row : ParseScan(scan.out)) {
    ++states[row.state];
    if (row.state == "intact") intact.insert(row.path);
  }
  ASSERT_GT(states["intact"], 0u) << scan.out;
  ASSERT_GT(states["overwritten"] + states["partly-overwritten"], 0u) << scan.out;

  TempDir tmp;
  RunResult all = Kestrel({"recover", img.string(), "--to", (tmp.path() / "all").string(), "--all"});
  const size_t total = ParseScan(scan.out).size();
  EXPECT_EQ(all.out, "recovered " + std::to_string(total) + " (" + std::to_string(states["intact"]) +
                         " intact, " + std::to_string(states["partly-overwritten"]) + " partly overwritten, " +
                         std::to_string(states["overwritten"]) + " overwritten), failed 0\n")
      << all.err;

  RunResult only = Kestrel({"recover", img.string(), "--to", (tmp.path() / "intact").string(), "--all",
                            "--intact-only"});
  EXPECT_EQ(only.status, 0) << only.err;
  EXPECT_EQ(only.out, Summary(intact.size(), 0));
  auto files = FilesUnder(tmp.path() / "intact");
  EXPECT_EQ(files.size(), intact.size());
  for (const std::string& path : intact) {
    auto e = std::find_if(manifest.begin(), manifest.end(), [&](const ManifestEntry& m) { return m.path == path; });
    ASSERT_NE(e, manifest.end()) << path;
    ASSERT_TRUE(files.count("Deleted/" + path)) << path;
    EXPECT_EQ(Sha256File(files["Deleted/" + path]), e->sha256) << path;
  }
}

// The two other scans: files by their contents, and the file system before
// a quick format, listed and recovered like deleted files.
TEST(KestrelCli, DeepAndFormattedScansListAndRecoverTheirFinds) {
  struct Case {
    const char* image;
    const char* flag;
    const char* folder;
  } cases[] = {{"carve_ntfs", "--deep", "Carved files/"},
               {"fmt_ntfs_diff", "--formatted", "Previous file system/"}};
  for (const Case& c : cases) {
    fs::path img = RequireImage(c.image);
    if (img.empty()) return;
    RunResult scan = Kestrel({"scan", img.string(), c.flag});
    ASSERT_EQ(scan.status, 0) << c.image << scan.err;
    auto rows = ParseScan(scan.out);
    ASSERT_FALSE(rows.empty()) << c.image;
    for (const ScanLine& row : rows) EXPECT_EQ(row.path.rfind(c.folder, 0), 0u) << row.path;
    TempDir tmp;
    RunResult all = Kestrel({"recover", img.string(), c.flag, "--to", tmp.path().string(), "--all"});
    EXPECT_EQ(FilesUnder(tmp.path()).size(), rows.size()) << c.image << all.err;
  }
  EXPECT_EQ(Kestrel({"scan", "x.img", "--deep", "--formatted"}).status, 2);
}

// Folder and image names that are not UTF-8 are used byte for byte.
TEST(KestrelCli, PathsThatAreNotUtf8PassUnchanged) {
  fs::path sample = RequireImage("sample_ntfs");
  if (sample.empty()) return;
  auto manifest = ReadManifest("sample_ntfs");
  TempDir tmp;
  const fs::path img = tmp.path() / "disk\xff\xfe.img";
  fs::copy_file(sample, img);
  const fs::path out = tmp.path() / "out\xe9";  // Latin-1 "é"
  RunResult r = Kestrel({"recover", img.string(), "--to", out.string(), "--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Summary(manifest.size(), 0));
  auto files = FilesUnder(out);
  EXPECT_EQ(files.size(), manifest.size());
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2)
      << "no second, re-encoded folder";
  for (const ManifestEntry& e : manifest) EXPECT_TRUE(files.count("Deleted/" + e.path)) << e.path;
}

// Ctrl-C during a recovery: the copy under way stops, the rest is not
// attempted, the summary is printed, the status is 130, the report has a
// line for every chosen item, and nothing incomplete has a real name.
TEST(KestrelCli, InterruptStopsTheRecoveryAndReports) {
  fs::path img = RequireImage("ntfs");
  if (img.empty()) return;
  auto manifest = ReadManifest("ntfs");
  std::map<std::string, const ManifestEntry*> byPath;
  for (const ManifestEntry& e : manifest) byPath["Deleted/" + e.path] = &e;
  TempDir tmp;
  const fs::path out = tmp.path() / "out";
  const fs::path report = tmp.path() / "report.jsonl";
  RunResult r = Kestrel({"recover", img.string(), "--to", out.string(), "--all", "--report", report.string()},
                        {}, true, "recovering: ");
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.out.rfind("recovered ", 0), 0u) << r.out;
  size_t recovered = 0;
  std::vector<std::string> lines = Lines(ReadAll(report));
  EXPECT_EQ(lines.size(), manifest.size());
  for (const std::string& line : lines) {
    nlohmann::json o = nlohmann::json::parse(line);
    const std::string result = o.at("result");
    EXPECT_TRUE(result == "recovered" || result == "stopped" || result == "not-attempted") << line;
    recovered += result == "recovered";
  }
  EXPECT_EQ(r.out.rfind("recovered " + std::to_string(recovered) + " (", 0), 0u) << r.out;
  for (const auto& [name, file] : FilesUnder(out)) {
    if (name.size() > 8 && name.substr(name.size() - 8) == ".partial") continue;
    auto e = byPath.find(name);
    ASSERT_NE(e, byPath.end()) << name;
    EXPECT_EQ(Sha256File(file), e->second->sha256) << name << " stands incomplete under a real name";
  }
}

// Recovering onto the volume being scanned would overwrite what is being
// saved: refused before anything is written, by identity, whatever name
// leads there: a FUSE mount of the image, a hard link and a symlink to it,
// a bind mount of the mount point.
TEST(KestrelCli, RecoveryFolderOnTheScannedVolumeIsRefused) {
  fs::path sample = RequireImage("sample_ntfs");
  if (sample.empty()) return;
  TempDir tmp;
  const fs::path img = tmp.path() / "volume.img";
  fs::copy_file(sample, img);
  const fs::path mnt = tmp.path() / "mnt";
  fs::create_directory(mnt);
  // Writable, so that only the check itself can keep the files off it.
  std::string mount = "ntfs-3g '" + img.string() + "' '" + mnt.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(mount.c_str()), 0) << "ntfs-3g mount failed";
  struct Unmount {
    fs::path at;
    ~Unmount() {
      std::string cmd = "fusermount -u '" + at.string() + "'";
      EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
  } unmount{mnt};

  RunResult refused = Kestrel({"recover", img.string(), "--to", (mnt / "out").string(), "--all"});
  ExpectFailureLine(refused, "folder inside the mounted volume");
  EXPECT_NE(refused.err.find("volume being scanned"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(mnt / "out"));
  ExpectFailureLine(Kestrel({"recover", img.string(), "--to", mnt.string(), "--all"}),
                    "the mount point itself");
  fs::create_hard_link(img, tmp.path() / "hard.img");
  fs::create_symlink(img, tmp.path() / "sym.img");
  ExpectFailureLine(Kestrel({"recover", (tmp.path() / "hard.img").string(), "--to", (mnt / "o").string(), "--all"}),
                    "a hard link to the image");
  ExpectFailureLine(Kestrel({"recover", (tmp.path() / "sym.img").string(), "--to", (mnt / "o").string(), "--all"}),
                    "a symlink to the image");
  const fs::path bind = tmp.path() / "bind";
  fs::create_directory(bind);
  if (std::system(("mount --bind '" + mnt.string() + "' '" + bind.string() + "' 2>/dev/null").c_str()) == 0) {
    ExpectFailureLine(Kestrel({"recover", img.string(), "--to", (bind / "o").string(), "--all"}), "a bind mount");
    EXPECT_EQ(std::system(("umount '" + bind.string() + "'").c_str()), 0);
  } else {
    ADD_FAILURE() << "mount --bind failed (the tests run as root)";
  }
  EXPECT_FALSE(fs::exists(mnt / "o"));
  RunResult r = Kestrel({"recover", img.string(), "--to", (mnt / "..").string(), "--match", "Notes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Summary(1, 0));
  EXPECT_TRUE(fs::exists(tmp.path() / "Deleted" / "Documents" / "Notes"));
}

// A file system the kernel mounts from a loop device of the image: the
// loop device's backing file is the image, whichever name is given.
TEST(KestrelCli, RecoveryFolderOnALoopMountOfTheImageIsRefused) {
  TempDir tmp;
  const fs::path img = tmp.path() / "ext2.img";
  WriteFile(img, std::string(8 << 20, '\0'));
  ASSERT_EQ(std::system(("mke2fs -q -F -t ext2 '" + img.string() + "' >/dev/null 2>&1").c_str()), 0);
  const fs::path mnt = tmp.path() / "mnt";
  fs::create_directory(mnt);
  const fs::path deviceFile = tmp.path() / "device";
  std::string setup = "losetup -f --show '" + img.string() + "' > '" + deviceFile.string() + "' 2>/dev/null";
  ASSERT_EQ(std::system(setup.c_str()), 0) << "losetup failed (the tests run as root)";
  const std::string device = Lines(ReadAll(deviceFile)).at(0);
  struct Detach {
    std::string device;
    ~Detach() { EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0); }
  } detach{device};
  ASSERT_EQ(std::system(("mount -t ext2 " + device + " '" + mnt.string() + "'").c_str()), 0);
  struct Unmount {
    fs::path at;
    ~Unmount() { EXPECT_EQ(std::system(("umount '" + at.string() + "'").c_str()), 0); }
  } unmount{mnt};
  fs::create_hard_link(img, tmp.path() / "hard.img");
  for (const std::string& volume : {img.string(), (tmp.path() / "hard.img").string(), device})
    ExpectFailureLine(Kestrel({"recover", volume, "--to", (mnt / "out").string(), "--all"}), volume);
  EXPECT_FALSE(fs::exists(mnt / "out"));
}

// sfdisk's own account of a disk's table, by partition number (extended
// containers left out: they hold no file system).
struct SfdiskEntry {
  std::string start, size, name;
};
std::map<std::string, SfdiskEntry> SfdiskDump(const fs::path& disk) {
  TempDir tmp;
  const fs::path dump = tmp.path() / "dump";
  EXPECT_EQ(std::system(("sfdisk --dump '" + disk.string() + "' > '" + dump.string() + "' 2>/dev/null").c_str()), 0);
  const std::regex line(R"(^\S*?(\d+) : start=\s*(\d+), size=\s*(\d+), type=([0-9A-Fa-f-]+)(.*)$)");
  const std::regex name(R"~(name="([^"]*)")~");
  std::map<std::string, SfdiskEntry> entries;
  for (const std::string& text : Lines(ReadAll(dump))) {
    std::smatch m, n;
    if (!std::regex_match(text, m, line)) continue;
    if (m[4] == "5" || m[4] == "f" || m[4] == "85") continue;
    const std::string rest = m[5];
    entries[m[1]] = {m[2], m[3], std::regex_search(rest, n, name) ? n[1].str() : "-"};
  }
  return entries;
}

TEST(KestrelCli, ListOfADiskShowsItsTableAsSfdiskDoes) {
  fs::path gpt = RequireImage("disk_gpt");
  if (gpt.empty()) return;
  fs::path mbr = RequireImage("disk_mbr");
  if (mbr.empty()) return;
  fs::path badPrimary = RequireImage("disk_gpt_badprimary");
  if (badPrimary.empty()) return;
  fs::path gap = RequireImage("disk_mbr_gap");
  if (gap.empty()) return;
  const std::map<std::string, std::string> gptFs = {{"1", "FAT32"}, {"2", "NTFS"}};
  // By first sector, as make_volumes.sh formats them.
  const std::map<std::string, std::string> mbrFs = {
      {"2048", "FAT16"}, {"34816", "-"}, {"45056", "FAT32"}, {"182272", "FAT12"}, {"22528", "FAT16"}, {"4096", "FAT16"}};
  for (const auto& [disk, table] :
       {std::pair{gpt, gpt}, std::pair{mbr, mbr}, std::pair{badPrimary, gpt}, std::pair{gap, gap}}) {
    RunResult r = Kestrel({"list", disk.string()});
    ASSERT_EQ(r.status, 0) << disk << ": " << r.err;
    const std::map<std::string, SfdiskEntry> expected = SfdiskDump(table);
    ASSERT_FALSE(expected.empty()) << disk;
    std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines.size(), expected.size()) << disk << ":\n" << r.out;
    for (const std::string& line : lines) {
      std::vector<std::string> f = Split(line, '\t');
      ASSERT_GE(f.size(), 8u) << line;
      auto e = expected.find(f[0]);
      ASSERT_NE(e, expected.end()) << disk << ": " << line;
      EXPECT_EQ(f[1], e->second.start) << line;
      EXPECT_EQ(f[2], e->second.size) << line;
      EXPECT_EQ(f[3], std::to_string(std::stoull(e->second.start) * 512)) << line;
      EXPECT_EQ(f[4], std::to_string(std::stoull(e->second.size) * 512)) << line;
      EXPECT_EQ(f[6], e->second.name) << line;
      EXPECT_EQ(f[7], disk == mbr || disk == gap ? mbrFs.at(f[1]) : gptFs.at(f[0])) << line;
    }
    // Only the disk whose primary header is broken says so.
    EXPECT_EQ(r.err.empty(), disk != badPrimary) << disk << ": " << r.err;
  }
  // No table to trust, and a disk without any: one line each, status 3.
  fs::path badArrays = RequireImage("disk_gpt_badarrays");
  if (badArrays.empty()) return;
  ExpectFailureLine(Kestrel({"list", badArrays.string()}), "both GPT entry arrays damaged", 3);
  fs::path volume = RequireImage("vol_fat16");
  if (volume.empty()) return;
  ExpectFailureLine(Kestrel({"list", volume.string()}), "a bare volume", 3);
}

TEST(KestrelCli, PartitionNumberRecoversEachPartitionsDeletedFiles) {
  fs::path disk = RequireImage("disk_gpt");
  if (disk.empty()) return;
  for (const std::string n : {"1", "2"}) {
    auto manifest = ReadManifest("disk_gpt_p" + n);
    ASSERT_FALSE(manifest.empty());
    TempDir out;
    RunResult r = Kestrel({"recover", disk.string(), "--partition", n, "--to", out.path().string(), "--all"});
    ASSERT_EQ(r.status, 0) << "partition " << n << ": " << r.err;
    EXPECT_EQ(r.out, Summary(manifest.size(), 0)) << "partition " << n;
    auto files = FilesUnder(out.path());
    EXPECT_EQ(files.size(), manifest.size()) << "partition " << n;
    for (const ManifestEntry& e : manifest) {
      auto it = files.find("Deleted/" + e.path);
      ASSERT_NE(it, files.end()) << "partition " << n << ": " << e.path;
      EXPECT_EQ(Sha256File(it->second), e.sha256) << e.path;
    }
  }
  RunResult none = Kestrel({"scan", disk.string(), "--partition", "3"});
  EXPECT_EQ(none.status, 2) << none.err;
  EXPECT_EQ(none.err.rfind("kestrel: no partition 3 on", 0), 0u) << none.err;

  // The numbers list shows: a primary in slot 3 and the first logical
  // partition, 5; slot 1 holds the extended partition, no file system.
  fs::path gap = RequireImage("disk_mbr_gap");
  if (gap.empty()) return;
  for (const std::string n : {"3", "5"}) {
    auto manifest = ReadManifest("disk_mbr_gap_" + n);
    ASSERT_EQ(manifest.size(), 1u);
    TempDir out;
    RunResult r = Kestrel({"recover", gap.string(), "--partition", n, "--to", out.path().string(), "--all"});
    ASSERT_EQ(r.status, 0) << "partition " << n << ": " << r.err;
    auto files = FilesUnder(out.path());
    ASSERT_EQ(files.size(), 1u) << "partition " << n;
    EXPECT_EQ(Sha256File(files.begin()->second), manifest[0].sha256) << "partition " << n;
  }
  EXPECT_EQ(Kestrel({"scan", gap.string(), "--partition", "1"}).status, 2);

  // The output may not go into the partition's own file system, mounted
  // from a loop device over that part of the image.
  TempDir tmp;
  const fs::path copy = tmp.path() / "disk.img";
  fs::copy_file(disk, copy);
  const fs::path mnt = tmp.path() / "mnt", deviceFile = tmp.path() / "device";
  fs::create_directory(mnt);
  std::string setup = "losetup -f --show -o 36700160 --sizelimit 41943040 '" + copy.string() + "' > '" +
                      deviceFile.string() + "' 2>/dev/null";
  ASSERT_EQ(std::system(setup.c_str()), 0) << "losetup failed (the tests run as root)";
  const std::string device = Lines(ReadAll(deviceFile)).at(0);
  struct Detach {
    std::string device;
    ~Detach() { EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0); }
  } detach{device};
  ASSERT_EQ(std::system(("ntfs-3g " + device + " '" + mnt.string() + "' >/dev/null 2>&1").c_str()), 0);
  struct Unmount {
    fs::path at;
    ~Unmount() { EXPECT_EQ(std::system(("fusermount -u '" + at.string() + "'").c_str()), 0); }
  } unmount{mnt};
  ExpectFailureLine(Kestrel({"recover", copy.string(), "--partition", "2", "--to", (mnt / "out").string(), "--all"}),
                    "into the partition's mounted file system");
  EXPECT_NE(Kestrel({"recover", copy.string(), "--partition", "2", "--to", (mnt / "out").string(), "--all"})
                .err.find("volume being scanned"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(mnt / "out"));
}

TEST(KestrelCli, WholeDiskWithoutPartitionNumber) {
  fs::path disk = RequireImage("disk_gpt");
  if (disk.empty()) return;
  // Several supported partitions: the table and the option, status 2.
  RunResult r = Kestrel({"scan", disk.string()});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("--partition"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("photos"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("documents"), std::string::npos) << r.err;

  // A sector number given as the offset: what is there, and where the boot
  // sector is.
  r = Kestrel({"scan", disk.string() + "@71680"});
  ExpectFailureLine(r, "sector number as offset", 3);
  EXPECT_NE(r.err.find("zeros"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("partition 2 starts: its boot sector is at byte 36700160"), std::string::npos) << r.err;

  // Only one supported partition left (the NTFS boot sector wiped): used
  // without asking, and said so.
  TempDir tmp;
  const fs::path copy = tmp.path() / "disk.img";
  fs::copy_file(disk, copy);
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(71680 * 512);
    f << std::string(512, '\0');
  }
  r = Kestrel({"scan", copy.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("using partition 1"), std::string::npos) << r.err;
  RunResult chosen = Kestrel({"scan", copy.string(), "--partition", "1"});
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_EQ(r.out, chosen.out);
  EXPECT_EQ(ParseScan(r.out).size(), ReadManifest("disk_gpt_p1").size());
}

TEST(KestrelCli, HelpForEachCommand) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--help"}, "usage: kestrel COMMAND"},
      {{"help"}, "usage: kestrel COMMAND"},
      {{"list", "--help"}, "usage: kestrel list"},
      {{"scan", "--help"}, "usage: kestrel scan VOLUME [--json | --jsonl]"},
      {{"--version"}, "kestrel " KESTREL_VERSION "\n"},
      {{"recover", "--help"}, "usage: kestrel recover VOLUME --to DIR"},
      {{"help", "recover"}, "usage: kestrel recover VOLUME --to DIR"},
  };
  for (const auto& [args, start] : cases) {
    RunResult r = Kestrel(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out.rfind(start, 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

TEST(KestrelCli, ProgressOnlyOnATerminal) {
  fs::path img = RequireImage("sample_ntfs");
  if (img.empty()) return;
  RunResult quiet = Kestrel({"scan", img.string()});
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");

  RunResult shown = Kestrel({"scan", img.string()}, {}, true);
  ASSERT_EQ(shown.status, 0) << shown.err;
  // Units walked of the total, with a percentage.
  EXPECT_TRUE(std::regex_search(shown.err, std::regex(R"(scanning: \d+ of \d+ \(\d+%\), \d+ found)")))
      << shown.err;
  EXPECT_EQ(shown.out, quiet.out) << "stdout is the same either way";
  RunResult silenced = Kestrel({"scan", "--quiet", img.string()}, {}, true);
  EXPECT_EQ(silenced.err, "");

  TempDir out;
  RunResult rec = Kestrel({"recover", img.string(), "--to", out.path().string(), "--all"}, {}, true);
  ASSERT_EQ(rec.status, 0) << rec.err;
  size_t total = ParseScan(quiet.out).size();
  // Files and bytes done of the total, last drawn when all are done.
  std::string last = "recovering: " + std::to_string(total) + "/" + std::to_string(total) + " files, ";
  EXPECT_NE(rec.err.find(last), std::string::npos) << rec.err;
  EXPECT_NE(rec.err.find(" of "), std::string::npos) << rec.err;
}

}  // namespace
}  // namespace kestrel::test
