#pragma once
#include <optional>
#include <string>
#include <string_view>

// Which servers a page of an output may reach. An output comes from a
// stranger, so its pages never reach the reader's own machine or network,
// and reach the internet only when the reader allowed it. Plain standard C++
// (no Windows headers): both viewers judge addresses by these rules.
namespace qv {

// The host of an address with an authority ("http://user@Host:80/" gives
// "host"): brackets of an IPv6 literal dropped, percent escapes and
// full-width forms decoded, A-Z in lower case, trailing dots dropped.
// nullopt when the address has no "//" authority or an unclosed bracket.
std::optional<std::wstring> UrlHost(std::wstring_view url);

// True for hosts on the reader's own machine or network: loopback,
// private (10/8, 172.16/12, 192.168/16, 100.64/10), link-local, unspecified,
// multicast and reserved IPv4 addresses in any of the forms Windows
// accepts (127.1, 0x7f000001, 017700000001), the IPv6 loopback,
// unspecified, link-local, site-local, unique-local and multicast ranges
// and IPv4 addresses embedded in IPv6 ones; "localhost" and names under
// it, names under "local", "home.arpa" and "internal", names under "localdomain",
// "lan" and "intranet", and names of one label, which the local network resolves. A host that looks like an
// address but is none counts as local too: it is refused.
bool IsLocalHost(std::wstring_view host);

enum class RequestVerdict {
    Allowed,
    LocalRefused,   // always
    InternetRefused // until the reader allows the internet
};

RequestVerdict JudgeRequest(std::wstring_view url, bool internetAllowed);

} // namespace qv
