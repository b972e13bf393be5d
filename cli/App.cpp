#include "cli/App.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Items.h"
#include "cli/Json.h"
#include "cli/Platform.h"
#include "cli/Sha256.h"
#include "cli/Text.h"
#include "cli/VolumeArgument.h"
#include "kernel/Kestrel.h"

#if !defined(_WIN32)
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace kestrel::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

const KChar* K(const std::u16string& text) { return reinterpret_cast<const KChar*>(text.c_str()); }

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void ErrLine(const std::string& message) {
  std::fflush(stdout);
  std::string line = "kestrel: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int Error(const std::string& message, int status = kExitUsage) {
  ErrLine(message);
  return status;
}

template <size_t N>
std::u16string FieldText(const KChar (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != 0) ++n;
  return std::u16string(reinterpret_cast<const char16_t*>(field), n);
}

// A line on stderr that rewrites itself; only on a terminal, at most ten
// times a second (the last state is always drawn by Finish).
class ProgressLine {
 public:
  explicit ProgressLine(bool quiet) : enabled_(!quiet && StderrIsTerminal()) {}
  ~ProgressLine() { Finish(); }
  bool Enabled() const { return enabled_; }
  bool Due() const {
    return enabled_ && std::chrono::steady_clock::now() - drawn_ >= kRedrawInterval;
  }
  void Show(const std::string& text) {
    if (!Due()) {
      pending_ = text;
      return;
    }
    Draw(text);
  }
  void Finish() {
    if (!enabled_) return;
    if (!pending_.empty()) Draw(pending_);
    if (!last_.empty()) std::fputc('\n', stderr);
    last_.clear();
  }

 private:
  void Draw(const std::string& text) {
    std::string line = "\r" + text;
    if (text.size() < last_.size()) line += std::string(last_.size() - text.size(), ' ');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    last_ = text;
    pending_.clear();
    drawn_ = std::chrono::steady_clock::now();
  }

  bool enabled_;
  std::string last_, pending_;
  std::chrono::steady_clock::time_point drawn_{};
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
    out.push_back({FieldText(p.name), p.sectorCount, p.fsKind});
  }
  return out;
}

// The item at `index` with what KX_GetDelItemInfo knows of it.
bool ReadItem(int index, Item& item) {
  DelItem record;
  if (!SH_GetDelItemFromIndex(index, &record)) return false;
  item = ItemFromRecord(record);
  item.info = {};
  item.info.size = sizeof item.info;
  item.hasInfo = KX_GetDelItemInfo(record.idLow, record.idHigh, &item.info) != 0;
  return true;
}

// Owns the kernel's initialisation for the length of one command.
class KernelSession {
 public:
  KernelSession() = default;
  KernelSession(const KernelSession&) = delete;
  KernelSession& operator=(const KernelSession&) = delete;
  ~KernelSession() {
    if (initialised_) EndKernel();  // stops and joins a scan still running
  }

  void Init() {
    SH_Init(nullptr);
    initialised_ = true;
  }

  // Maps VOLUME when it is a path and initialises the kernel. On failure
  // returns false with a one-line message (the volume cannot be read).
  bool Open(const std::string& argument, std::string& error) {
    argument_ = argument;
    VolumeTarget target = ClassifyVolume(argument);
    letter_ = target.letter;
    if (!target.isLetter) {
      if (!CheckReadable(target.path, error)) return false;
      letter_ = PickFreeLetter(LettersInUse());
      if (letter_ == 0) {
        error = "no free drive letter to map '" + target.path + "' to";
        return false;
      }
      std::error_code ec;
      bool existsAsGiven = fs::exists(HostPath(target.path), ec);
      std::u16string mapping = HostToKernel(MappingArgument(target.path, existsAsGiven));
      if (!KX_MapVolume(static_cast<KChar>(letter_), K(mapping))) {
        error = "cannot use '" + target.path + "' as a volume";
        return false;
      }
    }
    Init();
    name_ = std::u16string(1, letter_) + u":";
    return true;
  }

  std::u16string Prefix() const { return name_ + u"\\"; }

