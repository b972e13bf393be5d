#include "cli/Items.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "cli/Json.h"
#include "cli/Text.h"
#include "kernel/os/Utf.h"

namespace kestrel::cli {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134'774;

// Proleptic Gregorian date of a day count from 1970-01-01.
void CivilFromDays(int64_t z, int64_t& year, unsigned& month, unsigned& day) {
  z += 719'468;
  const int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const auto doe = static_cast<unsigned>(z - era * 146'097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

void AppendNumber(std::string& out, uint64_t value) {
  char number[24];
  auto end = std::to_chars(number, number + sizeof number, value).ptr;
  out.append(number, end);
}

}  // namespace

Item ItemFromRecord(const DelItem& record) {
  Item item;
  item.id = (uint64_t{record.idHigh} << 32) | record.idLow;
  item.size = record.size;
  item.path.assign(RecordPath(record));
  return item;
}

std::u16string_view RecordPath(const DelItem& record) {
  size_t n = 0;
  const size_t capacity = sizeof record.path / sizeof record.path[0];
  while (n < capacity && record.path[n] != 0) ++n;
  return std::u16string_view(reinterpret_cast<const char16_t*>(record.path), n);
}

uint32_t IdLow(uint64_t id) { return static_cast<uint32_t>(id & 0xFFFFFFFFu); }
uint32_t IdHigh(uint64_t id) { return static_cast<uint32_t>(id >> 32); }

std::u16string PathInVolume(std::u16string_view kernelPath, std::u16string_view prefix,
                            char16_t separator) {
  std::u16string out(PathInVolumeView(kernelPath, prefix));
  if (separator != u'\\') std::replace(out.begin(), out.end(), u'\\', separator);
  return out;
}

std::u16string_view PathInVolumeView(std::u16string_view kernelPath, std::u16string_view prefix) {
  std::u16string_view rest = kernelPath;
  if (!prefix.empty() && rest.substr(0, prefix.size()) == prefix) rest.remove_prefix(prefix.size());
  constexpr std::u16string_view kDeleted = u"Deleted\\";
  if (rest.substr(0, kDeleted.size()) == kDeleted) rest.remove_prefix(kDeleted.size());
  return rest;
}

std::string FormatUtc(uint64_t fileTime) {
  std::string out;
  AppendUtc(out, fileTime);
  return out;
}

void AppendUtc(std::string& out, uint64_t fileTime) {
  if (fileTime == 0) return;
  const uint64_t seconds = fileTime / kTicksPerSecond;
  const auto days = static_cast<int64_t>(seconds / kSecondsPerDay);
  const auto secondOfDay = static_cast<unsigned>(seconds % kSecondsPerDay);
  int64_t year;
  unsigned month, day;
  CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
  // The common case by hand: every line of a scan formats one of these.
  if (year >= 0 && year <= 9999) {
    char t[20];
    auto two = [&](int at, unsigned v) {
      t[at] = static_cast<char>('0' + v / 10);
      t[at + 1] = static_cast<char>('0' + v % 10);
    };
    two(0, static_cast<unsigned>(year / 100));
    two(2, static_cast<unsigned>(year % 100));
    t[4] = '-';
    two(5, month);
    t[7] = '-';
    two(8, day);
    t[10] = 'T';
    two(11, secondOfDay / 3600);
    t[13] = ':';
    two(14, secondOfDay / 60 % 60);
    t[16] = ':';
    two(17, secondOfDay % 60);
    t[19] = 'Z';
    out.append(t, 20);
    return;
  }
  char text[48];
  int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ",
                        static_cast<long long>(year), month, day, secondOfDay / 3600,
                        secondOfDay / 60 % 60, secondOfDay % 60);
  out.append(text, std::min<size_t>(n > 0 ? static_cast<size_t>(n) : 0, sizeof text - 1));
}

const char* StateName(uint32_t state) {
  switch (state) {
    case KX_STATE_INTACT: return "intact";
    case KX_STATE_PARTLY_OVERWRITTEN: return "partly-overwritten";
    case KX_STATE_OVERWRITTEN: return "overwritten";
    case KX_STATE_DAMAGED: return "damaged";
    default: return "unknown";
  }
}

std::string FlagsJson(uint32_t flags) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kFlags[] = {{KX_FLAG_COMPRESSED, "compressed"},
                {KX_FLAG_ENCRYPTED, "encrypted"},
                {KX_FLAG_SPARSE, "sparse"},
                {KX_FLAG_RESIDENT, "resident"},
                {KX_FLAG_IN_DELETED_FOLDER, "in-deleted-folder"},
                {KX_FLAG_FRAGMENT_GUESS, "fragment-guess"},
                {KX_FLAG_CARVED, "carved"},
                {KX_FLAG_PREVIOUS_FS, "previous-file-system"}};
  std::string out = "[";
  for (const auto& f : kFlags) {
    if (!(flags & f.bit)) continue;
    if (out.size() > 1) out += ", ";
    out += '"';
    out += f.name;
    out += '"';
  }
  return out + "]";
}

