#pragma once
#include <cstddef>
#include <string_view>

namespace viewer {

// Standard output and error of a GUI-subsystem program. A program started
// with redirected handles keeps them; one started from a console window has
// none and borrows its parent's console. Text goes to a console as UTF-16
// and to files and pipes as UTF-8.
class Console {
public:
    // Finds the handles; call once before writing.
    static void Attach();
    static bool HasError();
    static void Out(std::wstring_view text);
    // Bytes as they are, for a console too.
    static void OutBytes(const void* data, size_t size);
    static void Error(std::wstring_view text);
};

} // namespace viewer