  // Runs one scan to its end. `tick` sees the found count now and then
  // (on this thread). Returns false with the kernel's message when the
  // volume could not be read or is not supported; an interrupted scan
  // keeps what it found.
  bool Scan(bool quiet, int mode, const std::function<void(uint64_t)>& tick, std::string& error) {
    ProgressLine progress(quiet);
    {
      std::unique_ptr<ScanListener> listener = CreateScanListener();
      const std::u16string prefix = Prefix();
      if (!KX_StartScan(K(prefix), K(name_), mode, listener->Window())) {
        error = ScanStatusText();
        return false;
      }
      listener->Wait([&](uint64_t found) {
        if (Interrupted()) StopKernelTask();  // a signal that came before the scan began
        uint64_t done = 0, total = 0;
        KX_GetScanProgress(&done, &total);
        progress.Show(ScanProgress(done, total, found));
        tick(found);
      });
    }
    progress.Finish();
    const int status = KX_GetLastScanStatus(nullptr, 0);
    if (status != KX_SCAN_OK && status != KX_SCAN_STOPPED) {
      error = ScanStatusText();
      return false;
    }
    return true;
  }

  static std::vector<Item> Items() {
    std::vector<Item> items;
    const int count = std::max(SH_GetDelItemCount(), 0);
    items.reserve(static_cast<size_t>(count));
    Item item;
    for (int i = 0; i < count; ++i)
      if (ReadItem(i, item)) items.push_back(item);
    return items;
  }

 private:
  std::string ScanStatusText() const {
    KChar text[512] = {};
    KX_GetLastScanStatus(text, 512);
    std::string message = Utf16ToUtf8(FieldText(text));
    if (message.empty()) message = "not a volume that can be read";
    return "cannot scan '" + argument_ + "': " + message;
  }