void AppendScanLine(std::string& out, const Item& item, std::u16string_view insidePath,
                    char separator) {
  AppendNumber(out, item.id);
  out += '\t';
  AppendNumber(out, item.size);
  out += '\t';
  // An encrypted file's clusters may be whole, but its contents are not
  // to be had without the owner's key: that is what the user must read.
  if (item.hasInfo && (item.info.flags & KX_FLAG_ENCRYPTED))
    out += "encrypted";
  else
    out += StateName(item.hasInfo ? item.info.state : KX_STATE_UNKNOWN);
  out += '\t';
  if (item.hasInfo) AppendUtc(out, item.info.modified);
  out += '\t';
  const size_t start = out.size();
  os::AppendUtf8(out, insidePath);
  for (size_t i = start; i < out.size(); ++i) {
    if (static_cast<unsigned char>(out[i]) < 0x20 || out[i] == 0x7F)
      out[i] = '?';
    else if (out[i] == '\\')
      out[i] = separator;  // UTF-8 never uses an ASCII byte inside a longer sequence
  }
  out += '\n';
}

std::string ItemJson(const Item& item, std::u16string_view insidePath) {
  JsonObject o;
  o.Add("id", item.id).Add("path", insidePath).Add("name", FileNameOf(item.path)).Add("size", item.size);
  const KX_ItemInfo& info = item.info;
  o.Add("state", StateName(item.hasInfo ? info.state : KX_STATE_UNKNOWN));
  if (item.hasInfo && info.state != KX_STATE_UNKNOWN) {
    char share[16];
    std::snprintf(share, sizeof share, "%u.%02u", info.overwrittenShare / 100,
                  info.overwrittenShare % 100);
    o.AddRaw("overwrittenPercent", share);
  } else {
    o.AddNull("overwrittenPercent");
  }
  o.AddRaw("flags", FlagsJson(item.hasInfo ? info.flags : 0));
  if (item.hasInfo)
    o.Add("recordNumber", info.recordNumber);
  else
    o.AddNull("recordNumber");
  const std::pair<const char*, uint64_t> times[] = {
      {"created", info.created}, {"modified", info.modified}, {"accessed", info.accessed}};
  for (const auto& [key, value] : times) {
    if (item.hasInfo && value != 0)
      o.Add(key, FormatUtc(value));
    else
      o.AddNull(key);
  }
  return o.Text();
}

std::string VolumeJson(const KX_VolumeInfo& v, bool known) {
  JsonObject o;
  if (!known) return o.AddNull("fileSystem").Text();
  auto text = [](const KChar* field, size_t capacity) {
    size_t n = 0;
    while (n < capacity && field[n] != 0) ++n;
    return std::u16string(reinterpret_cast<const char16_t*>(field), n);
  };
  const std::u16string fileSystem = text(v.fileSystem, std::size(v.fileSystem));
  const std::u16string label = text(v.label, std::size(v.label));
  o.Add("fileSystem", fileSystem).Add("size", v.totalBytes);
  o.Add("sectorSize", uint64_t{v.sectorBytes}).Add("clusterSize", uint64_t{v.clusterBytes});
  if (label.empty())
    o.AddNull("label");
  else
    o.Add("label", label);
  if (v.serial == 0) {
    o.AddNull("serial");
  } else {
    // As the system shows it: "1A2B-3C4D" for FAT's 32 bits, 16 digits for NTFS.
    char serial[24];
    if (v.serial <= 0xFFFFFFFFu)
      std::snprintf(serial, sizeof serial, "%04X-%04X", static_cast<unsigned>(v.serial >> 16),
                    static_cast<unsigned>(v.serial & 0xFFFF));
    else
      std::snprintf(serial, sizeof serial, "%016llX", static_cast<unsigned long long>(v.serial));
    o.Add("serial", serial);
  }
  return o.Text();
}

