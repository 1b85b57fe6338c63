#pragma once
#include <string>
#include <string_view>

// The small text rules the formats share: letter case folded for A-Z only
// (as archive names, recent projects and masks compare), and trimming of
// blanks and control characters.
namespace qv {

std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);
bool EqualAsciiNoCase(std::string_view a, std::string_view b);
// <0, 0 or >0, comparing with A-Z folded to upper case.
int CompareAsciiNoCase(std::string_view a, std::string_view b);
// Removes characters up to and including the space from both ends.
std::string TrimControls(std::string_view text);
// `text` as a terminal may safely be given it: control characters (C0,
// DEL, and C1 when written as UTF-8) become "\x1b" and the like, and so do
// bytes that are not UTF-8, so that no name or message can move the cursor,
// retitle or clear the screen. The controls in `keep` (a message's line
// breaks, say) pass unchanged; with "\n" kept, "\r\n" becomes "\n".
std::string TerminalText(std::string_view text, std::string_view keep = {});

} // namespace qv