  static bool CheckReadable(const std::string& path, std::string& error) {
    std::string file;
    SplitPartitionSuffix(path, file);
    std::error_code ec;
    fs::path native = HostPath(path);
    if (!fs::exists(native, ec)) {
      native = HostPath(file);
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
    std::ifstream probe(native, std::ios::binary);
    if (!probe) {
      error = "cannot read '" + path + "': permission denied or unreadable";
      return false;
    }
    return true;
  }

  bool initialised_ = false;
  std::string argument_;
  char16_t letter_ = 0;
  std::u16string name_;
};

// The image or device behind VOLUME (no @OFFSET suffix), for the check that
// the recovery folder is not on it; empty for a Windows drive letter.
fs::path ScannedSource(const std::string& argument) {
  VolumeTarget target = ClassifyVolume(argument);
  std::string device = target.isLetter ? VolumeTablePath(target.letter) : target.path;
  std::error_code ec;
  if (!device.empty() && !fs::exists(HostPath(device), ec)) SplitPartitionSuffix(device, device);
  return device.empty() ? fs::path() : HostPath(device);
}

char16_t ScannedLetter(const std::string& argument) {
  VolumeTarget target = ClassifyVolume(argument);
  return target.isLetter ? target.letter : DeviceLetter(target.path);
}


constexpr uint64_t kSector = 512;

// A disk's partition table as the kernel reads it.
struct DiskTable {
  int count = -1;  // -1 unreadable, 0 no table
  std::vector<KX_PartitionInfo> parts;
  std::string note;  // what was wrong with the table, if anything
};

DiskTable ReadTable(const std::string& path) {
  std::error_code ec;
  const std::u16string spec = HostToKernel(MappingArgument(path, fs::exists(HostPath(path), ec)));
  DiskTable t;
  t.parts.resize(256);
  for (KX_PartitionInfo& p : t.parts) p.size = sizeof p;
  KChar note[512] = {};
  t.count = KX_ReadPartitionTable(K(spec), t.parts.data(), static_cast<int>(t.parts.size()), note, 512);
  t.parts.resize(static_cast<size_t>(std::clamp(t.count, 0, static_cast<int>(t.parts.size()))));
  t.note = Utf16ToUtf8(FieldText(note));
  return t;
}

std::string Or(const std::string& text, const char* fallback) { return text.empty() ? fallback : text; }

// One partition per line: number, start and size in sectors, first byte,
// bytes, type, GPT name, file system.
std::string TableText(const DiskTable& t) {
  std::string out;
  for (const KX_PartitionInfo& p : t.parts) {
    out += std::to_string(p.number) + '\t' + std::to_string(p.firstByte / kSector) + '\t' +
           std::to_string(p.bytes / kSector) + '\t' + std::to_string(p.firstByte) + '\t' +
           std::to_string(p.bytes) + '\t' + Or(Utf16ToUtf8(FieldText(p.typeName)), "-") + '\t' +
           Or(Utf16ToUtf8(FieldText(p.name)), "-") + '\t' + Or(Utf16ToUtf8(FieldText(p.fileSystem)), "-") +
           ((p.flags & KX_PART_BEYOND_DISK) ? "\t(cut at the end of the disk)" : "") + '\n';
  }
  return out;
}

std::string PartitionVolume(const std::string& path, const KX_PartitionInfo& p) {
  return path + '@' + std::to_string(p.firstByte) + '+' + std::to_string(p.bytes);
}

// Turns `--partition N` or a whole disk into the partition's
// PATH@OFFSET+LENGTH; leaves letters, partition images and devices as they
// are. Returns an exit status on failure (0 when `volume` is set).
int ResolveVolume(const Options& options, std::string& volume) {
  volume = options.volume;
  const VolumeTarget target = ClassifyVolume(options.volume);
  std::string file;
  std::error_code ec;
  const bool hasSuffix = !target.isLetter && SplitPartitionSuffix(target.path, file) &&
                         !fs::exists(HostPath(target.path), ec);
  if (target.isLetter || hasSuffix) {
    if (options.partition != 0)
      return Error("--partition needs the path of a whole disk, not " +
                   std::string(target.isLetter ? "a drive letter" : "an @OFFSET"));
    return 0;
  }
  if (!fs::exists(HostPath(target.path), ec) || fs::is_directory(HostPath(target.path), ec)) {
    if (options.partition == 0) return 0;  // Open says what is wrong with it
  }
  const DiskTable t = ReadTable(target.path);
  if (t.count <= 0) {
    if (options.partition == 0) return 0;  // a partition image or device
    return Error("'" + target.path + "' has no partition table" + (t.note.empty() ? "" : ": " + t.note),
                 t.count < 0 ? kExitVolume : kExitUsage);
  }
  if (!t.note.empty()) ErrLine(t.note);
  if (options.partition != 0) {
    for (const KX_PartitionInfo& p : t.parts) {
      if (static_cast<int>(p.number) != options.partition) continue;
      volume = PartitionVolume(target.path, p);
      return 0;
    }
    ErrLine("no partition " + std::to_string(options.partition) + " on '" + target.path + "'; its partitions:");
    std::fputs(TableText(t).c_str(), stderr);
    return kExitUsage;
  }
  std::vector<const KX_PartitionInfo*> supported;
  for (const KX_PartitionInfo& p : t.parts)
    if (p.fsKind != 0) supported.push_back(&p);
  if (supported.size() == 1) {
    const KX_PartitionInfo& p = *supported.front();
    ErrLine("using partition " + std::to_string(p.number) + " (" + Utf16ToUtf8(FieldText(p.fileSystem)) +
            ", the disk's only supported one)");
    volume = PartitionVolume(target.path, p);
    return 0;
  }
  ErrLine("'" + target.path + "' is a whole disk with " +
          (supported.empty() ? std::string("no supported partition")
                             : std::to_string(supported.size()) + " supported partitions") +
          "; choose one with --partition N:");
  std::fputs(TableText(t).c_str(), stderr);
  return supported.empty() ? kExitVolume : kExitUsage;
}

// Why "PATH@OFFSET" could not be read: what lies at the offset, and where
// the boot sector is when the offset was a sector number by mistake.
std::string OffsetHint(const std::string& volume) {
  uint64_t offset = 0, length = 0;
  std::string file;
  if (!ParseOffsetSuffix(volume, offset, length) || !SplitPartitionSuffix(volume, file)) return {};
  std::ifstream in(HostPath(file), std::ios::binary);
  std::string sector(kSector, '\0');
  if (!in.seekg(static_cast<std::streamoff>(offset)) || !in.read(sector.data(), kSector)) {
    return "; nothing can be read at byte " + std::to_string(offset) + " of '" + file + "'";
  }
  std::string found;
  if (std::all_of(sector.begin(), sector.end(), [](char c) { return c == 0; }))
    found = "nothing but zeros";
  else if (sector.compare(0, 8, "EFI PART") == 0)
    found = "a GPT header";
  else if (static_cast<unsigned char>(sector[510]) == 0x55 && static_cast<unsigned char>(sector[511]) == 0xAA)
    found = "a sector with a boot signature but no NTFS, FAT or exFAT boot sector (a partition table?)";
  else
    found = "no boot sector";
  std::string hint = "; at byte " + std::to_string(offset) + " there is " + found;
  const DiskTable t = ReadTable(file);
  for (const KX_PartitionInfo& p : t.parts) {
    if (offset <= UINT64_MAX / kSector && p.firstByte == offset * kSector) {
      hint += "; " + std::to_string(offset) + " is the sector where partition " + std::to_string(p.number) +
              " starts: its boot sector is at byte " + std::to_string(p.firstByte) + " (use '" +
              PartitionVolume(file, p) + "' or '" + file + " --partition " + std::to_string(p.number) + "')";
      return hint;
    }
  }
  if (t.count > 0) hint += "; 'kestrel list " + file + "' shows where its partitions start";
  return hint;
}

#if !defined(_WIN32)
std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// udev's /dev/disk/by-label names ("\\x20" for a space), by device path.
std::map<std::string, std::string> Labels() {
  std::map<std::string, std::string> labels;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/dev/disk/by-label", ec)) {
    std::string name = e.path().filename().string(), label;
    for (size_t i = 0; i < name.size(); ++i) {
      if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size()) {
        label += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else {
        label += name[i];
      }
    }
    labels[fs::canonical(e.path(), ec).string()] = label;
  }
  return labels;
}

