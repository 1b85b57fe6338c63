#pragma once
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/ViewerSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Portable: shared by quorvane-view and viewer.exe, which show the boxes;
// the rules, their order and their texts live here.
namespace qv {

namespace start_text {
inline constexpr std::string_view kExpiredCaption = "Expired";
inline constexpr std::string_view kExpiredText = "This file has expired and can no longer be opened.";
inline constexpr std::string_view kPasswordCaption = "Password required";
inline constexpr std::string_view kPasswordText = "This file is protected. Please enter the password:";
inline constexpr std::string_view kWrongPassword = "Wrong password.";
} // namespace start_text

// A viewer that refuses to start ends with this status.
inline constexpr int kRefusedExitStatus = 1;
inline constexpr int kPasswordTries = 3;

// Days since 30 December 1899 of a calendar date: the unit of ExpiryDate
// (1 January 2025 gives 45658).
int32_t DateSerial(int year, int month, int day);

// Whether the output no longer starts on the local date `today` (a
// DateSerial): expiry is on and `today` is on or after ExpiryDate's day.
bool HasExpired(const ViewerSettings& settings, int32_t today);

// Whether typed text (UTF-8) is the password: it is converted and cut to
// 255 bytes as the writer stored it, then compared byte for byte.
bool PasswordMatches(const ViewerSettings& settings, std::string_view typed, const AnsiCodec& codec);

// The start of a viewer as a small machine. Life cycle: construct with the
// settings and today's local date; while Current() asks for a box, show it
// and report back (Acknowledge, Enter, Cancel); it ends in Open or Refused.
//   ShowExpired:        box kExpiredCaption / kExpiredText with OK → Acknowledge
//   AskPassword:        dialog kPasswordCaption / kPasswordText with a hidden
//                       field, OK and Cancel → Enter(text) or Cancel
//   ShowWrongPassword:  box kPasswordCaption / kWrongPassword with OK → Acknowledge
// Expiry is checked first; a password is asked only for an unexpired output.
// After kPasswordTries wrong tries or Cancel the viewer is Refused and ends
// with kRefusedExitStatus; no page may be loaded before Open. Calls that do
// not fit the current step are ignored.
class StartRules {
public:
    enum class Step { ShowExpired, AskPassword, ShowWrongPassword, Open, Refused };

    StartRules(const ViewerSettings& settings, AnsiCodec codec, int32_t today);

    Step Current() const { return step_; }
    void Acknowledge();
    void Enter(std::string_view typed);
    void Cancel();
    int WrongTries() const { return wrong_; }

private:
    ViewerSettings settings_;
    AnsiCodec codec_;
    Step step_ = Step::Open;
    int wrong_ = 0;
};

// The boxes of a viewer, as RunStartRules asks for them.
class StartPrompts {
public:
    virtual ~StartPrompts() = default;
    // A message box with `caption`, `text` and OK.
    virtual void Message(std::string_view caption, std::string_view text) = 0;
    // The password dialog; the typed text in UTF-8, or nullopt for Cancel.
    virtual std::optional<std::string> AskPassword(std::string_view caption, std::string_view text) = 0;
};

// Drives StartRules through `prompts` to its end; true when the viewer may
// open its pages, false when it must end with kRefusedExitStatus.
bool RunStartRules(const ViewerSettings& settings, const AnsiCodec& codec, int32_t today, StartPrompts& prompts);

} // namespace qv
