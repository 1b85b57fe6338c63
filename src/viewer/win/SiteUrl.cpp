#include "SiteUrl.h"

namespace viewer {

namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SchemeChar(wchar_t c, bool first)
{
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    return letter || (!first && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'));
}

// The five parts of a reference (RFC 3986, appendix B).
struct Reference {
    std::optional<std::wstring> scheme;
    std::optional<std::wstring> authority;
    std::wstring path;
    std::optional<std::wstring> query;
    std::optional<std::wstring> fragment;
};

Reference Split(std::wstring_view text)
{
    Reference r;
    const size_t colon = text.find(L':');
    if (colon != std::wstring_view::npos && colon > 0 && colon < text.find_first_of(L"/?#\\")) {
        bool valid = true;
        for (size_t i = 0; i < colon; ++i)
            valid = valid && SchemeChar(text[i], i == 0);
        if (valid) {
            r.scheme = std::wstring(text.substr(0, colon));
            text.remove_prefix(colon + 1);
        }
    }
    if (const size_t hash = text.find(L'#'); hash != std::wstring_view::npos) {
        r.fragment = std::wstring(text.substr(hash + 1));
        text = text.substr(0, hash);
    }
    if (const size_t question = text.find(L'?'); question != std::wstring_view::npos) {
        r.query = std::wstring(text.substr(question + 1));
        text = text.substr(0, question);
    }
    std::wstring rest(text);
    for (wchar_t& c : rest)
        if (c == L'\\')
            c = L'/';
    if (rest.rfind(L"//", 0) == 0) {
        const size_t end = rest.find(L'/', 2);
        r.authority = rest.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
        rest = end == std::wstring::npos ? std::wstring() : rest.substr(end);
    }
    r.path = rest;
    return r;
}

// RFC 3986, 5.2.4.
std::wstring RemoveDotSegments(std::wstring_view in)
{
    std::wstring out;
    while (!in.empty()) {
        if (in.rfind(L"../", 0) == 0) {
            in.remove_prefix(3);
        } else if (in.rfind(L"./", 0) == 0) {
            in.remove_prefix(2);
        } else if (in.rfind(L"/./", 0) == 0) {
            in.remove_prefix(2);
        } else if (in == L"/.") {
            in = L"/";
        } else if (in.rfind(L"/../", 0) == 0 || in == L"/..") {
            in = in.size() == 3 ? std::wstring_view(L"/") : in.substr(3);
            const size_t cut = out.rfind(L'/');
            out.erase(cut == std::wstring::npos ? 0 : cut);
        } else if (in == L"." || in == L"..") {
            in = {};
        } else {
            const size_t next = in.find(L'/', 1);
            const size_t take = next == std::wstring_view::npos ? in.size() : next;
            out += in.substr(0, take);
            in.remove_prefix(take);
        }
    }
    return out;
}

// The host of our own addresses; no authority at all means ours too.
bool IsSiteHost(std::wstring_view authority)
{
    const std::wstring_view own = kSiteOrigin.substr(kSiteScheme.size() + 3);
    if (authority.size() != own.size() && !authority.empty())
        return false;
    for (size_t i = 0; i < authority.size(); ++i)
        if (Lower(authority[i]) != own[i])
            return false;
    return true;
}

std::wstring Compose(const Reference& r)
{
    std::wstring text;
    if (r.scheme)
        text += *r.scheme + L':';
    if (r.authority)
        text += L"//" + *r.authority;
    text += r.path;
    if (r.query)
        text += L'?' + *r.query;
    if (r.fragment)
        text += L'#' + *r.fragment;
    return text;
}

} // namespace

std::wstring UrlScheme(std::wstring_view url)
{
    std::wstring scheme = Split(url).scheme.value_or(L"");
    for (wchar_t& c : scheme)
        c = Lower(c);
    return scheme;
}

bool IsSiteUrl(std::wstring_view url) { return UrlScheme(url) == kSiteScheme; }

bool IsShownScheme(std::wstring_view scheme)
{
    for (const std::wstring_view shown : {kSiteScheme, std::wstring_view(L"http"), std::wstring_view(L"https"),
                                          std::wstring_view(L"ftp"), std::wstring_view(L"about"),
                                          std::wstring_view(L"javascript"), std::wstring_view(L"res")})
        if (scheme == shown)
            return true;
    return false;
}

std::wstring SiteUrlOf(std::wstring_view addressPath)
{
    std::wstring url(kSiteOrigin);
    if (addressPath.empty() || addressPath.front() != L'/')
        url += L'/';
    return url += addressPath;
}

std::optional<std::wstring> AddressPathOfUrl(std::wstring_view url)
{
    if (!IsSiteUrl(url))
        return std::nullopt;
    url.remove_prefix(url.find(L':') + 1);
    if (url.rfind(L"//", 0) == 0) {
        const size_t end = url.find_first_of(L"/?#", 2);
        if (!IsSiteHost(url.substr(2, end == std::wstring_view::npos ? url.npos : end - 2)))
            return std::nullopt;
        url.remove_prefix(end == std::wstring_view::npos ? url.size() : end);
    }
    std::wstring path(url);
    if (path.empty() || path.front() != L'/')
        path.insert(path.begin(), L'/');
    return path;
}

std::optional<std::wstring> CombineSiteUrl(std::wstring_view base, std::wstring_view relative)
{
    if (!IsSiteUrl(base))
        return std::nullopt;
    const Reference b = Split(base);
    const Reference r = Split(relative);
    Reference t;
    if (r.scheme) {
        if (UrlScheme(relative) != kSiteScheme)
            return std::nullopt;
        t = r;
        t.path = RemoveDotSegments(r.path);
    } else {
        if (r.authority && !IsSiteHost(*r.authority)) {
            // "//host/x.js" is another server, as it would be under http: it
            // meets the same rules as any web address, never the archive.
            t = r;
            t.scheme = std::wstring(kOutsideScheme);
            t.path = RemoveDotSegments(r.path);
            return Compose(t);
        }
        if (r.authority) {
            t.authority = r.authority;
            t.path = RemoveDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                if (r.path.front() == L'/') {
                    t.path = RemoveDotSegments(r.path);
                } else {
                    std::wstring merged;
                    if (b.authority && b.path.empty())
                        merged = L"/" + r.path;
                    else
                        merged = b.path.substr(0, b.path.rfind(L'/') + 1) + r.path;
                    t.path = RemoveDotSegments(merged);
                }
                t.query = r.query;
            }
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    t.fragment = r.fragment;
    return Compose(t);
}

} // namespace viewer
