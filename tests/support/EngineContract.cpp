#include "tests/support/EngineContract.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/os/Os.h"

namespace kestrel::test {
namespace {

constexpr char16_t kLetter = u'W';
constexpr uint64_t kUnixEpochAsFileTime = 11644473600ull;

std::string Slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

std::map<std::string, ExpectedOutcome> ReadExpectations(const std::string& name) {
  std::map<std::string, ExpectedOutcome> out;
  std::ifstream in(FixtureDir() / (name + ".expect"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string path, state, bytes;
    if (!std::getline(fields, path, '\t') || !std::getline(fields, state, '\t') ||
        !std::getline(fields, bytes, '\t')) {
      ADD_FAILURE() << "bad expectation line: " << line;
      continue;
    }
    ExpectedOutcome e;
    e.state = state == "intact"        ? KX_STATE_INTACT
              : state == "partly"      ? KX_STATE_PARTLY_OVERWRITTEN
              : state == "overwritten" ? KX_STATE_OVERWRITTEN
                                       : KX_STATE_UNKNOWN;
    e.sameBytes = bytes == "same";
    out[path] = e;
  }
  return out;
}

const EngineEntry* FindEngine(const std::string& engineName) {
  for (const EngineEntry& e : EngineTable())
    if (engineName == e.name) return &e;
  return nullptr;
}

std::vector<ContractItem> CheckEngineContract(
    const EngineEntry& engine, const std::filesystem::path& image, uint8_t fsKind,
    const std::vector<ManifestEntry>& expected,
    const std::map<std::string, ExpectedOutcome>& outcomes) {
  std::vector<ContractItem> found;
  SCOPED_TRACE(image.filename().string());
  ClearStop();
  // The probe takes the volume's first bytes, as the listing reads them.
  std::vector<uint8_t> lead(4096);
  {
    std::ifstream in(image, std::ios::binary);
    in.read(reinterpret_cast<char*>(lead.data()), static_cast<std::streamsize>(lead.size()));
    lead.resize(static_cast<size_t>(in.gcount()));
  }
  const ProbeResult probe = engine.probe(ByteView(lead.data(), lead.size()));
  EXPECT_TRUE(probe.outcome.ok()) << os::ToUtf8(probe.outcome.text);
  EXPECT_EQ(probe.fsKind, fsKind);
  EXPECT_FALSE(probe.typeName.empty());
  const EngineEntry* first = nullptr;
  ProbeLead(ByteView(lead.data(), lead.size()), &first);
  EXPECT_EQ(first, &engine) << "the table asks another engine first";

  os::ClearMappings();
  EXPECT_TRUE(os::MapVolume(kLetter, KernelPath(image)));
  Outcome opened;
  std::unique_ptr<VolumeEngine> volume = engine.open(LetterSource(kLetter), opened);
  EXPECT_TRUE(opened.ok()) << os::ToUtf8(opened.text);
  if (!volume) {
    os::ClearMappings();
    return found;
  }
  const VolumeFacts facts = volume->Facts();
  EXPECT_EQ(facts.fileSystem, probe.typeName);
  EXPECT_EQ(facts.sectorBytes, probe.sectorBytes);
  EXPECT_EQ(facts.totalBytes, probe.totalSectors * probe.sectorBytes);
  EXPECT_LE(facts.totalBytes, std::filesystem::file_size(image));
  EXPECT_GE(facts.clusterBytes, facts.sectorBytes);

  // The scan: exactly the deleted files, counted one by one as found.
  MessageCollector window;
  ScanProgress progress;
  TheRegistry().Clear();
  const std::u16string prefix = std::u16string(1, kLetter) + u":\\";
  ScanSink sink(TheRegistry(), prefix, window.window(), &progress);
  const Outcome scanned = volume->Scan(sink);
  EXPECT_TRUE(scanned.ok()) << os::ToUtf8(scanned.text);
  EXPECT_GT(progress.total.load(), 0u);
  EXPECT_EQ(progress.done.load(), progress.total.load()) << "progress ends at its total";
  // On Windows the counts wait in the window's queue: end it as a scan
  // thread would, and take them out.
  os::PostToWindow(window.window(), KESTREL_WM_CLOSE, 0, 0);
  EXPECT_TRUE(window.WaitForClose());
  const size_t count = TheRegistry().Count();
  std::vector<uintptr_t> counts;
  for (size_t i = 1; i <= count; ++i) counts.push_back(i);
  EXPECT_EQ(window.FoundCounts(), counts);

  std::map<std::string, size_t> byPath;
  std::set<uint64_t> ids;
  const std::string base = os::ToUtf8(sink.Base());
  for (size_t i = 0; i < count; ++i) {
    ContractItem c;
    EXPECT_TRUE(TheRegistry().CopyOut(i, &c.item));
    EXPECT_TRUE(TheRegistry().DetailsAt(i, c.details));
    const std::string full = Utf8(c.item.path);
    EXPECT_EQ(full.rfind(base, 0), 0u) << full;
    c.path = Slashes(full.substr(std::min(base.size(), full.size())));
    EXPECT_TRUE(byPath.emplace(c.path, i).second) << "listed twice: " << c.path;
    EXPECT_TRUE(ids.insert((uint64_t{c.item.idHigh} << 32) | c.item.idLow).second) << c.path;
    uint64_t utc = 0;
    if (c.item.modified != 0 && os::LocalFileTimeToUtc(c.item.modified, utc))
      EXPECT_EQ(c.details.modified, utc) << c.path;
    found.push_back(std::move(c));
  }
  EXPECT_EQ(found.size(), expected.size());
  for (const ManifestEntry& m : expected) {
    auto it = byPath.find(m.path);
    if (it == byPath.end()) {
      ADD_FAILURE() << "not listed: " << m.path;
      continue;
    }
    const ContractItem& c = found[it->second];
    EXPECT_EQ(c.item.size, m.size) << m.path;
    EXPECT_EQ(c.item.modified, (uint64_t(m.mtime) + kUnixEpochAsFileTime) * 10000000ull) << m.path;
  }

  // Recovery of every item, through the one writer.
  TempDir out;
  std::map<std::string, std::string> sums;
  for (const ManifestEntry& m : expected) sums[m.path] = m.sha256;
  for (ContractItem& c : found) {
    ItemWriter writer(out.AsFolderArgument());
    c.recovered = volume->Recover((uint64_t{c.item.idHigh} << 32) | c.item.idLow, writer);
    if (c.recovered.ok()) {
      EXPECT_EQ(writer.OutputPath().substr(writer.Base().size()),
                std::u16string(reinterpret_cast<const char16_t*>(c.item.path))
                    .substr(sink.Base().size()));
      c.sha256 = Sha256File(out.path() / "Deleted" / std::filesystem::u8path(c.path));
    }
    auto sum = sums.find(c.path);
    if (sum == sums.end()) continue;
    const bool same = c.recovered.ok() && c.sha256 == sum->second;
    auto expect = outcomes.find(c.path);
    if (expect != outcomes.end()) {
      EXPECT_EQ(int{c.details.state}, int{expect->second.state}) << c.path;
      EXPECT_EQ(same, expect->second.sameBytes) << c.path;
    } else if (c.details.state == KX_STATE_INTACT) {
      EXPECT_TRUE(same) << "reported intact, read back otherwise: " << c.path << " "
                        << os::ToUtf8(c.recovered.text);
    }
    if (c.details.state == KX_STATE_OVERWRITTEN && c.details.overwrittenShare == 10000 &&
        c.item.size > 0)
      EXPECT_FALSE(same) << "wholly overwritten, read back whole: " << c.path;
  }
  for (const auto& [path, e] : outcomes) EXPECT_TRUE(byPath.count(path)) << "expected: " << path;

  // An id the scan did not give, and a stop, are told apart.
  ItemWriter none(out.AsFolderArgument());
  EXPECT_EQ(volume->Recover(uint64_t{1} << 40, none).code, KX_RECOVER_NOT_FOUND);
  auto sized = std::find_if(found.begin(), found.end(),
                            [](const ContractItem& c) { return c.item.size > 0; });
  if (sized != found.end()) {
    TempDir stopped;
    ItemWriter writer(stopped.AsFolderArgument());
    RequestStop();
    EXPECT_EQ(
        volume->Recover((uint64_t{sized->item.idHigh} << 32) | sized->item.idLow, writer).code,
        KX_RECOVER_STOPPED);
    ClearStop();
  }
  volume.reset();
  os::ClearMappings();
  return found;
}

}  // namespace kestrel::test