// The block devices and partitions this user can read.
int ListBlockDevices() {
  struct Device {
    std::string path, parent, fileSystem, label;
    uint64_t sectors = 0, start = 0;
    bool partition = false;
  };
  std::vector<Device> devices;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/sys/class/block", ec)) {
    Device d;
    d.path = "/dev/" + e.path().filename().string();
    d.sectors = std::strtoull(ReadLine(e.path() / "size").c_str(), nullptr, 10);
    if (d.sectors == 0 || access(d.path.c_str(), R_OK) != 0) continue;
    d.partition = fs::exists(e.path() / "partition", ec);
    if (d.partition) {
      d.start = std::strtoull(ReadLine(e.path() / "start").c_str(), nullptr, 10);
      d.parent = "/dev/" + fs::canonical(e.path(), ec).parent_path().filename().string();
    }
    devices.push_back(d);
  }
  std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) { return a.path < b.path; });
  std::map<std::string, DiskTable> tables;
  std::vector<Device*> toProbe;
  for (Device& d : devices) {
    if (!d.partition) {
      DiskTable& t = tables[d.path] = ReadTable(d.path);
      if (t.count > 0)
        d.fileSystem = (t.parts.front().flags & KX_PART_GPT) ? "GPT disk" : "MBR disk";
      else
        toProbe.push_back(&d);
      continue;
    }
    auto parent = tables.find(d.parent);
    bool known = false;
    if (parent != tables.end())
      for (const KX_PartitionInfo& p : parent->second.parts)
        if (p.firstByte == d.start * kSector) {
          d.fileSystem = Utf16ToUtf8(FieldText(p.fileSystem));
          if (d.label.empty()) d.label = Utf16ToUtf8(FieldText(p.name));
          known = true;
        }
    if (!known) toProbe.push_back(&d);
  }
  // The rest are probed by the engines through mapped letters, a batch of
  // free letters at a time.
  for (size_t done = 0; done < toProbe.size();) {
    KernelSession kernel;
    std::map<char16_t, Device*> byLetter;
    uint32_t used = LettersInUse();
    for (; done < toProbe.size(); ++done) {
      const char16_t letter = PickFreeLetter(used);
      if (letter == 0) break;
      used |= 1u << (letter - u'A');
      if (KX_MapVolume(static_cast<KChar>(letter), K(HostToKernel(toProbe[done]->path)))) byLetter[letter] = toProbe[done];
    }
    if (byLetter.empty()) break;
    kernel.Init();
    int index = 0;
    for (const Partition& p : Partitions()) {
      KChar type[16] = {};
      const int i = index++;
      auto it = p.name.empty() ? byLetter.end() : byLetter.find(p.name[0]);
      if (it != byLetter.end() && KX_GetPartitionTypeName(i, type, 16) > 0)
        it->second->fileSystem = Utf16ToUtf8(FieldText(type));
    }
  }
  const std::map<std::string, std::string> labels = Labels();
  for (const Device& d : devices) {
    auto label = labels.find(d.path);
    const std::string name = label != labels.end() ? label->second : d.label;
    Out(d.path + '\t' + Or(d.fileSystem, "-") + '\t' + std::to_string(d.sectors) + " sectors" +
        (name.empty() ? "" : "\t" + name) + '\n');
  }
  return kExitDone;
}
#endif

