// The PDF viewer's automation surface: the class names by which the
// component creates the viewer's objects and the numeric codes that cross
// it. The component and the PDF server both speak these names, so a rename
// happens here once.
#pragma once

#include <cstdint>

namespace pm::acrobat {

// ProgIDs.
inline constexpr const char* kApp = "AcroExch.App";
inline constexpr const char* kPDDoc = "AcroExch.PDDoc";
inline constexpr const char* kAVDoc = "AcroExch.AVDoc";
inline constexpr const char* kRect = "AcroExch.Rect";
inline constexpr const char* kPDBookmark = "AcroExch.PDBookmark";

// Save flags of PDDoc.Save (bits).
inline constexpr int32_t kSaveIncremental = 0x00;
inline constexpr int32_t kSaveFull = 0x01;
inline constexpr int32_t kSaveCopy = 0x02;
inline constexpr int32_t kSaveLinearized = 0x04;
inline constexpr int32_t kSaveCollectGarbage = 0x20;

// Insert flag of PDDoc.InsertPages: also copy the source's bookmarks.
inline constexpr int32_t kInsertBookmarks = 0x1000;

// Page modes of PDDoc.SetPageMode / GetPageMode.
inline constexpr int32_t kPageModeDontCare = 0;
inline constexpr int32_t kPageModeUseNone = 1;
inline constexpr int32_t kPageModeUseThumbs = 2;
inline constexpr int32_t kPageModeUseBookmarks = 3;
inline constexpr int32_t kPageModeFullScreen = 4;

// Zoom types of the page view's ZoomTo.
inline constexpr int32_t kZoomNoVary = 0;
inline constexpr int32_t kZoomFitPage = 1;
inline constexpr int32_t kZoomFitWidth = 2;
inline constexpr int32_t kZoomFitHeight = 3;
inline constexpr int32_t kZoomFitVisibleWidth = 4;

// The viewer's main window, as window lookups know it.
inline constexpr const char* kMainWindowClass = "AcrobatSDIWindow";
inline constexpr const char* kMainWindowTitle = "Adobe Acrobat Professional";

// The viewer level the JavaScript object reports (app.viewerVersion).
inline constexpr double kViewerVersion = 10.0;

}  // namespace pm::acrobat
