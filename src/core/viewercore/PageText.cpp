#include "quorvane/viewercore/PageText.h"

#include "quorvane/base/Utf8.h"
#include "quorvane/viewercore/MimeTypes.h"

#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

bool NameIs(const xmlChar* name, std::initializer_list<std::string_view> names)
{
    const std::string_view n(reinterpret_cast<const char*>(name));
    for (const std::string_view candidate : names)
        if (n == candidate)
            return true;
    return false;
}

// Never shown as text to a reader with scripts on.
bool Hidden(const xmlChar* name)
{
    return NameIs(name, {"script", "style", "template", "noscript"});
}

// Elements that run on within a line: their edges do not part words
// ("<b>in</b>dex" is one word on screen). Every other element's edges do.
bool Inline(const xmlChar* name)
{
    return NameIs(name, {"a", "abbr", "b", "bdi", "bdo", "cite", "code", "data", "dfn", "em", "font", "i", "kbd",
                         "mark", "q", "s", "samp", "small", "span", "strong", "sub", "sup", "time", "tt", "u",
                         "var"});
}

bool Heading(const xmlChar* name)
{
    return name[0] == 'h' && name[1] >= '1' && name[1] <= '6' && name[2] == 0;
}

bool Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Appends text with every run of blanks made one space, none at the start.
void Append(std::string& to, const char* text, size_t size)
{
    const char* end = text + size;
    while (text != end && to.size() < PageTextExtractor::kMaxText) {
        if (Blank(*text)) {
            while (text != end && Blank(*text))
                ++text;
            if (!to.empty() && to.back() != ' ')
                to += ' ';
            continue;
        }
        const char* word = text;
        while (text != end && !Blank(*text))
            ++text;
        to.append(word, std::min<size_t>(static_cast<size_t>(text - word), PageTextExtractor::kMaxText - to.size()));
    }
}

void Part(std::string& text)
{
    if (!text.empty() && text.back() != ' ')
        text += ' ';
}

void TrimEnd(std::string& text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
}

void Silent(void*, const xmlError*) {}

void SilentGeneric(void*, const char*, ...) {}

