#include "quorvane/viewercore/ReplyPages.h"

namespace qv {

std::string HtmlEscaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

namespace {

std::string Page(std::string_view title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlEscaped(title) +
           "</title></head>\n<body style=\"font-family: sans-serif; margin: 2em\"><h1>" + HtmlEscaped(title) +
           "</h1>\n<p>" + body + "</p></body></html>\n";
}

} // namespace

std::string ReplyPage(std::string_view title, std::string_view text)
{
    return Page(title, HtmlEscaped(text));
}

std::string NotFoundPage(std::string_view sitePath)
{
    return Page("Not found", "This file holds no page named \"" + HtmlEscaped(sitePath) + "\".");
}

std::string DamagedPage(std::string_view message)
{
    return Page("Damaged page", HtmlEscaped(message));
}

std::string FormRefusedPage()
{
    return Page("Form not sent", "The pages of this file are saved pages, which cannot receive forms: what you "
                                 "entered was not sent anywhere.");
}

} // namespace qv
