// The search page and the preview page, driven in the real main window.
#pragma once

#include <functional>
#include <string>

class CRestorixDlg;

namespace guitest {

// Searches the scanned test volume R: and recovers matches; previews a
// text file, a PNG picture and binary files in the three views.
void TestSearchAndPreview(CRestorixDlg& dlg, bool imageMapped);

// For the screenshots: the search page with results, then the preview
// page in its hex, text and picture views; `shoot` saves one picture.
void ShowcaseSearchAndPreview(CRestorixDlg& dlg, const std::function<void(const std::wstring&)>& shoot);

}  // namespace guitest