#if !defined(LIBXML_ICONV_ENABLED) && !defined(LIBXML_ICU_ENABLED)
// viewer.exe's libxml2 has no iconv: it reads UTF-8, UTF-16 and ISO-8859-x
// alone, and a page naming windows-1252, the charset old pages name most,
// would be read as Latin-1, its quotes and dashes lost. This reads it as
// iconv does for the compiler, so both find and cut the same words.
int Windows1252ToUtf8(unsigned char* out, int* outSize, const unsigned char* in, int* inSize)
{
    int read = 0;
    int written = 0;
    for (; read < *inSize; ++read) {
        const char32_t c = FromWindows1252(in[read]);
        const int need = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (written + need > *outSize)
            break;
        if (need == 1) {
            out[written++] = static_cast<unsigned char>(c);
        } else if (need == 2) {
            out[written++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            out[written++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            out[written++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            out[written++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            out[written++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    *inSize = read;
    *outSize = written;
    return written;
}

void AddCharsets()
{
    xmlNewCharEncodingHandler("windows-1252", Windows1252ToUtf8, nullptr);
    xmlAddEncodingAlias("windows-1252", "cp1252");
}
#else
void AddCharsets() {}
#endif

} // namespace

void PageText::Clear()
{
    title.clear();
    headings.clear();
    body.clear();
}

bool IsIndexedPage(std::string_view fileName)
{
    return IsPageType(MimeTypeOf(fileName));
}

struct PageTextExtractor::State {
    htmlParserCtxtPtr parser = nullptr;
    PageText text;
    int hidden = 0;   // depth inside elements never shown
    int title = 0;
    int heading = 0;
    bool finished = false;
    // The tail of the last block from an unclosed "<" on: libxml2 2.9's push
    // parser loses the end of a script or style whose end tag is cut
    // between two chunks, so no chunk ends inside a tag.
    std::string held;

    static State& Of(void* user) { return *static_cast<State*>(user); }

    static void Start(void* user, const xmlChar* name, const xmlChar** attributes)
    {
        State& s = Of(user);
        if (Hidden(name)) {
            ++s.hidden;
            return;
        }
        if (s.hidden)
            return;
        if (NameIs(name, {"title"})) {
            ++s.title;
            return;
        }
        if (Heading(name)) {
            ++s.heading;
            Part(s.text.headings);
        }
        if (!Inline(name))
            Part(s.text.body);
        if (NameIs(name, {"img", "area"}) && attributes) {
            for (const xmlChar** a = attributes; a[0]; a += 2)
                if (a[1] && NameIs(a[0], {"alt"})) {
                    Part(s.text.body);
                    s.Characters(reinterpret_cast<const char*>(a[1]), std::strlen(reinterpret_cast<const char*>(a[1])));
                    Part(s.text.body);
                }
        }
    }

    static void End(void* user, const xmlChar* name)
    {
        State& s = Of(user);
        if (Hidden(name)) {
            if (s.hidden)
                --s.hidden;
            return;
        }
        if (s.hidden)
            return;
        if (NameIs(name, {"title"})) {
            if (s.title)
                --s.title;
            Part(s.text.title);
            return;
        }
        if (Heading(name) && s.heading) {
            --s.heading;
            Part(s.text.headings);
        }
        if (!Inline(name))
            Part(s.text.body);
    }

    static void Text(void* user, const xmlChar* chars, int size)
    {
        State& s = Of(user);
        if (!s.hidden && size > 0)
            s.Characters(reinterpret_cast<const char*>(chars), static_cast<size_t>(size));
    }

    void Characters(const char* chars, size_t size)
    {
        if (title) {
            Append(text.title, chars, size);
            return;
        }
        if (heading)
            Append(text.headings, chars, size);
        Append(text.body, chars, size);
    }
};

PageTextExtractor::PageTextExtractor() : state_(std::make_unique<State>())
{
    static const bool initialised = [] {
        xmlInitParser();
        AddCharsets();
        return true;
    }();
    (void)initialised;
    // An encoding a page names wrongly is reported through libxml2's
    // handlers of the calling thread, past the parser's own; the build's
    // log is no place for it.
    xmlSetGenericErrorFunc(nullptr, SilentGeneric);

    htmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.startElement = &State::Start;
    sax.endElement = &State::End;
    sax.characters = &State::Text;
    sax.ignorableWhitespace = &State::Text;
    // Script and style text arrives here; it is never shown.
    sax.cdataBlock = [](void*, const xmlChar*, int) {};
    // A page's mistakes are the browser's business, not the build log's.
    sax.serror = [](void* user, xmlErrorPtr error) { Silent(user, error); };
    sax.initialized = XML_SAX2_MAGIC;
    state_->parser = htmlCreatePushParserCtxt(&sax, state_.get(), nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (!state_->parser)
        throw std::bad_alloc();
    htmlCtxtUseOptions(state_->parser, HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                                           HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT);
}

PageTextExtractor::~PageTextExtractor()
{
    if (state_->parser) {
        if (state_->parser->myDoc)
            xmlFreeDoc(state_->parser->myDoc);
        htmlFreeParserCtxt(state_->parser);
    }
}

void PageTextExtractor::Feed(const uint8_t* bytes, size_t size)
{
    // A tag longer than this is cut anyway: what is held stays small.
    constexpr size_t kMaxHeld = 4096;
    // libxml2 takes chunks as int.
    constexpr size_t kSlice = size_t{1} << 30;
    State& s = *state_;
    if (s.finished || size == 0)
        return;
    std::string joined;
    const char* chars = reinterpret_cast<const char*>(bytes);
    if (!s.held.empty()) {
        joined = std::move(s.held);
        joined.append(chars, size);
        chars = joined.data();
        size = joined.size();
    }
    const std::string_view all(chars, size);
    const size_t open = all.rfind('<');
    size_t ready = size;
    if (open != std::string_view::npos && all.find('>', open) == std::string_view::npos && size - open <= kMaxHeld)
        ready = open;
    std::string rest(all.substr(ready));
    for (size_t at = 0; at < ready;) {
        const size_t n = std::min(ready - at, kSlice);
        htmlParseChunk(s.parser, chars + at, static_cast<int>(n), 0);
        at += n;
    }
    s.held = std::move(rest);
}

void PageTextExtractor::Finish()
{
    State& s = *state_;
    if (s.finished)
        return;
    htmlParseChunk(s.parser, s.held.data(), static_cast<int>(s.held.size()), 1);
    s.held.clear();
    s.finished = true;
    TrimEnd(s.text.title);
    TrimEnd(s.text.headings);
    TrimEnd(s.text.body);
}

PageText& PageTextExtractor::Text()
{
    return state_->text;
}

PageText ExtractPageText(const uint8_t* bytes, size_t size)
{
    PageTextExtractor extractor;
    extractor.Feed(bytes, size);
    extractor.Finish();
    return std::move(extractor.Text());
}

} // namespace qv