// A physical disk's line and one line per partition, tab-separated as the
// volumes' lines: name, file system (or the table's kind), size in
// 512-byte sectors, label (the kernel's name for a disk, the GPT name for a
// partition).
std::string DiskLines(const KX_DiskInfo& disk, const std::vector<KX_PartitionInfo>& parts) {
  const std::string path = Utf16ToUtf8(FieldText(disk.path));
  const char* kind = disk.table == KX_TABLE_GPT ? "GPT disk" : disk.table == KX_TABLE_MBR ? "MBR disk" : "-";
  const uint64_t bytes = disk.totalSectors * (disk.bytesPerSector >= kSector ? disk.bytesPerSector : kSector);
  std::string out = path + '\t' + kind + '\t' + std::to_string(bytes / kSector) + " sectors\t" +
                    Utf16ToUtf8(FieldText(disk.name)) + '\n';
  for (const KX_PartitionInfo& p : parts) {
    const std::string name = Utf16ToUtf8(FieldText(p.name));
    out += path + " --partition " + std::to_string(p.number) + '\t' + Or(Utf16ToUtf8(FieldText(p.fileSystem)), "-") +
           '\t' + std::to_string(p.bytes / kSector) + " sectors" + (name.empty() ? "" : "\t" + name) + '\n';
  }
  return out;
}

int RunList(const Options& options) {
  if (!options.volume.empty()) {
    if (ClassifyVolume(options.volume).isLetter)
      return Error("'kestrel list' takes a disk image or device, not a drive letter");
    const DiskTable t = ReadTable(options.volume);
    if (t.count < 0) return Error("cannot read '" + options.volume + "'", kExitVolume);
    if (t.count == 0)
      return Error("'" + options.volume + "' has no partition table" + (t.note.empty() ? "" : ": " + t.note),
                   kExitVolume);
    if (!t.note.empty()) ErrLine(t.note);
    Out(TableText(t));
    return kExitDone;
  }
#if !defined(_WIN32)
  const char* mapped = std::getenv("KESTREL_VOLUMES");
  if (!mapped || !*mapped) return ListBlockDevices();
#endif
  KernelSession kernel;
  kernel.Init();
  int index = 0;
  for (const Partition& p : Partitions()) {
    KChar type[16] = {};
    std::string fs = KX_GetPartitionTypeName(index++, type, 16) > 0
                         ? Utf16ToUtf8(FieldText(type))
                         : p.fsKind == KESTREL_FS_NTFS ? "NTFS" : p.fsKind == KESTREL_FS_FAT ? "FAT" : "?";
    Out(Utf16ToUtf8(p.name) + '\t' + fs + '\t' + std::to_string(p.sectors) + " sectors\n");
  }
  // The physical disks of the kernel's device list (the one the desktop
  // program has), each followed by the partitions an engine reads, named
  // as 'kestrel scan' takes them. Floppy drives are listed by their letter.
  const int disks = KX_GetDiskCount();
  for (int d = 0; d < disks; ++d) {
    KX_DiskInfo disk{};
    disk.size = sizeof disk;
    if (!KX_GetDiskInfo(d, &disk) || disk.driveNumber < 128) continue;
    std::vector<KX_PartitionInfo> parts(std::max(KX_GetDiskPartitions(d, nullptr, 0), 0));
    for (KX_PartitionInfo& p : parts) p.size = sizeof p;
    parts.resize(static_cast<size_t>(
        std::clamp(KX_GetDiskPartitions(d, parts.data(), static_cast<int>(parts.size())), 0,
                   static_cast<int>(parts.size()))));
    Out(DiskLines(disk, parts));
  }
  return kExitDone;
}

