#pragma once
#include <cstdint>

// The browser control does not say whether a navigation follows the
// reader's click, so the window keeps this token instead: real input on
// the page arms it, and the first navigation after takes it, whatever that
// navigation is. A page's timer, a script that waits for some later moment
// and a pop-up that nobody asked for find it unarmed. Plain standard C++, so
// the rules are tested on the build machine too.
namespace viewer {

class ClickToken {
public:
    // Milliseconds within which a click still counts for a navigation.
    static constexpr uint32_t kLifetime = 2000;

    // `now` in milliseconds of a clock that may wrap (GetTickCount).
    void Arm(uint32_t now)
    {
        armed_ = true;
        armedAt_ = now;
    }
    // True once for a click not older than kLifetime; unarmed after either way.
    bool Take(uint32_t now)
    {
        const bool fresh = armed_ && now - armedAt_ <= kLifetime;
        armed_ = false;
        return fresh;
    }

private:
    bool armed_ = false;
    uint32_t armedAt_ = 0;
};

} // namespace viewer
