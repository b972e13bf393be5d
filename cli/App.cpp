#include "cli/App.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Items.h"
#include "cli/Platform.h"
#include "cli/Text.h"
#include "cli/VolumeArgument.h"
#include "kernel/Kestrel.h"

namespace fs = std::filesystem;

namespace kestrel::cli {
namespace {

constexpr int kExitUsage = 2;
// How many failed ids the final message names before it abbreviates.
constexpr size_t kNamedFailures = 10;

const KChar* K(const std::u16string& text) { return reinterpret_cast<const KChar*>(text.c_str()); }

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int Error(const std::string& message) {
  std::fflush(stdout);
  std::string line = "kestrel: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kExitUsage;
}

fs::path NativePath(const std::string& utf8) { return fs::path(Utf8ToUtf16(utf8)); }

// A line on stderr that rewrites itself; only on a terminal.
class ProgressLine {
 public:
  ProgressLine() : enabled_(StderrIsTerminal()) {}
  ~ProgressLine() { Finish(); }
  void Show(const std::string& text) {
    if (!enabled_ || text == last_) return;
    std::string line = "\r" + text;
    if (text.size() < last_.size()) line += std::string(last_.size() - text.size(), ' ');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    last_ = text;
  }
  void Finish() {
    if (enabled_ && !last_.empty()) std::fputc('\n', stderr);
    last_.clear();
  }

 private:
  bool enabled_;
  std::string last_;
};

struct Partition {
  std::u16string name;  // "D:"
  uint64_t sectors = 0;
  int fsKind = 0;
};

std::vector<Partition> Partitions() {
  std::vector<Partition> out;
  int count = SH_GetPartitionCount();
  for (int i = 0; i < count; ++i) {
    PartitionParameter p{};
    if (!SH_GetPartitionParameter(&p, i)) continue;
    Partition part;
    size_t n = 0;
    while (n < 64 && p.name[n] != 0) ++n;
    part.name.assign(reinterpret_cast<const char16_t*>(p.name), n);
    part.sectors = p.sectorCount;
    part.fsKind = p.fsKind;
    out.push_back(part);
  }
  return out;
}

// Owns the kernel's initialisation for the length of one command.
class KernelSession {
 public:
  KernelSession() = default;
  KernelSession(const KernelSession&) = delete;
  KernelSession& operator=(const KernelSession&) = delete;
  ~KernelSession() {
    if (initialised_) SH_UnInit();  // stops and joins a scan still running
  }

  void Init() {
    SH_Init(nullptr);
    initialised_ = true;
  }

  // Maps VOLUME when it is a path, initialises the kernel and finds the
  // partition. On failure returns false with a one-line message.
  bool Open(const std::string& argument, std::string& error) {
    VolumeTarget target = ClassifyVolume(argument);
    char16_t letter = target.letter;
    if (!target.isLetter) {
      if (!CheckReadable(target.path, error)) return false;
      letter = PickFreeLetter(LettersInUse());
      if (letter == 0) {
        error = "no free drive letter to map '" + target.path + "' to";
        return false;
      }
      std::error_code ec;
      bool existsAsGiven = fs::exists(NativePath(target.path), ec);
      std::u16string mapping = Utf8ToUtf16(MappingArgument(target.path, existsAsGiven));
      if (!KX_MapVolume(static_cast<KChar>(letter), K(mapping))) {
        error = "cannot use '" + target.path + "' as a volume";
        return false;
      }
    }
    Init();
    const std::u16string wanted = std::u16string(1, letter) + u":";
    for (const Partition& p : Partitions()) {
      if (p.name == wanted) {
        partition_ = p;
        return true;
      }
    }
    if (target.isLetter)
      error = Utf16ToUtf8(wanted) + " is not an NTFS or FAT volume that can be read";
    else
      error = "'" + target.path + "' is neither an NTFS nor a FAT volume";
    return false;
  }

  // Runs one scan to its end (its WM_CLOSE) and returns how many items it
  // found. The scan thread posts that message as its last act, after its
  // last item: the items can be read at once, while the thread winds down.
  int Scan() {
    ProgressLine progress;
    {
      std::unique_ptr<ScanListener> listener = CreateScanListener();
      const std::u16string prefix = partition_.name + u"\\";
      SH_Scan(K(prefix), K(partition_.name), partition_.fsKind, listener->Window());
      listener->Wait([&](uint64_t found) { progress.Show(ScanProgress(found)); });
    }
    progress.Finish();
    return std::max(SH_GetDelItemCount(), 0);
  }

  // What the scan found, copied out of the kernel.
  static std::vector<Item> Items(int count) {
    std::vector<Item> items;
    items.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
      DelItem record;
      if (SH_GetDelItemFromIndex(i, &record)) items.push_back(ItemFromRecord(record));
    }
    return items;
  }