char16_t PathSeparator() { return static_cast<char16_t>(FolderSeparator()); }

// Opens and scans `volume`; on failure the message, with what lies at an
// @OFFSET the user gave, is on stderr.
bool OpenAndScan(KernelSession& kernel, const Options& options, const std::string& volume,
                 const std::function<void(uint64_t)>& tick) {
  std::string error;
  if (kernel.Open(volume, error) && kernel.Scan(options.quiet, options.mode, tick, error)) return true;
  if (volume == options.volume && KX_GetLastScanStatus(nullptr, 0) != KX_SCAN_READ_ERROR)
    error += OffsetHint(volume);
  ErrLine(error);
  return false;
}

int RunScan(const Options& options) {
  std::string volume;
  if (int status = ResolveVolume(options, volume)) return status;
  KernelSession kernel;

  // --jsonl streams items while the scan runs; the others print at the end.
  int streamed = 0;
  auto stream = [&](uint64_t) {
    if (options.format != ScanFormat::JsonLines) return;
    const int count = SH_GetDelItemCount();
    std::string block;
    Item item;
    for (; streamed < count; ++streamed) {
      if (!ReadItem(streamed, item)) continue;
      block += ItemJson(item, PathInVolume(item.path, kernel.Prefix(), PathSeparator()));
      block += '\n';
    }
    Out(block);
    std::fflush(stdout);
  };
  if (!OpenAndScan(kernel, options, volume, stream)) return kExitVolume;
  const std::u16string prefix = kernel.Prefix();
  const int count = std::max(SH_GetDelItemCount(), 0);

  if (options.format == ScanFormat::JsonLines) {
    stream(0);
  } else if (options.format == ScanFormat::Json) {
    KX_VolumeInfo volume{};
    volume.size = sizeof volume;
    const bool known = KX_GetVolumeInfo(&volume) != 0;
    std::string out = "{\"volume\": " + VolumeJson(volume, known) + ",\n \"items\": [";
    Item item;
    bool first = true;
    for (int i = 0; i < count; ++i) {
      if (!ReadItem(i, item)) continue;
      out += first ? "\n  " : ",\n  ";
      first = false;
      out += ItemJson(item, PathInVolume(item.path, prefix, PathSeparator()));
      if (out.size() >= (1u << 16)) {
        Out(out);
        out.clear();
      }
    }
    out += first ? "]}\n" : "\n ]}\n";
    Out(out);
  } else {
    // Lines go out in large writes.
    // One record for every line: the path is read where the kernel put it.
    std::string block;
    DelItem record;
    Item item;
    const char separator = static_cast<char>(PathSeparator());
    for (int i = 0; i < count; ++i) {
      if (!SH_GetDelItemFromIndex(i, &record)) continue;
      item.id = (uint64_t{record.idHigh} << 32) | record.idLow;
      item.size = record.size;
      item.info = {};
      item.info.size = sizeof item.info;
      item.hasInfo = KX_GetDelItemInfo(record.idLow, record.idHigh, &item.info) != 0;
      AppendScanLine(block, item, PathInVolumeView(RecordPath(record), prefix), separator);
      if (block.size() >= (1u << 16)) {
        Out(block);
        block.clear();
      }
    }
    Out(block);
  }
  if (count == 0 && !Interrupted()) ErrLine("no deleted files found");
  return Interrupted() ? kExitInterrupted : kExitDone;
}

