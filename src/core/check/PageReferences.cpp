#include "quorvane/check/PageReferences.h"

#include "quorvane/base/PathParts.h"
#include "quorvane/base/Text.h"

#include <gumbo.h>

#include <cctype>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

namespace qv {
namespace {

// What HTML counts as white space between tokens and around URLs.
constexpr std::string_view kHtmlSpace = " \t\n\f\r";

// The element's name as written in the page, for those the parser knows
// no tag of (SVG's "use").
std::string_view TagName(const GumboElement& e)
{
    if (e.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(e.tag);
    GumboStringPiece piece = e.original_tag;
    gumbo_tag_from_original_text(&piece);
    return {piece.data, piece.length};
}

// The URL attributes each element carries; srcset is a list of URLs.
bool TakesAttribute(const GumboElement& e, std::string_view name)
{
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG)
        return (name == "href" || name == "xlink:href") &&
               (e.tag == GUMBO_TAG_A || e.tag == GUMBO_TAG_IMAGE || EqualAsciiNoCase(TagName(e), "use"));
    switch (e.tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_LINK:
        return name == "href";
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_SOURCE:
        return name == "src" || name == "srcset";
    case GUMBO_TAG_VIDEO:
        return name == "src" || name == "poster";
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_INPUT:
        return name == "src";
    case GUMBO_TAG_OBJECT:
        return name == "data";
    case GUMBO_TAG_FORM:
        return name == "action";
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return name == "background";
    default:
        return false;
    }
}

// The address of <meta http-equiv=refresh content="5; url=next.html">,
// read as browsers read it; nothing when it names none.
std::optional<std::string> RefreshUrl(std::string_view content)
{
    auto space = [&](size_t i) { return i < content.size() && kHtmlSpace.find(content[i]) != std::string_view::npos; };
    size_t i = 0;
    while (space(i))
        ++i;
    const size_t time = i;
    while (i < content.size() && ((content[i] >= '0' && content[i] <= '9') || content[i] == '.'))
        ++i;
    const size_t afterTime = i;
    if (afterTime == time)
        return std::nullopt;
    while (space(i))
        ++i;
    if (i < content.size() && (content[i] == ';' || content[i] == ','))
        ++i;
    else if (i == afterTime)
        return std::nullopt;
    while (space(i))
        ++i;
    const size_t start = i;
    if (content.size() - i >= 3 && EqualAsciiNoCase(content.substr(i, 3), "url")) {
        i += 3;
        while (space(i))
            ++i;
        if (i < content.size() && content[i] == '=') {
            ++i;
            while (space(i))
                ++i;
        } else {
            i = start;
        }
    }
    std::string_view url = content.substr(i);
    if (!url.empty() && (url[0] == '"' || url[0] == '\'')) {
        const char quote = url[0];
        url.remove_prefix(1);
        url = url.substr(0, url.find(quote));
    }
    if (url.empty())
        return std::nullopt;
    return std::string(url);
}

int LineOf(const GumboAttribute& a)
{
    return static_cast<int>(a.value_start.line ? a.value_start.line : a.name_start.line);
}

// <link rel=canonical> names the page's address for search engines; no
// browser loads or follows it, and generated manuals point it at the
// folder they were built in.
bool NamesItselfOnly(const GumboElement& e)
{
    if (e.tag != GUMBO_TAG_LINK)
        return false;
    const GumboAttribute* rel = gumbo_get_attribute(&e.attributes, "rel");
    if (!rel)
        return false;
    const auto tokens = SplitPath(AsciiLower(rel->value), kHtmlSpace, EmptyParts::Drop);
    return std::find(tokens.begin(), tokens.end(), "canonical") != tokens.end();
}

// `inTemplate`: the element lies in a <template>, whose content browsers
// keep out of the document, so none of its ids is a target.
void ScanElement(const GumboElement& e, bool inTemplate, PageScan& scan)
{
    const bool skipHref = NamesItselfOnly(e);
    if (e.tag == GUMBO_TAG_META)
        if (const GumboAttribute* equiv = gumbo_get_attribute(&e.attributes, "http-equiv");
            equiv && EqualAsciiNoCase(TrimControls(equiv->value), "refresh"))
            if (const GumboAttribute* content = gumbo_get_attribute(&e.attributes, "content"))
                if (auto url = RefreshUrl(content->value))
                    scan.references.push_back({std::move(*url), LineOf(*content)});
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto& a = *static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const std::string_view name = a.name;
        if (name == "id" || (name == "name" && e.tag == GUMBO_TAG_A)) {
            if (!inTemplate)
                scan.anchors.insert(a.value);
        }
        else if (name == "style")
            ScanCss(a.value, LineOf(a), scan.references);
        else if (e.tag == GUMBO_TAG_BASE && name == "href" && !scan.hasBase) {
            scan.hasBase = true;
            scan.baseHref = a.value;
            scan.baseLine = LineOf(a);
        } else if (TakesAttribute(e, name) && !skipHref) {
            if (name == "srcset")
                for (std::string& url : SrcsetUrls(a.value))
                    scan.references.push_back({std::move(url), LineOf(a)});
            else
                scan.references.push_back({a.value, LineOf(a)});
        }
    }
    if (e.tag == GUMBO_TAG_STYLE)
        for (unsigned i = 0; i < e.children.length; ++i) {
            const auto& child = *static_cast<const GumboNode*>(e.children.data[i]);
            if (child.type == GUMBO_NODE_TEXT || child.type == GUMBO_NODE_CDATA)
                ScanCss(child.v.text.text, static_cast<int>(child.v.text.start_pos.line), scan.references);
        }
}

// The parser's nodes and buffers, handed out from blocks that each thread
// keeps from page to page and freed at once: a fifth of the parse went to
// malloc and free, node by node.
class Arena {
public:
    static void* Allocate(void* self, size_t size) { return static_cast<Arena*>(self)->Take(size); }
    static void Release(void*, void*) {}