 private:
  static bool CheckReadable(const std::string& path, std::string& error) {
    std::string file;
    SplitPartitionSuffix(path, file);
    std::error_code ec;
    fs::path native = NativePath(path);
    if (!fs::exists(native, ec)) {
      native = NativePath(file);
      if (file == path || !fs::exists(native, ec)) {
#if defined(_WIN32)
        // Device paths such as \\.\PhysicalDrive1 are not files to look at.
        if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0) return true;
#endif
        error = "cannot read '" + path + "': no such file or device";
        return false;
      }
    }
    if (fs::is_directory(native, ec)) {
      error = "cannot read '" + path + "': it is a folder";
      return false;
    }
    std::FILE* f = nullptr;
#if defined(_WIN32)
    f = _wfopen(native.c_str(), L"rb");
#else
    f = std::fopen(native.c_str(), "rb");
#endif
    if (!f) {
      error = "cannot read '" + path + "': permission denied or unreadable";
      return false;
    }
    std::fclose(f);
    return true;
  }

  bool initialised_ = false;
  Partition partition_;
};

int RunList() {
  KernelSession kernel;
  kernel.Init();
  for (const Partition& p : Partitions()) {
    const char* fs = p.fsKind == KESTREL_FS_NTFS ? "NTFS" : p.fsKind == KESTREL_FS_FAT ? "FAT" : "?";
    Out(Utf16ToUtf8(p.name) + '\t' + fs + '\t' + std::to_string(p.sectors) + " sectors\n");
  }
  return 0;
}

int RunScan(const Options& options) {
  KernelSession kernel;
  std::string error;
  if (!kernel.Open(options.volume, error)) return Error(error);
  const int count = kernel.Scan();
  if (options.json) {
    Out(FormatJson(KernelSession::Items(count)));
  } else {
    // Lines go out in large writes, formatted straight from the records.
    std::string block;
    DelItem record;
    for (int i = 0; i < count; ++i) {
      if (!SH_GetDelItemFromIndex(i, &record)) continue;
      AppendScanLine(block, record);
      if (block.size() >= (1u << 16)) {
        Out(block);
        block.clear();
      }
    }
    Out(block);
  }
  return 0;
}

int RunRecover(const Options& options) {
#if !defined(_WIN32)
  // The kernel turns "\" into "/" on its way to the disk: such a folder name
  // would send the files somewhere else than asked.
  if (options.outDir.find('\\') != std::string::npos)
    return Error("the folder given to --to must not contain '\\'");
#endif
  KernelSession kernel;
  std::string error;
  if (!kernel.Open(options.volume, error)) return Error(error);

  std::error_code ec;
  fs::path out = NativePath(options.outDir);
  fs::path absolute = fs::absolute(out, ec);
  if (!ec) out = absolute.lexically_normal();
  // Checked before anything is created: a folder on the scanned volume
  // would overwrite the deleted data it is meant to save.
  VolumeTarget target = ClassifyVolume(options.volume);
  const char16_t letter = target.isLetter ? target.letter : DeviceLetter(target.path);
  std::string device = target.isLetter ? VolumeTablePath(target.letter) : target.path;
  if (!fs::exists(NativePath(device), ec)) SplitPartitionSuffix(device, device);
  if ((letter != 0 && FolderOnDriveLetter(Utf16ToUtf8(out.u16string()), letter)) ||
      (!device.empty() && FolderOnMountedVolume(out, NativePath(device))))
    return Error("the folder given to --to must not be on the volume being scanned");
  fs::create_directories(out, ec);
  if (!fs::is_directory(out, ec)) return Error("cannot create the folder '" + options.outDir + "'");
  const std::u16string folder =
      Utf8ToUtf16(RecoveryFolderArgument(Utf16ToUtf8(out.u16string()), FolderSeparator()));

  const int count = kernel.Scan();
  SH_StopTask();  // the scan thread is gone before anything is recovered
  std::vector<Item> found = KernelSession::Items(count);
  Choice choice = ChooseItems(found, options);

  std::vector<uint64_t> failedIds = choice.missingIds;
  size_t recovered = 0;
  {
    ProgressLine progress;
    const size_t total = choice.items.size();
    for (size_t i = 0; i < total; ++i) {
      progress.Show(RecoverProgress(i, total));
      const Item& item = choice.items[i];
      if (SH_RecoveryFile(K(folder), IdLow(item.id), IdHigh(item.id)))
        ++recovered;
      else
        failedIds.push_back(item.id);
    }
    progress.Show(RecoverProgress(total, total));
  }
  Out(RecoverSummary(recovered, failedIds.size()) + '\n');
  std::fflush(stdout);
  if (!failedIds.empty()) {
    std::string names;
    for (size_t i = 0; i < failedIds.size() && i < kNamedFailures; ++i)
      names += (i ? ", " : "") + std::to_string(failedIds[i]);
    if (failedIds.size() > kNamedFailures) names += ", ...";
    std::string line = "kestrel: " + std::to_string(failedIds.size()) +
                       (failedIds.size() == 1 ? " item" : " items") +
                       " could not be recovered (ids " + names + ")\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  return RecoverExitStatus(failedIds.size());
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  PrepareConsole();
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.ok) return Error(parsed.error);
  const Options& options = parsed.options;
  if (options.help) {
    Out(HelpText(options.command));
    return 0;
  }
  int status = kExitUsage;
  switch (options.command) {
    case Command::List: status = RunList(); break;
    case Command::Scan: status = RunScan(options); break;
    case Command::Recover: status = RunRecover(options); break;
    case Command::None: break;
  }
  std::fflush(stdout);
  if (std::ferror(stdout)) return Error("could not write the output");
  return status;
}

}  // namespace kestrel::cli
