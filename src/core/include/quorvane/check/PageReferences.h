#pragma once
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// What one page or stylesheet refers to, read without resolving anything.
namespace qv {

struct PageReference {
    std::string text; // as written, entities and CSS escapes decoded
    int line = 0;     // 1-based line of the page or stylesheet
};

struct PageScan {
    std::vector<PageReference> references;
    // The targets of "#fragment" on this page: every id, and the name of
    // every <a>.
    std::unordered_set<std::string> anchors;
    // The href of the first <base> that has one, and whether there was one.
    std::string baseHref;
    bool hasBase = false;
    int baseLine = 0;
};

// An HTML page (UTF-8) read by the HTML5 parser as a browser reads it:
// href of a, area and link; src of img, script, iframe, frame, embed,
// audio, video, source, track and input; srcset of img and source; poster
// of video; data of object; action of form; background of body and the
// table's elements; href and xlink:href of SVG's a, image and use; the
// address of <meta http-equiv=refresh>; and url(), @import and the strings
// of image-set() in <style> elements and style attributes. Ids inside a
// <template> are no anchors: its content is not part of the document.
PageScan ScanHtml(std::string_view utf8);

// The url(), @import and image-set() references of a stylesheet, appended to `out`;
// `firstLine` is the line the text starts on in its file.
void ScanCss(std::string_view css, int firstLine, std::vector<PageReference>& out);

// The URLs of a srcset attribute, without their width or density.
std::vector<std::string> SrcsetUrls(std::string_view srcset);

// Whether `text` is well-formed UTF-8.
bool IsUtf8(std::string_view text);

} // namespace qv
