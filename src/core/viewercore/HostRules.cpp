#include "quorvane/viewercore/HostRules.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qv {

namespace {

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Percent escapes and full-width letters, digits and dots are read as the
// ASCII they stand for before a host is judged, as browsers do.
std::wstring Normalized(std::wstring_view raw)
{
    std::wstring host;
    for (size_t i = 0; i < raw.size(); ++i) {
        wchar_t c = raw[i];
        if (c == L'%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0) {
            c = static_cast<wchar_t>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
            i += 2;
        }
        if (c >= 0xFF01 && c <= 0xFF5E)
            c = static_cast<wchar_t>(c - 0xFEE0);
        else if (c == 0x3002 || c == 0xFF61)
            c = L'.';
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        host += c;
    }
    return host;
}

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator)
{
    std::vector<std::wstring_view> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start));
        if (end == std::wstring_view::npos)
            return parts;
        start = end + 1;
    }
}

// One part of an IPv4 address the way inet_aton reads it: "0x" hexadecimal,
// a leading 0 octal, else decimal.
std::optional<uint64_t> NumberPart(std::wstring_view part)
{
    unsigned base = 10;
    if (part.size() >= 2 && part[0] == L'0' && part[1] == L'x') {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() >= 2 && part[0] == L'0') {
        base = 8;
        part.remove_prefix(1);
    }
    if (part.empty() && base != 16)
        return std::nullopt;
    uint64_t value = 0;
    for (const wchar_t c : part) {
        const int digit = HexValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base || value > 0xFFFFFFFFu)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    return value;
}

// "a", "a.b", "a.b.c" and "a.b.c.d", the last part filling what is left.
std::optional<uint32_t> Ipv4(std::wstring_view text)
{
    const auto parts = Split(text, L'.');
    if (parts.size() > 4)
        return std::nullopt;
    uint64_t address = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto value = NumberPart(parts[i]);
        if (!value)
            return std::nullopt;
        const bool last = i + 1 == parts.size();
        const unsigned bits = last ? 8 * static_cast<unsigned>(5 - parts.size()) : 8;
        if (*value >= (uint64_t{1} << bits))
            return std::nullopt;
        address |= *value << (last ? 0 : 8 * (3 - i));
    }
    return static_cast<uint32_t>(address);
}

bool IsLocalIpv4(uint32_t a)
{
    const auto in = [a](uint32_t network, unsigned prefix) { return (a >> (32 - prefix)) == (network >> (32 - prefix)); };
    return in(0x00000000, 8) || in(0x0A000000, 8) || in(0x64400000, 10) || in(0x7F000000, 8) ||
           in(0xA9FE0000, 16) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0xC0000000, 24) || a >= 0xE0000000;
}

// Strictly dotted decimal, as the tail of an IPv6 literal.
bool DottedTail(std::wstring_view text, std::array<uint16_t, 8>& groups, size_t at)
{
    const auto parts = Split(text, L'.');
    if (parts.size() != 4)
        return false;
    uint32_t address = 0;
    for (const auto part : parts) {
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == L'0'))
            return false;
        unsigned value = 0;
        for (const wchar_t c : part) {
            if (c < L'0' || c > L'9')
                return false;
            value = value * 10 + static_cast<unsigned>(c - L'0');
        }
        if (value > 255)
            return false;
        address = address << 8 | value;
    }
    groups[at] = static_cast<uint16_t>(address >> 16);
    groups[at + 1] = static_cast<uint16_t>(address);
    return true;
}