std::u16string FileNameOf(std::u16string_view path) {
  size_t cut = path.find_last_of(u"\\/:");
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

bool NameMatches(std::u16string_view name, std::u16string_view keyword) {
  if (keyword.empty() || keyword.size() > name.size()) return false;
  for (size_t start = 0; start + keyword.size() <= name.size(); ++start) {
    size_t k = 0;
    while (k < keyword.size() && AsciiUpper(name[start + k]) == AsciiUpper(keyword[k])) ++k;
    if (k == keyword.size()) return true;
  }
  return false;
}

Choice ChooseItems(const std::vector<Item>& found, const Options& options) {
  Choice choice;
  auto wanted = [&](const Item& item) {
    return !options.intactOnly || (item.hasInfo && item.info.state == KX_STATE_INTACT);
  };
  switch (options.selection) {
    case Selection::All:
      for (const Item& item : found)
        if (wanted(item)) choice.items.push_back(item);
      break;
    case Selection::Match: {
      const std::u16string keyword = Utf8ToUtf16(options.match);
      for (const Item& item : found)
        if (wanted(item) && NameMatches(FileNameOf(item.path), keyword)) choice.items.push_back(item);
      break;
    }
    case Selection::Ids:
      // Scan order; an id that occurs twice names the first item, as the
      // kernel's id lookup does.
      for (const Item& item : found) {
        bool asked = std::find(options.ids.begin(), options.ids.end(), item.id) != options.ids.end();
        bool taken = std::any_of(choice.items.begin(), choice.items.end(),
                                 [&](const Item& t) { return t.id == item.id; });
        if (asked && !taken && wanted(item)) choice.items.push_back(item);
      }
      for (uint64_t id : options.ids) {
        bool seen = std::any_of(found.begin(), found.end(), [&](const Item& t) { return t.id == id; });
        if (!seen) choice.missingIds.push_back(id);
      }
      break;
    case Selection::None:
      break;
  }
  return choice;
}

void RecoverCounts::Add(const Item& item) {
  switch (item.hasInfo ? item.info.state : KX_STATE_UNKNOWN) {
    case KX_STATE_INTACT: ++intact; break;
    case KX_STATE_PARTLY_OVERWRITTEN: ++partly; break;
    case KX_STATE_OVERWRITTEN: ++overwritten; break;
    default: ++otherRecovered; break;
  }
}

std::string RecoverSummary(const RecoverCounts& c) {
  return "recovered " + std::to_string(c.Recovered()) + " (" + std::to_string(c.intact) +
         " intact, " + std::to_string(c.partly) + " partly overwritten, " +
         std::to_string(c.overwritten) + " overwritten), failed " + std::to_string(c.failed);
}

int RecoverExitStatus(size_t failed) { return failed == 0 ? kExitDone : kExitSomeFailed; }

std::string ScanProgress(uint64_t done, uint64_t total, uint64_t found) {
  std::string line = "scanning: " + std::to_string(done);
  if (total > 0) {
    const uint64_t percent = std::min<uint64_t>(100, done >= total ? 100 : done * 100 / total);
    line += " of " + std::to_string(total) + " (" + std::to_string(percent) + "%)";
  }
  return line + ", " + std::to_string(found) + " found";
}

namespace {

std::string Bytes(double bytes) {
  static const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) bytes /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string Duration(double seconds) {
  const auto s = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  return text;
}

}  // namespace

std::string RecoverProgress(size_t filesDone, size_t filesTotal, uint64_t bytesDone,
                            uint64_t bytesTotal, double seconds) {
  std::string line = "recovering: " + std::to_string(filesDone) + "/" + std::to_string(filesTotal) +
                     " files, " + Bytes(static_cast<double>(bytesDone)) + " of " +
                     Bytes(static_cast<double>(bytesTotal));
  // Rate and time left only once there is something to measure.
  if (seconds >= 0.5 && bytesDone > 0) {
    const double rate = static_cast<double>(bytesDone) / seconds;
    line += ", " + Bytes(rate) + "/s, " +
            Duration(static_cast<double>(bytesTotal - std::min(bytesDone, bytesTotal)) / rate) + " left";
  }
  return line;
}

}  // namespace kestrel::cli
