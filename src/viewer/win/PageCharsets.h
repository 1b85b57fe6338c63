#pragma once

namespace viewer {

// viewer.exe's libxml2 has no iconv: it reads UTF-8, UTF-16, the ISO-8859
// family and (through PageText) windows-1252 alone. This teaches it the
// other code pages old pages name (windows-1250 to 1258, KOI8, Shift_JIS,
// GBK, Big5, EUC-KR) through Windows' own conversion, so a page's snippet
// reads as the compiler read it with iconv. Once per process, before the
// first page is read; later calls do nothing.
void AddPageCharsets();

} // namespace viewer
