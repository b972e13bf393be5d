// The main window's rules, kept apart from the window: its private
// messages, the page table, which part of it drags, and what the progress
// bar does with a progress message.
#pragma once

#include <cstdint>
#include <vector>

class CDialogBase;

// Private window messages shared by the main window, its pages and the
// kernel. Their numbers are fixed.
constexpr unsigned WM_SHOW_DEVICE_PAGE = 0x7E8;
constexpr unsigned WM_SHOW_RESULTS_PAGE = 0x7E9;
constexpr unsigned WM_PARTITION_ACTIVATED = 0x7EB;
constexpr unsigned WM_RECOVER_PROGRESS = 0x7F2;
constexpr unsigned WM_SCAN_FOUND_COUNT = 0x7F3;
constexpr unsigned WM_SHOW_PREVIEW_PAGE = 0x7F4;
constexpr unsigned WM_SHOW_SEARCH_PAGE = 0x7F5;

enum PageKey : uint8_t {
  kPageDevice = 1,
  kPageResults = 2,
  kPagePreview = 5,
  kPageSearch = 6,
};

struct PageEntry {
  int resourceId = 0;
  wchar_t name[100] = {};
  uint8_t key = 0;
  CDialogBase* window = nullptr;  // owned by the main window
};

PageEntry MakePageEntry(int resourceId, const wchar_t* name, uint8_t key, CDialogBase* window);

// What showing a page does to each page window, in table order.
struct PageVisibility {
  CDialogBase* window;
  bool show;
};

// Keys compare as 8-bit values. The matching entry is copied to `current`
// (left alone when none matches); entries without a window are skipped.
std::vector<PageVisibility> PlanShowPage(const std::vector<PageEntry>& table, int key,
                                         PageEntry& current);

// WM_NCHITTEST: the top band of 100 pixels, less its right-most 100 pixels
// where the caption buttons sit, drags the window.
constexpr int kHitClient = 1;
constexpr int kHitCaption = 2;
int DragHitTest(int defaultHit, int clientX, int clientY, int clientWidth);

struct ProgressBarState {
  int position = 0;
  bool visible = false;
};

// WM_RECOVER_PROGRESS: wParam 1 shows the bar at lParam, anything else
// hides it; 100 always hides it and resets it to 0.
ProgressBarState ApplyRecoverProgress(uintptr_t wParam, intptr_t lParam);