    // Everything handed out is free again; a few blocks are kept for the
    // next page, the rest given back.
    void Reset()
    {
        if (blocks_.size() > kKept)
            blocks_.resize(kKept);
        block_ = 0;
        used_ = 0;
    }

private:
    void* Take(size_t size)
    {
        size = (size + 15) & ~size_t(15);
        while (block_ < blocks_.size() && used_ + size > blocks_[block_].size) {
            ++block_;
            used_ = 0;
        }
        if (block_ == blocks_.size()) {
            const size_t bytes = std::max(size, kBlock);
            blocks_.push_back({std::unique_ptr<unsigned char[]>(new unsigned char[bytes]), bytes});
            used_ = 0;
        }
        void* p = blocks_[block_].bytes.get() + used_;
        used_ += size;
        return p;
    }

    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        size_t size;
    };
    static constexpr size_t kBlock = 1 << 20, kKept = 16;
    std::vector<Block> blocks_;
    size_t block_ = 0, used_ = 0;
};

bool IdentifierChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool StartsNoCase(std::string_view text, size_t at, std::string_view word)
{
    if (text.size() - at < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

bool CssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// A CSS escape at text[at] == '\\': the character it stands for, appended
// to `out` as UTF-8; returns the index after it.
size_t CssEscape(std::string_view text, size_t at, std::string& out)
{
    size_t i = at + 1;
    if (i >= text.size())
        return i;
    unsigned value = 0;
    size_t digits = 0;
    for (; i < text.size() && digits < 6 && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits)
        value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(text[i]))
                                                       ? text[i] - '0'
                                                       : (text[i] | 0x20) - 'a' + 10);
    if (digits == 0) {
        if (text[i] != '\n')
            out += text[i];
        return i + 1;
    }
    if (i < text.size() && CssSpace(text[i]))
        ++i;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        value = 0xFFFD;
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
    return i;
}

// A quoted CSS string starting at text[at]; returns the index after it.
// A newline ends it unclosed, as in CSS.
size_t CssString(std::string_view text, size_t at, std::string& value, int& line)
{
    const char quote = text[at];
    size_t i = at + 1;
    while (i < text.size() && text[i] != quote && text[i] != '\n') {
        if (text[i] == '\\') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++line;
            i = CssEscape(text, i, value);
        } else {
            value += text[i++];
        }
    }
    return i < text.size() && text[i] == quote ? i + 1 : i;
}

// The length of "image-set(" (or its prefixed form) at text[at], 0 when
// there is none.
size_t ImageSetLength(std::string_view text, size_t at)
{
    if (at > 0 && IdentifierChar(text[at - 1]))
        return 0;
    for (const std::string_view name : {"image-set(", "-webkit-image-set("})
        if (StartsNoCase(text, at, name))
            return name.size();
    return 0;
}

} // namespace

