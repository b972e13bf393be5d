#include "kernel/os/VolumeTable.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

#include "kernel/os/Os.h"

namespace kestrel::os {
namespace {

struct Table {
  std::mutex lock;
  std::map<char16_t, MappedImage> letters;
  std::map<int, MappedImage> physical;
};

Table& TheTable() {
  static Table table;
  return table;
}

char16_t UpperLetter(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
  return c;
}

bool ParseNumber(const std::u16string& text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t value = 0;
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    i = 2;
  }
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    else return false;
    if (value > (UINT64_MAX - digit) / base) return false;
    value = value * base + digit;
  }
  out = value;
  return true;
}

// Puts an image under `key`, or removes the key when there is none.
template <typename Key>
void Store(std::map<Key, MappedImage>& map, Key key, std::optional<MappedImage> image) {
  std::lock_guard<std::mutex> guard(TheTable().lock);
  if (image)
    map[key] = std::move(*image);
  else
    map.erase(key);
}

MappedImage InMemory(std::shared_ptr<const std::vector<uint8_t>> bytes) {
  MappedImage image;
  image.path = u"<memory>";
  image.memory = std::move(bytes);
  return image;
}

}  // namespace

std::optional<MappedImage> ParseMappedImage(const std::u16string& spec) {
  MappedImage image;
  size_t at = spec.rfind(u'@');
  if (at == std::u16string::npos) {
    image.path = spec;
  } else {
    image.path = spec.substr(0, at);
    std::u16string suffix = spec.substr(at + 1);
    size_t plus = suffix.find(u'+');
    if (!ParseNumber(suffix.substr(0, plus), image.offset)) return std::nullopt;
    if (plus != std::u16string::npos && !ParseNumber(suffix.substr(plus + 1), image.length))
      return std::nullopt;
  }
  if (image.path.empty()) return std::nullopt;
  return image;
}

namespace {
// An empty spec removes the mapping; a malformed one is refused.
template <typename Key>
bool StoreSpec(std::map<Key, MappedImage>& map, Key key, const std::u16string& spec) {
  if (spec.empty()) {
    Store(map, key, std::nullopt);
    return true;
  }
  auto image = ParseMappedImage(spec);
  if (!image) return false;
  Store(map, key, std::move(image));
  return true;
}
}  // namespace

bool SetVolumeMapping(char16_t letter, const std::u16string& spec) {
  letter = UpperLetter(letter);
  if (letter < u'A' || letter > u'Z') return false;
  return StoreSpec(TheTable().letters, letter, spec);
}

bool SetPhysicalMapping(int number, const std::u16string& spec) {
  if (number < 0 || number > 126) return false;
  return StoreSpec(TheTable().physical, number, spec);
}

namespace {
class MemoryDevice final : public Device {
 public:
  explicit MemoryDevice(MappedImage image) : image_(std::move(image)) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override {
    const std::vector<uint8_t>& bytes = *image_.memory;
    return ReadInsideImage(image_, offset, length, got,
                           [&](uint64_t absolute, size_t len, size_t& done) {
                             done = 0;
                             if (absolute >= bytes.size()) return true;
                             done = static_cast<size_t>(
                                 std::min<uint64_t>(len, bytes.size() - absolute));
                             std::memcpy(buffer, bytes.data() + absolute, done);
                             return true;
                           });
  }
  bool Flush() override { return true; }
  bool QueryGeometry(DiskGeometry&) override { return false; }
  bool CheckVerify() override { return true; }
  bool QuerySize(uint64_t& bytes) override {
    const uint64_t all = image_.memory->size();
    const uint64_t from = std::min<uint64_t>(image_.offset, all);
    bytes = image_.length != 0 ? std::min<uint64_t>(image_.length, all - from) : all - from;
    return true;
  }

 private:
  MappedImage image_;
};
}  // namespace

std::unique_ptr<Device> OpenMemoryImage(const MappedImage& image) {
  if (!image.memory) return nullptr;
  return std::make_unique<MemoryDevice>(image);
}

bool SetVolumeMemory(char16_t letter, std::shared_ptr<const std::vector<uint8_t>> bytes) {
  letter = UpperLetter(letter);
  if (letter < u'A' || letter > u'Z' || !bytes) return false;
  Store(TheTable().letters, letter, InMemory(std::move(bytes)));
  return true;
}

bool SetPhysicalMemory(int number, std::shared_ptr<const std::vector<uint8_t>> bytes) {
  if (number < 0 || number > 126 || !bytes) return false;
  Store(TheTable().physical, number, InMemory(std::move(bytes)));
  return true;
}

std::optional<MappedImage> FindVolumeMapping(char16_t letter) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.letters.find(UpperLetter(letter));
  if (it == t.letters.end()) return std::nullopt;
  return it->second;
}

std::optional<MappedImage> FindPhysicalMapping(int number) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.physical.find(number);
  if (it == t.physical.end()) return std::nullopt;
  return it->second;
}

void ClearAllMappings() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.letters.clear();
  t.physical.clear();
}

int LoadMappingList(const std::string& list) {
  int taken = 0;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    size_t eq = item.find('=');
    if (eq != std::string::npos && eq > 0) {
      std::string key = item.substr(0, eq);
      std::u16string value = FromHostBytes(item.substr(eq + 1));
      const std::string kPhysical = "PhysicalDrive";
      if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]))) {
        if (SetVolumeMapping(static_cast<char16_t>(key[0]), value)) ++taken;
      } else if (key.size() > 1 && key[key.size() - 1] == ':' && key.size() == 2 &&
                 std::isalpha(static_cast<unsigned char>(key[0]))) {
        if (SetVolumeMapping(static_cast<char16_t>(key[0]), value)) ++taken;
      } else if (key.rfind(kPhysical, 0) == 0) {
        uint64_t n = 0;
        std::string digits = key.substr(kPhysical.size());
        if (ParseNumber(std::u16string(digits.begin(), digits.end()), n) && n <= 126 &&
            SetPhysicalMapping(static_cast<int>(n), value))
          ++taken;
      }
    }
    start = end + 1;
  }
  return taken;
}

}  // namespace kestrel::os
