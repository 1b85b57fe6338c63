#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// What a request to the page protocol asks beyond its address, read from
// the strings urlmon hands over. Plain standard C++ (no Windows headers),
// so the rules are tested on the build machine too.
namespace viewer {

// Bytes [first, last] of an entry, both counted from 0.
struct ByteRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t Count() const { return last - first + 1; }
    bool operator==(const ByteRange&) const = default;
};

// The one range a "Range: bytes=..." line among `headers` (lines ending in
// CR LF, as IHttpNegotiate hands them) asks of an entry of `size` bytes,
// cut to the entry's end. nullopt for no Range line, a malformed one, more
// than one range, or one that starts past the end: the whole entry is
// served then, as a server may always do.
std::optional<ByteRange> RequestedRange(std::wstring_view headers, int64_t size);

// Whether a request wants a document to show (a navigation of the view or
// of a frame) rather than a part of one (a picture, a script): a document
// gets a page saying why there is nothing, a part a plain failure.
// `bindToObject` is the binding's BINDSTRING_FLAG_BIND_TO_OBJECT ("TRUE"
// when the engine binds to a document object), `acceptTypes` its
// BINDSTRING_ACCEPT_MIMES joined by ", "; either may be empty.
bool WantsDocument(std::wstring_view bindToObject, std::wstring_view acceptTypes);

} // namespace viewer
