#include "tests/exfat/ExfatTestSupport.h"

#include "kernel/StopFlag.h"

#include <fstream>
#include <iterator>

#include "kernel/device/VolumeSource.h"
#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

OpenedExfat OpenMapped(char16_t letter) {
  OpenedExfat out;
  std::vector<uint8_t> lead(4096);
  {
    auto device = os::OpenVolume(letter, os::Access::Read);
    size_t got = 0;
    if (device) device->ReadAt(0, lead.data(), lead.size(), got);
    lead.resize(got);
  }
  const EngineEntry* engine = nullptr;
  out.probe = ProbeLead(ByteView(lead.data(), lead.size()), &engine);
  if (!engine) return out;
  out.engine = engine->open(LetterSource(letter), out.outcome);
  return out;
}

}  // namespace

OpenedExfat OpenExfatImage(char16_t letter, const std::filesystem::path& image) {
  os::MapVolume(letter, KernelPath(image));
  return OpenMapped(letter);
}

OpenedExfat OpenExfatBytes(char16_t letter, std::vector<uint8_t> bytes) {
  os::SetVolumeMemory(letter, std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
  return OpenMapped(letter);
}

void ClearExfatMappings() { os::ClearMappings(); }

Outcome ScanAll(VolumeEngine& engine, std::vector<ScannedItem>& items) {
  DelItemRegistry registry;
  ScanSink sink(registry, u"X:\\", nullptr);
  ClearStop();  // a stop an earlier test raised ends no scan here
  Outcome outcome = engine.Scan(sink);
  items.clear();
  for (size_t i = 0; i < registry.Count(); ++i) {
    DelItem raw;
    registry.CopyOut(i, &raw);
    ScannedItem item;
    item.path = reinterpret_cast<const char16_t*>(raw.path);
    item.id = raw.idLow | (uint64_t{raw.idHigh} << 32);
    item.size = raw.size;
    item.modified = raw.modified;
    registry.DetailsAt(i, item.details);
    items.push_back(std::move(item));
  }
  EXPECT_EQ(sink.Found(), items.size());
  return outcome;
}

std::filesystem::path HostPath(const std::u16string& kernelPath) {
  std::string path = os::ToUtf8(kernelPath);
#if !defined(_WIN32)
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return std::filesystem::u8path(path);
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kestrel::test
