// The page protocol's address rules: links of a page resolve against its
// address the way RFC 3986 says, and never above the site's root.
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
}
