// The page protocol's address rules: links of a page resolve against its
// address the way RFC 3986 says, and never above the site's root; and what
// a request asks beyond its address.
#include "RequestHeaders.h"
#include "SiteUrl.h"

#include <gtest/gtest.h>

using namespace viewer;

TEST(SiteUrl, RelativeLinksResolveAgainstThePage)
{
    const std::wstring page = L"qv://site/a/b.html?old=1#top";
    const struct {
        const wchar_t* link;
        const wchar_t* resolved;
    } cases[] = {
        {L"c.html", L"qv://site/a/c.html"},
        {L"../c.html", L"qv://site/c.html"},
        {L"../../../../c.html", L"qv://site/c.html"},
        {L"./d/./e/../f.html", L"qv://site/a/d/f.html"},
        {L"/x/y.html", L"qv://site/x/y.html"},
        {L"sub\\page.html", L"qv://site/a/sub/page.html"},
        {L"..\\up.html", L"qv://site/up.html"},
        {L"?q=2", L"qv://site/a/b.html?q=2"},
        {L"#part", L"qv://site/a/b.html?old=1#part"},
        {L"", L"qv://site/a/b.html?old=1"},
        {L"Caf%C3%A9.html", L"qv://site/a/Caf%C3%A9.html"},
        {L"QV://site/z/../z.html", L"QV://site/z.html"},
        {L"//site/other.html", L"qv://site/other.html"},
        // Another server, never a file of the archive.
        {L"//cdn.example.com/lib/../x.js?v=2", L"https://cdn.example.com/x.js?v=2"},
        {L"\\\\fileserver\\share\\x.png", L"https://fileserver/share/x.png"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CombineSiteUrl(page, c.link).value_or(L"(none)"), c.resolved) << c.link;
}

TEST(SiteUrl, OtherSchemesKeepTheBrowsersRules)
{
    EXPECT_FALSE(CombineSiteUrl(L"qv://site/a.html", L"https://example.com/x"));
    EXPECT_FALSE(CombineSiteUrl(L"qv://site/a.html", L"mailto:someone@example.com"));
    EXPECT_FALSE(CombineSiteUrl(L"http://example.com/a.html", L"b.html"));
    EXPECT_EQ(UrlScheme(L"MailTo:someone@example.com"), L"mailto");
    EXPECT_EQ(UrlScheme(L"page.html"), L"");
    EXPECT_EQ(UrlScheme(L"a/b:c.html"), L"");
    EXPECT_TRUE(IsSiteUrl(L"Qv://site/"));
    EXPECT_FALSE(IsSiteUrl(L"qvx://site/"));
    for (const wchar_t* url : {L"QV://site/a.html", L"https://example.com/", L"about:blank", L"javascript:void(0)"})
        EXPECT_TRUE(IsShownScheme(UrlScheme(url))) << url;
    for (const wchar_t* url : {L"file:///C:/Windows/win.ini", L"ms-msdt:/id", L"search-ms:query=x", L"C:\\x.exe",
                               L"mailto:someone@example.com", L"vbscript:x"})
        EXPECT_FALSE(IsShownScheme(UrlScheme(url))) << url;
}

TEST(SiteUrl, AddressPathsOfSiteAddresses)
{
    EXPECT_EQ(SiteUrlOf(L"index.html"), L"qv://site/index.html");
    EXPECT_EQ(SiteUrlOf(L"/Sous%20dossier/a.html"), L"qv://site/Sous%20dossier/a.html");
    EXPECT_EQ(AddressPathOfUrl(L"qv://site/Caf%C3%A9.html?x#y"), L"/Caf%C3%A9.html?x#y");
    EXPECT_EQ(AddressPathOfUrl(L"qv://site"), L"/");
    EXPECT_EQ(AddressPathOfUrl(L"qv://site?x"), L"/?x");
    EXPECT_FALSE(AddressPathOfUrl(L"http://site/index.html"));
    EXPECT_FALSE(AddressPathOfUrl(L"qv://cdn.example.com/x.js"));
    EXPECT_EQ(AddressPathOfUrl(L"QV://SITE/a.html"), L"/a.html");
}

TEST(RequestHeaders, OneRangeOfTheEntryOrTheWholeEntry)
{
    const int64_t size = 1000;
    const struct {
        const wchar_t* headers;
        std::optional<ByteRange> range;
    } cases[] = {
        {L"Range: bytes=0-99\r\n", ByteRange{0, 99}},
        {L"Accept: */*\r\nrange:bytes = 900- \r\nReferer: qv://site/\r\n", ByteRange{900, 999}},
        {L"Range: bytes=990-5000\r\n", ByteRange{990, 999}},
        {L"Range: bytes=-10\r\n", ByteRange{990, 999}},
        {L"Range: bytes=-5000\r\n", ByteRange{0, 999}},
        {L"Range: bytes=1000-\r\n", std::nullopt}, // past the end
        {L"Range: bytes=50-40\r\n", std::nullopt},
        {L"Range: bytes=0-1,5-9\r\n", std::nullopt},
        {L"Range: items=0-9\r\n", std::nullopt},
        {L"Range: bytes=0-99999999999999999999\r\n", std::nullopt},
        {L"Range: bytes=0-9\r\nRange: bytes=10-19\r\n", std::nullopt},
        {L"X-Range: bytes=0-9\r\n", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequestedRange(c.headers, size), c.range) << c.headers;
    EXPECT_FALSE(RequestedRange(L"Range: bytes=-10\r\n", 0));
}

TEST(RequestHeaders, DocumentsAreTheBindingsToAnObjectOrToHtml)
{
    EXPECT_TRUE(WantsDocument(L"TRUE", L""));
    // What the engine accepts for a navigation, a picture, a script, a style sheet, a fetch.
    EXPECT_TRUE(WantsDocument(L"", L"text/html, application/xhtml+xml, image/jxr, */*, "));
    EXPECT_TRUE(WantsDocument(L"FALSE", L"application/xhtml+xml;q=0.9, "));
    EXPECT_FALSE(WantsDocument(L"FALSE", L"image/png, image/svg+xml, image/*;q=0.8, */*;q=0.5, "));
    EXPECT_FALSE(WantsDocument(L"", L"application/javascript, */*;q=0.8, "));
    EXPECT_FALSE(WantsDocument(L"", L"text/css, */*, "));
    EXPECT_FALSE(WantsDocument(L"", L"*/*, "));
    EXPECT_FALSE(WantsDocument(L"", L""));
}
