#include "tests/support/TestSupport.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "kernel/os/Os.h"

namespace fs = std::filesystem;

namespace kestrel::test {

fs::path FixtureDir() {
  const char* dir = std::getenv("KESTREL_FIXTURES");
  if (!dir || !*dir) return {};
  std::string d = dir;
#if defined(_WIN32)
  if (!d.empty() && d[0] == '/') d = "Z:" + d;  // Wine's view of the Unix root
#endif
  return fs::path(d);
}

static bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

fs::path RequireImage(const std::string& name) {
  fs::path dir = FixtureDir();
  fs::path image = dir / (name + ".img");
  if (!dir.empty() && fs::exists(image)) return image;
  if (InCi()) {
    ADD_FAILURE() << "fixture image missing in CI: " << image.string();
  } else {
    std::string why = "fixture image not built (run tests/fixtures/build_all.sh): " + image.string();
    // Marks the test skipped; the caller returns on the empty path.
    ::testing::internal::AssertHelper(::testing::TestPartResult::kSkip, __FILE__, __LINE__,
                                      why.c_str()) = ::testing::Message();
  }
  return {};
}

std::vector<ManifestEntry> ReadManifest(const std::string& name) {
  std::vector<ManifestEntry> out;
  std::ifstream in(FixtureDir() / (name + ".manifest"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ManifestEntry e;
    std::string size, mtime;
    std::getline(fields, e.path, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, mtime, '\t');
    std::getline(fields, e.sha256, '\t');
    e.size = std::stoull(size);
    e.mtime = std::stoll(mtime);
    out.push_back(e);
  }
  return out;
}

std::u16string KernelPath(const fs::path& path) {
  std::u16string p = U16(path.string());
#if defined(_WIN32)
  for (char16_t& c : p)
    if (c == u'/') c = u'\\';
#endif
  return p;
}

std::string Utf8(const KChar* text) {
  std::u16string s;
  for (; text && *text; ++text) s += static_cast<char16_t>(*text);
  return os::ToUtf8(s);
}
std::u16string U16(const std::string& utf8) { return os::FromUtf8(utf8); }
const KChar* K(const std::u16string& text) { return reinterpret_cast<const KChar*>(text.c_str()); }

// --- SHA-256 (FIPS 180-4), enough for comparing recovered bytes ---
namespace {
struct Sha256 {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t block[64];
  size_t used = 0;
  uint64_t total = 0;
  static uint32_t R(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void Compress(const uint8_t* p) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) |
             (uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = R(w[i - 15], 7) ^ R(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = R(w[i - 2], 17) ^ R(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = hh + (R(e, 6) ^ R(e, 11) ^ R(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      uint32_t t2 = (R(a, 2) ^ R(a, 13) ^ R(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  void Update(const uint8_t* p, size_t n) {
    total += n;
    while (n > 0) {
      size_t take = std::min(n, 64 - used);
      std::memcpy(block + used, p, take);
      used += take; p += take; n -= take;
      if (used == 64) { Compress(block); used = 0; }
    }
  }
  std::string Hex() {
    uint64_t bits = total * 8;
    uint8_t pad = 0x80;
    Update(&pad, 1);
    uint8_t zero = 0;
    while (used != 56) Update(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(len, 8);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint32_t v : h)
      for (int s = 28; s >= 0; s -= 4) out += digits[(v >> s) & 0xF];
    return out;
  }
};
}  // namespace

std::string Sha256Hex(const void* data, size_t size) {
  Sha256 s;
  s.Update(static_cast<const uint8_t*>(data), size);
  return s.Hex();
}

std::string Sha256File(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  Sha256 s;
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    s.Update(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<size_t>(in.gcount()));
  }
  return s.Hex();
}

TempDir::TempDir() {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    fs::path p = fs::temp_directory_path() / ("kestrel-test-" + std::to_string(rd()));
    if (fs::create_directory(p)) {
      path_ = p;
      return;
    }
  }
}
TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}
std::u16string TempDir::AsFolderArgument() const {
  std::u16string p = KernelPath(path_);
#if defined(_WIN32)
  p += u'\\';
#else
  p += u'/';
#endif
  return p;
}

// --- message collector ---
void MessageCollector::Add(uint32_t message, uintptr_t w, intptr_t l) {
  std::lock_guard<std::mutex> g(lock_);
  messages_.push_back({message, w, l});
  changed_.notify_all();
}

#if defined(_WIN32)
MessageCollector::MessageCollector() {
  hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                          nullptr);
}
MessageCollector::~MessageCollector() {
  if (hwnd_) DestroyWindow(static_cast<HWND>(hwnd_));
}
KWindow MessageCollector::window() { return hwnd_; }
bool MessageCollector::WaitForClose(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  HWND h = static_cast<HWND>(hwnd_);
  while (std::chrono::steady_clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, h, 0, 0, PM_REMOVE)) {
      Add(msg.message, msg.wParam, msg.lParam);
      if (msg.message == WM_CLOSE) return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return false;
}
#else
MessageCollector::MessageCollector() {
  sink_.post = &MessageCollector::Post;
  sink_.context = this;
}
MessageCollector::~MessageCollector() = default;
void MessageCollector::Post(void* ctx, uint32_t message, uintptr_t w, intptr_t l) {
  static_cast<MessageCollector*>(ctx)->Add(message, w, l);
}
KWindow MessageCollector::window() { return &sink_; }
bool MessageCollector::WaitForClose(int timeoutMs) {
  std::unique_lock<std::mutex> g(lock_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& m : messages_)
      if (m.message == KESTREL_WM_CLOSE) return true;
    return false;
  });
}
#endif

std::vector<PostedMessage> MessageCollector::messages() {
  std::lock_guard<std::mutex> g(lock_);
  return messages_;
}
int MessageCollector::CloseCount() {
  int n = 0;
  for (const auto& m : messages())
    if (m.message == KESTREL_WM_CLOSE) ++n;
  return n;
}
std::vector<uintptr_t> MessageCollector::FoundCounts() {
  std::vector<uintptr_t> out;
  for (const auto& m : messages())
    if (m.message == KESTREL_WM_SCAN_FOUND_COUNT) out.push_back(m.wParam);
  return out;
}

MountedKernel::MountedKernel(const std::vector<std::pair<char16_t, std::u16string>>& maps) {
  SH_UnInit();
  os::ClearMappings();
  for (const auto& [letter, path] : maps) KX_MapVolume(static_cast<KChar>(letter), K(path));
  SH_Init(nullptr);
}
MountedKernel::~MountedKernel() {
  SH_StopTask();
  SH_UnInit();
  os::ClearMappings();
}

std::vector<PostedMessage> ScanAndWait(const std::u16string& volume, int mode) {
  MessageCollector sink;
  std::u16string prefix = volume + u"\\";
  SH_Scan(K(prefix), K(volume), mode, sink.window());
  EXPECT_TRUE(sink.WaitForClose()) << "scan did not end";
  SH_StopTask();  // joins the finished thread
  return sink.messages();
}

std::map<std::u16string, PartitionParameter> AllPartitions() {
  std::map<std::u16string, PartitionParameter> out;
  int n = SH_GetPartitionCount();
  for (int i = 0; i < n; ++i) {
    PartitionParameter p;
    if (SH_GetPartitionParameter(&p, i) == 1)
      out[std::u16string(reinterpret_cast<const char16_t*>(p.name))] = p;
  }
  return out;
}

std::vector<DelItem> AllItems() {
  std::vector<DelItem> items(static_cast<size_t>(SH_GetDelItemCount()));
  for (size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(SH_GetDelItemFromIndex(static_cast<int>(i), &items[i]), 1);
  return items;
}

}  // namespace kestrel::test
