#include "cli/Items.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

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

}  // namespace

Item ItemFromRecord(const DelItem& record) {
  Item item;
  item.id = (uint64_t{record.idHigh} << 32) | record.idLow;
  item.size = record.size;
  item.modified = record.modified;
  size_t n = 0;
  const size_t capacity = sizeof record.path / sizeof record.path[0];
  while (n < capacity && record.path[n] != 0) ++n;
  item.path.assign(reinterpret_cast<const char16_t*>(record.path), n);
  return item;
}

uint32_t IdLow(uint64_t id) { return static_cast<uint32_t>(id & 0xFFFFFFFFu); }
uint32_t IdHigh(uint64_t id) { return static_cast<uint32_t>(id >> 32); }

namespace {

// FormatLocalFileTime's text added to `out`: a scan writes one per item.
void AppendLocalFileTime(std::string& out, uint64_t fileTime) {
  if (fileTime == 0) return;
  const uint64_t seconds = fileTime / kTicksPerSecond;
  const auto days = static_cast<int64_t>(seconds / kSecondsPerDay);
  const auto secondOfDay = static_cast<unsigned>(seconds % kSecondsPerDay);
  int64_t year;
  unsigned month, day;
  CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
  char text[48];
  if (year < 0 || year > 9999) {
    int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u",
                          static_cast<long long>(year), month, day, secondOfDay / 3600,
                          secondOfDay / 60 % 60, secondOfDay % 60);
    if (n > 0) out.append(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
    return;
  }
  // The common case by hand.
  auto two = [](char* at, unsigned v) {
    at[0] = static_cast<char>('0' + v / 10 % 10);
    at[1] = static_cast<char>('0' + v % 10);
  };
  const auto y = static_cast<unsigned>(year);
  two(text, y / 100);
  two(text + 2, y % 100);
  text[4] = '-';
  two(text + 5, month);
  text[7] = '-';
  two(text + 8, day);
  text[10] = ' ';
  two(text + 11, secondOfDay / 3600);
  text[13] = ':';
  two(text + 14, secondOfDay / 60 % 60);
  text[16] = ':';
  two(text + 17, secondOfDay % 60);
  out.append(text, 19);
}

void AppendLine(std::string& out, uint64_t id, uint64_t size, uint64_t modified,
                std::u16string_view path) {
  char number[24];
  auto put = [&](uint64_t value) {
    auto end = std::to_chars(number, number + sizeof number, value).ptr;
    out.append(number, end);
  };
  put(id);
  out += '\t';
  put(size);
  out += '\t';
  AppendLocalFileTime(out, modified);
  out += '\t';
  os::AppendUtf8(out, path);
  out += '\n';
}

}  // namespace

std::string FormatLocalFileTime(uint64_t fileTime) {
  std::string text;
  AppendLocalFileTime(text, fileTime);
  return text;
}

void AppendScanLine(std::string& out, const Item& item) {
  AppendLine(out, item.id, item.size, item.modified, item.path);
}

void AppendScanLine(std::string& out, const DelItem& record) {
  size_t n = 0;
  const size_t capacity = sizeof record.path / sizeof record.path[0];
  while (n < capacity && record.path[n] != 0) ++n;
  AppendLine(out, (uint64_t{record.idHigh} << 32) | record.idLow, record.size, record.modified,
             std::u16string_view(reinterpret_cast<const char16_t*>(record.path), n));
}

std::string FormatScanLine(const Item& item) {
  std::string line;
  AppendScanLine(line, item);
  return line;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += ch;  // UTF-8 passes through: JSON text is UTF-8
        }
    }
  }
  out += '"';
  return out;
}

std::string FormatJson(const std::vector<Item>& items) {
  if (items.empty()) return "[]\n";
  std::string out = "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    out += "  {\"id\": " + std::to_string(item.id) + ", \"size\": " + std::to_string(item.size) +
           ", \"modified\": " + JsonString(FormatLocalFileTime(item.modified)) +
           ", \"path\": " + JsonString(Utf16ToUtf8(item.path)) + "}";
    out += i + 1 < items.size() ? ",\n" : "\n";
  }
  out += "]\n";
  return out;
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
  switch (options.selection) {
    case Selection::All:
      choice.items = found;
      break;
    case Selection::Match: {
      const std::u16string keyword = Utf8ToUtf16(options.match);
      for (const Item& item : found)
        if (NameMatches(FileNameOf(item.path), keyword)) choice.items.push_back(item);
      break;
    }
    case Selection::Ids:
      // Scan order; an id that occurs twice names the first item, as the
      // kernel's id lookup does.
      for (const Item& item : found) {
        bool wanted = std::find(options.ids.begin(), options.ids.end(), item.id) != options.ids.end();
        bool taken = std::any_of(choice.items.begin(), choice.items.end(),
                                 [&](const Item& t) { return t.id == item.id; });
        if (wanted && !taken) choice.items.push_back(item);
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

std::string RecoverSummary(size_t recovered, size_t failed) {
  return "recovered " + std::to_string(recovered) + ", failed " + std::to_string(failed);
}

int RecoverExitStatus(size_t failed) { return failed == 0 ? 0 : 1; }

std::string ScanProgress(uint64_t found) { return "scanning: " + std::to_string(found) + " found"; }

std::string RecoverProgress(size_t done, size_t total) {
  return "recovering: " + std::to_string(done) + "/" + std::to_string(total);
}

}  // namespace kestrel::cli