PageScan ScanHtml(std::string_view utf8)
{
    PageScan scan;
    thread_local Arena arena;
    arena.Reset();
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::Allocate;
    options.deallocator = &Arena::Release;
    options.userdata = &arena;
    options.max_errors = 0; // nobody reads them
    const GumboOutput* output = gumbo_parse_with_options(&options, utf8.data(), utf8.size());
    // The parser bounds the depth of its tree, but a stack of our own keeps
    // a deep one from reaching ours.
    std::vector<std::pair<const GumboNode*, bool>> stack{{output->root, false}};
    while (!stack.empty()) {
        const auto [node, inTemplate] = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        ScanElement(node->v.element, inTemplate, scan);
        const bool childrenInTemplate = inTemplate || node->type == GUMBO_NODE_TEMPLATE;
        const GumboVector& children = node->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.emplace_back(static_cast<const GumboNode*>(children.data[i]), childrenInTemplate);
    }
    return scan;
}

void ScanCss(std::string_view css, int firstLine, std::vector<PageReference>& out)
{
    int line = firstLine;
    bool inImport = false;
    // Parentheses open, and how many were open inside the image-set() whose
    // plain strings are URLs (0: none).
    int depth = 0, imageSet = 0;
    size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            const size_t end = css.find("*/", i + 2);
            const size_t stop = end == std::string_view::npos ? css.size() : end + 2;
            for (; i < stop; ++i)
                line += css[i] == '\n';
        } else if (c == '"' || c == '\'') {
            std::string value;
            const int at = line;
            i = CssString(css, i, value, line);
            if (inImport || (imageSet && depth == imageSet))
                out.push_back({std::move(value), at});
            inImport = false;
        } else if (c == '\\') {
            std::string ignored;
            i = CssEscape(css, i, ignored);
        } else if (c == '@' && StartsNoCase(css, i + 1, "import") &&
                   (i + 7 >= css.size() || !IdentifierChar(css[i + 7]))) {
            inImport = true;
            i += 7;
        } else if ((c == 'u' || c == 'U') && StartsNoCase(css, i, "url(") && (i == 0 || !IdentifierChar(css[i - 1]))) {
            const int at = line;
            i += 4;
            while (i < css.size() && CssSpace(css[i]))
                line += css[i++] == '\n';
            std::string value;
            if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
                i = CssString(css, i, value, line);
                while (i < css.size() && css[i] != ')')
                    line += css[i++] == '\n';
            } else {
                while (i < css.size() && css[i] != ')') {
                    if (css[i] == '\\') {
                        i = CssEscape(css, i, value);
                    } else {
                        line += css[i] == '\n';
                        value += css[i++];
                    }
                }
                while (!value.empty() && CssSpace(value.back()))
                    value.pop_back();
            }
            if (i < css.size())
                ++i;
            out.push_back({std::move(value), at});
            inImport = false;
        } else if (const size_t length = ImageSetLength(css, i)) {
            imageSet = ++depth;
            i += length;
        } else {
            if (c == ';' || c == '{' || c == '}') {
                inImport = false;
                depth = imageSet = 0;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && depth > 0) {
                if (depth-- == imageSet)
                    imageSet = 0;
            }
            ++i;
        }
    }
}

std::vector<std::string> SrcsetUrls(std::string_view srcset)
{
    std::vector<std::string> urls;
    auto space = [](char c) { return kHtmlSpace.find(c) != std::string_view::npos; };
    size_t i = 0;
    while (i < srcset.size()) {
        while (i < srcset.size() && (space(srcset[i]) || srcset[i] == ','))
            ++i;
        const size_t start = i;
        while (i < srcset.size() && !space(srcset[i]))
            ++i;
        std::string_view url = srcset.substr(start, i - start);
        bool ended = false;
        while (!url.empty() && url.back() == ',') {
            url.remove_suffix(1);
            ended = true;
        }
        if (!url.empty())
            urls.emplace_back(url);
        if (ended)
            continue;
        // The descriptors, up to the comma outside parentheses.
        int depth = 0;
        for (; i < srcset.size() && !(srcset[i] == ',' && depth == 0); ++i)
            depth += srcset[i] == '(' ? 1 : srcset[i] == ')' && depth > 0 ? -1 : 0;
    }
    return urls;
}

bool IsUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        size_t n;
        uint32_t cp;
        if ((*p & 0xE0) == 0xC0) { n = 1; cp = *p & 0x1F; }
        else if ((*p & 0xF0) == 0xE0) { n = 2; cp = *p & 0x0F; }
        else if ((*p & 0xF8) == 0xF0) { n = 3; cp = *p & 0x07; }
        else return false;
        if (static_cast<size_t>(end - p) <= n)
            return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

} // namespace qv