// The groups of one side of "::"; false when one is no group.
bool Groups(std::wstring_view text, std::vector<uint16_t>& out, bool mayEndDotted)
{
    if (text.empty())
        return true;
    const auto parts = Split(text, L':');
    for (size_t i = 0; i < parts.size(); ++i) {
        if (mayEndDotted && i + 1 == parts.size() && parts[i].find(L'.') != std::wstring_view::npos) {
            std::array<uint16_t, 8> pair = {};
            if (!DottedTail(parts[i], pair, 0))
                return false;
            out.push_back(pair[0]);
            out.push_back(pair[1]);
            return true;
        }
        if (parts[i].empty() || parts[i].size() > 4)
            return false;
        unsigned value = 0;
        for (const wchar_t c : parts[i]) {
            const int digit = HexValue(c);
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        out.push_back(static_cast<uint16_t>(value));
    }
    return true;
}

std::optional<std::array<uint16_t, 8>> Ipv6(std::wstring_view text)
{
    text = text.substr(0, text.find(L'%')); // a zone: the address decides
    const size_t gap = text.find(L"::");
    std::vector<uint16_t> head, tail;
    if (gap == std::wstring_view::npos) {
        if (!Groups(text, head, true) || head.size() != 8)
            return std::nullopt;
    } else {
        if (text.find(L"::", gap + 1) != std::wstring_view::npos || !Groups(text.substr(0, gap), head, false) ||
            !Groups(text.substr(gap + 2), tail, true) || head.size() + tail.size() > 7)
            return std::nullopt;
    }
    std::array<uint16_t, 8> groups = {};
    for (size_t i = 0; i < head.size(); ++i)
        groups[i] = head[i];
    for (size_t i = 0; i < tail.size(); ++i)
        groups[8 - tail.size() + i] = tail[i];
    return groups;
}

bool IsLocalIpv6(const std::array<uint16_t, 8>& g)
{
    const auto embedded = [&g](size_t at) { return static_cast<uint32_t>(g[at]) << 16 | g[at + 1]; };
    const bool zeroHead = g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0;
    if (zeroHead && (g[5] == 0 || g[5] == 0xFFFF)) // unspecified, loopback, compatible, mapped
        return IsLocalIpv4(embedded(6));
    if (g[0] == 0x0064 && g[1] == 0xFF9B && g[2] == 0 && g[3] == 0 && g[4] == 0 && g[5] == 0) // NAT64
        return IsLocalIpv4(embedded(6));
    if ((g[0] == 0x0064 && g[1] == 0xFF9B && g[2] == 0x0001) || // local-use NAT64
        (g[0] == 0x0100 && g[1] == 0 && g[2] == 0 && g[3] == 0)) // discard
        return true;
    if (g[0] == 0x2002) // 6to4
        return IsLocalIpv4(embedded(1));
    return (g[0] & 0xFFC0) == 0xFE80 || (g[0] & 0xFFC0) == 0xFEC0 || (g[0] & 0xFE00) == 0xFC00 ||
           (g[0] & 0xFF00) == 0xFF00;
}

bool EndsWith(std::wstring_view text, std::wstring_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool IsNumeric(std::wstring_view label)
{
    if (label.size() >= 2 && label[0] == L'0' && label[1] == L'x') {
        for (const wchar_t c : label.substr(2))
            if (HexValue(c) < 0)
                return false;
        return true;
    }
    for (const wchar_t c : label)
        if (c < L'0' || c > L'9')
            return false;
    return !label.empty();
}

} // namespace

std::optional<std::wstring> UrlHost(std::wstring_view url)
{
    const size_t mark = url.find(L"://");
    if (mark == std::wstring_view::npos || mark == 0)
        return std::nullopt;
    std::wstring_view authority = url.substr(mark + 3);
    authority = authority.substr(0, authority.find_first_of(L"/\\?#"));
    if (const size_t at = authority.rfind(L'@'); at != std::wstring_view::npos)
        authority.remove_prefix(at + 1);
    std::wstring_view raw;
    if (!authority.empty() && authority[0] == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring_view::npos)
            return std::nullopt;
        raw = authority.substr(1, close - 1);
    } else {
        raw = authority.substr(0, authority.find(L':'));
    }
    std::wstring host = Normalized(raw);
    while (!host.empty() && host.back() == L'.')
        host.pop_back();
    return host;
}

bool IsLocalHost(std::wstring_view host)
{
    if (host.empty())
        return true;
    if (host.find(L':') != std::wstring_view::npos) {
        const auto groups = Ipv6(host);
        return !groups || IsLocalIpv6(*groups);
    }
    const size_t lastDot = host.rfind(L'.');
    if (IsNumeric(host.substr(lastDot == std::wstring_view::npos ? 0 : lastDot + 1))) {
        const auto address = Ipv4(host);
        return !address || IsLocalIpv4(*address);
    }
    if (lastDot == std::wstring_view::npos)
        return true;
    for (const std::wstring_view zone : {L"localhost", L"local", L"home.arpa", L"internal", L"localdomain", L"lan", L"intranet"})
        if (host == zone || EndsWith(host, L"." + std::wstring(zone)))
            return true;
    return false;
}

RequestVerdict JudgeRequest(std::wstring_view url, bool internetAllowed)
{
    const auto host = UrlHost(url);
    if (!host || IsLocalHost(*host))
        return RequestVerdict::LocalRefused;
    return internetAllowed ? RequestVerdict::Allowed : RequestVerdict::InternetRefused;
}

} // namespace qv