// Reads back what was written: its length and SHA-256.
bool HashFile(const fs::path& file, uint64_t& bytes, std::string& sha256) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  Sha256 hash;
  std::vector<char> buffer(1 << 20);
  bytes = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    hash.Update(buffer.data(), got);
    bytes += got;
  }
  if (in.bad()) return false;
  sha256 = hash.Hex();
  return true;
}

const char* RecoveryResultName(int status) {
  switch (status) {
    case KX_RECOVER_OK: return "recovered";
    case KX_RECOVER_NOT_FOUND: return "not-found";
    case KX_RECOVER_READ_ERROR: return "read-error";
    case KX_RECOVER_NO_SPACE: return "no-space";
    case KX_RECOVER_PERMISSION: return "permission-denied";
    case KX_RECOVER_BAD_NAME: return "bad-name";
    case KX_RECOVER_STOPPED: return "stopped";
    case KX_RECOVER_VOLUME_CHANGED: return "volume-changed";
    case KX_RECOVER_ENCRYPTED: return "encrypted";
    case KX_RECOVER_CORRUPT: return "corrupt";
    default: return "write-error";
  }
}

int RunRecover(const Options& options) {
#if !defined(_WIN32)
  // The kernel turns "\" into "/" on its way to the disk: such a folder name
  // would send the files somewhere else than asked.
  if (options.outDir.find('\\') != std::string::npos)
    return Error("the folder given to --to must not contain '\\'");
#endif
  std::error_code ec;
  fs::path out = HostPath(options.outDir);
  fs::path absolute = fs::absolute(out, ec);
  if (!ec) out = absolute.lexically_normal();
  fs::path report;
  if (!options.report.empty()) {
    report = fs::absolute(HostPath(options.report), ec).lexically_normal();
    if (ec) return Error("cannot use the report file '" + options.report + "'");
  }
  // Checked before anything is created: writing onto the scanned volume
  // would overwrite the deleted data it is meant to save.
  std::string volume;
  if (int status = ResolveVolume(options, volume)) return status;
  const fs::path source = ScannedSource(volume);
  const char16_t letter = ScannedLetter(volume);
  if (FolderOnScannedVolume(out, source, letter))
    return Error("the folder given to --to is on the volume being scanned; choose a folder on another disk");
  if (!report.empty() && FolderOnScannedVolume(report.parent_path(), source, letter))
    return Error("the --report file is on the volume being scanned; choose a folder on another disk");

  KernelSession kernel;
  if (!OpenAndScan(kernel, options, volume, [](uint64_t) {})) return kExitVolume;
  const std::u16string prefix = kernel.Prefix();
  StopKernelTask();  // the scan thread is gone before anything is recovered
  if (Interrupted()) {
    Out(RecoverSummary({}) + '\n');
    return kExitInterrupted;
  }
  std::vector<Item> found = KernelSession::Items();
  if (found.empty()) ErrLine("no deleted files found");
  Choice choice = ChooseItems(found, options);

  fs::create_directories(out, ec);
  if (!fs::is_directory(out, ec)) return Error("cannot create the folder '" + options.outDir + "'");
  std::ofstream reportFile;
  if (!report.empty()) {
    reportFile.open(report, std::ios::binary | std::ios::trunc);
    if (!reportFile) return Error("cannot write the report file '" + options.report + "'");
  }
  const std::u16string folder = HostToKernel(
      RecoveryFolderArgument(KernelToHost(KernelPath(out)), FolderSeparator()));

  RecoverCounts counts;
  auto writeReport = [&](const JsonObject& line) {
    if (reportFile.is_open()) reportFile << line.Text() << '\n';
  };
  for (uint64_t id : choice.missingIds) {
    ++counts.failed;
    ErrLine("failed: id " + std::to_string(id) + ": no item with this id was found");
    JsonObject line;
    line.Add("id", id).AddNull("path").AddNull("output").AddNull("size").Add("written", uint64_t{0});
    line.AddNull("sha256").Add("result", "not-found").Add("reason", "no item with this id was found");
    writeReport(line);
  }

  uint64_t bytesTotal = 0, bytesDone = 0;
  for (const Item& item : choice.items) bytesTotal += item.size;
  const auto started = std::chrono::steady_clock::now();
  size_t attempted = 0;
  {
    ProgressLine progress(options.quiet);
    // Formatting costs more than recovering a small file: only when drawn.
    auto show = [&](bool last) {
      if (!progress.Enabled() || (!last && !progress.Due())) return;
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      progress.Show(RecoverProgress(attempted, choice.items.size(), bytesDone, bytesTotal, seconds));
    };
    for (const Item& item : choice.items) {
      if (Interrupted()) break;
      show(false);
      const bool ok = SH_RecoveryFile(K(folder), IdLow(item.id), IdHigh(item.id)) != 0;
      ++attempted;
      bytesDone += item.size;
      if (ok) {
        counts.Add(item);
        if (!reportFile.is_open()) continue;
      }
      KChar reasonText[512] = {};
      const int status = ok ? KX_RECOVER_OK : KX_GetLastRecoveryStatus(reasonText, 512);
      const std::u16string inside = PathInVolume(item.path, prefix, PathSeparator());
      std::string reason = Utf16ToUtf8(FieldText(reasonText));
      if (!ok) {
        ++counts.failed;
        if (reason.empty()) reason = RecoveryResultName(status);
        ErrLine("failed: " + Utf16ToUtf8(inside) + ": " + reason);
      }
      if (reportFile.is_open()) {
        KChar outputText[4096] = {};
        const int outputLength = KX_GetLastOutputPath(outputText, 4096);
        JsonObject line;
        line.Add("id", item.id).Add("path", inside);
        uint64_t written = 0;
        std::string sha256;
        std::u16string output = FieldText(outputText);
        // The kernel joins with "\"; POSIX names have "/" there (and no "\"
        // of their own: the kernel makes names safe, --to refuses it).
        if (FolderSeparator() != '\\') std::replace(output.begin(), output.end(), u'\\', PathSeparator());
        if (outputLength > 0) {
          line.Add("output", output);
          HashFile(HostPath(KernelToHost(output)), written, sha256);
        } else {
          line.AddNull("output");
        }
        line.Add("size", item.size).Add("written", written);
        if (sha256.empty())
          line.AddNull("sha256");
        else
          line.Add("sha256", sha256);
        line.Add("result", ok ? "recovered" : RecoveryResultName(status));
        if (ok)
          line.AddNull("reason");
        else
          line.Add("reason", reason);
        writeReport(line);
      }
    }
    show(true);
  }
  if (attempted < choice.items.size()) {
    const size_t left = choice.items.size() - attempted;
    ErrLine("interrupted: " + std::to_string(left) + (left == 1 ? " item was" : " items were") +
            " not attempted");
    for (size_t i = attempted; i < choice.items.size(); ++i) {
      const Item& item = choice.items[i];
      JsonObject line;
      line.Add("id", item.id).Add("path", PathInVolume(item.path, prefix, PathSeparator()));
      line.AddNull("output").Add("size", item.size).Add("written", uint64_t{0}).AddNull("sha256");
      line.Add("result", "not-attempted").Add("reason", "interrupted");
      writeReport(line);
    }
  }
  Out(RecoverSummary(counts) + '\n');
  if (reportFile.is_open()) {
    reportFile.flush();
    if (!reportFile) ErrLine("could not write the report file '" + options.report + "'");
  }
  if (Interrupted()) return kExitInterrupted;
  return RecoverExitStatus(counts.failed);
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  PrepareConsole();
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.ok) return Error(parsed.error);
  const Options& options = parsed.options;
  if (options.help) {
    Out(HelpText(options.command));
    return kExitDone;
  }
  if (options.version) {
    Out(VersionText());
    return kExitDone;
  }
  int status = kExitUsage;
  switch (options.command) {
    case Command::List: status = RunList(options); break;
    case Command::Scan:
      StartInterruptWatcher();
      status = RunScan(options);
      break;
    case Command::Recover:
      StartInterruptWatcher();
      status = RunRecover(options);
      break;
    case Command::None: break;
  }
  std::fflush(stdout);
  if (std::ferror(stdout)) return Error("could not write the output");
  return status;
}

}  // namespace kestrel::cli
