#pragma once
#include <optional>
#include <string>
#include <string_view>

// Addresses of the page protocol: "qv://site/" followed by a page's path
// relative to the site's root, percent-encoded. One origin for the whole
// site, so its pages may script each other's frames. Plain standard C++
// (no Windows headers), so the rules are tested on the build machine too.
namespace viewer {

inline constexpr std::wstring_view kSiteScheme = L"qv";
inline constexpr std::wstring_view kSiteOrigin = L"qv://site";
// The scheme a reference to another server ("//host/x.js") takes in a page
// of ours; what pages are made for expects the web there, and https the
// more likely of its two schemes today.
inline constexpr std::wstring_view kOutsideScheme = L"https";

// The scheme of an absolute address in lower case ("http"); empty for a
// relative one.
std::wstring UrlScheme(std::wstring_view url);
bool IsSiteUrl(std::wstring_view url);
// True for the schemes of `UrlScheme` the view may go to itself: its own,
// the web's (each request judged by the request guard) and the engine's own
// pages (about, javascript, res). Any other (file, a program's own scheme)
// would leave the view for some handler of the system.
bool IsShownScheme(std::wstring_view scheme);

// The address of a site path: `addressPath` "/index.html" or "index.html"
// gives "qv://site/index.html".
std::wstring SiteUrlOf(std::wstring_view addressPath);

// The path of a site address from its first "/" on, query and fragment
// included ("/Caf%C3%A9.html?x"); "/" when it has none; nullopt when the
// address is not one of ours (another scheme, or a host other than "site").
std::optional<std::wstring> AddressPathOfUrl(std::wstring_view url);

// A reference resolved against a site address by the rules of RFC 3986
// (dot segments removed, "\" taken as "/" in the path, the way the
// browser treats links of pages made on Windows). A network-path reference
// to another host ("//cdn.example/x.js") leaves the site: it gives an
// address of kOutsideScheme. nullopt when `base` is not a site address or
// `relative` names another scheme: the browser's own rules apply then.
std::optional<std::wstring> CombineSiteUrl(std::wstring_view base, std::wstring_view relative);

} // namespace viewer
