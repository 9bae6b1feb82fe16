// The office programs' surface: the ProgIDs and the member names that the
// conversions and the worksheet readers call, shared by the component and the
// office servers that answer to them. Named arguments are passed by these
// exact names; objects resolve names without regard to case.
//
// Word.Application
//   Documents; DisplayAlerts (let); ActivePrinter (get, let); Quit()
//   Documents.Open(FileName, PasswordDocument:=, WritePasswordDocument:=) -> document
//   document.PageSetup: Orientation, TopMargin, LeftMargin, RightMargin, BottomMargin (points)
//   document.Sections(1).Footers(1) / .Headers(1) .PageNumbers.Add(PageNumberAlignment:=, FirstPage:=)
//   document.Content.Font: Name, Bold, Size, Color, Italic, Underline, Reset()
//   document.PrintOut(PrintToFile:=, Background:=, Pages:=, Range:=, Outputfilename:=)
//     with Background False it returns once the file is written
//   document.Close(False)
// Excel.Application
//   Workbooks; DisplayAlerts (let); InchesToPoints(inches) -> points; Quit()
//   Workbooks.Open(FileName, WriteResPassword:=, Password:=) -> workbook
//   workbook.Worksheets(name or 1-based index) -> worksheet; workbook.Close(False)
//   worksheet: Activate(); Cells(row, column).Value / .text; PageSetup (PrintGridlines,
//     Orientation, LeftHeader, CenterHeader, RightHeader, LeftFooter, CenterFooter,
//     RightFooter, TopMargin, LeftMargin, RightMargin, BottomMargin, HeaderMargin,
//     FooterMargin, FirstPageNumber);
//     Range(address).PrintOut(Copies:=, preview:=, PrintToFile:=, Collate:=, PrToFilename:=, ActivePrinter:=)
//     which may return before the file is complete
// Powerpoint.Application
//   Visible, WindowState (let); Presentations.Open(path) -> presentation; Quit()
//   presentation.PrintOptions: PrintInBackground, PrintColorType, ActivePrinter (get, let)
//   presentation.PageSetup.SlideOrientation; PrintOut(PrintToFile:=, From:=, To:=); Close()
// Publisher.Application
//   Open(path); ActiveDocument; Quit()
//   ActiveDocument: ActivePrinter (get, let); PrintOut(from, to, output path) with the first
//   two omitted, which may return before the file is complete; Close()
#pragma once

namespace pm::office {

inline constexpr const char* kWordProgId = "Word.Application";
inline constexpr const char* kExcelProgId = "Excel.Application";
inline constexpr const char* kPowerPointProgId = "Powerpoint.Application";
inline constexpr const char* kPublisherProgId = "Publisher.Application";

}  // namespace pm::office
