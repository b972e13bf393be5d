// The content formats the scanner knows. Each parser looks at a candidate
// that starts with its signature and says whether it is one of its files,
// where it ends (from its own structure) and whether it passed the checks
// the format allows. One file per format.
#pragma once

#include <cstdint>

#include "kernel/carve/Stream.h"

namespace kestrel::carve {

struct Find {
  uint64_t size = 0;
  bool damaged = false;         // failed its format's checks (cut, bad CRC, ...)
  uint64_t modifiedUtc = 0;     // FILETIME; 0 when the format holds none
  bool timeIsLocal = false;     // EXIF times carry no zone: they are local
  const char16_t* type = u"";   // folder and extension: u"jpg", u"docx"
};

// Each returns false when the candidate is not of the format at all (so
// another format or text may be tried); true with `find` filled otherwise.
bool ParseJpeg(Stream& s, Find& find);
bool ParsePng(Stream& s, Find& find);
bool ParseGif(Stream& s, Find& find);
bool ParseBmp(Stream& s, Find& find);
bool ParseTiff(Stream& s, Find& find);
bool ParsePdf(Stream& s, Find& find);
bool ParseZip(Stream& s, Find& find);
bool ParseIsoMedia(Stream& s, Find& find);
bool ParseRiff(Stream& s, Find& find);
bool ParseMp3(Stream& s, Find& find);
bool ParseSqlite(Stream& s, Find& find);
bool ParseOle2(Stream& s, Find& find);
bool ParseText(Stream& s, Find& find);

// Tries every format whose signature the first bytes carry, then text.
bool Identify(Stream& s, Find& find);

// TIFF structure shared by TIFF/raw files and EXIF blocks: the furthest
// byte any IFD, value or strip reaches (0 when the header is not TIFF), and
// DateTimeOriginal (else DateTime) as a local FILETIME.
struct TiffFacts {
  uint64_t extent = 0;
  uint64_t timeLocal = 0;
  bool bad = false;            // an offset pointed outside what was available
  const char16_t* raw = nullptr;  // u"cr2", u"nef", u"dng" when recognised
};
TiffFacts ReadTiff(Stream& s, uint64_t base, uint64_t available);

// "YYYY:MM:DD HH:MM:SS" (or with '-') as a FILETIME; 0 when malformed.
uint64_t FileTimeFromText(const uint8_t* text, size_t length);
uint64_t FileTimeFromCivil(int year, int month, int day, int hour, int minute, int second);

}  // namespace kestrel::carve
