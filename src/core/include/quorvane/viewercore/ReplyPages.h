#pragma once
#include <string>
#include <string_view>

// Portable: the short pages both viewers answer with instead of an entry.
namespace qv {

// `text` fit for HTML text and quoted attribute values: & < > " escaped.
std::string HtmlEscaped(std::string_view text);

// A page with `title` as heading and `text` (UTF-8, escaped here) below it.
std::string ReplyPage(std::string_view title, std::string_view text);
// "Not found" for a site path (UTF-8, e.g. "sub/missing.html").
std::string NotFoundPage(std::string_view sitePath);
// A page telling that an entry could not be read, with the failure's text.
std::string DamagedPage(std::string_view message);
// The answer to a form sent to a page: the pages of an output are files,
// and nothing receives what was entered.
std::string FormRefusedPage();

} // namespace qv
