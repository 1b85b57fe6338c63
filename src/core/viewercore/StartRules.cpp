#include "quorvane/viewercore/StartRules.h"

#include <cmath>

namespace qv {

int32_t DateSerial(int year, int month, int day)
{
    // Days from the civil calendar (proleptic Gregorian), counted from
    // 1 March of year 0 so that leap days fall at the end of a year.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int32_t daysSince1970 = era * 146097 + doe - 719468;
    return daysSince1970 + 25569; // 1 January 1970 is day 25569
}

bool HasExpired(const ViewerSettings& settings, int32_t today)
{
    if (!settings.ExpiryEnabled || !std::isfinite(settings.ExpiryDate))
        return false;
    // The date may carry a time of day; the day it falls on is what counts.
    return static_cast<double>(today) >= std::floor(settings.ExpiryDate);
}

bool PasswordMatches(const ViewerSettings& settings, std::string_view typed, const AnsiCodec& codec)
{
    std::string stored = codec.ToAnsi(typed);
    if (stored.size() > 255)
        stored.resize(255);
    return stored == settings.Password;
}

StartRules::StartRules(const ViewerSettings& settings, AnsiCodec codec, int32_t today)
    : settings_(settings), codec_(std::move(codec))
{
    if (HasExpired(settings_, today))
        step_ = Step::ShowExpired;
    else if (!settings_.Password.empty())
        step_ = Step::AskPassword;
}

void StartRules::Acknowledge()
{
    if (step_ == Step::ShowExpired)
        step_ = Step::Refused;
    else if (step_ == Step::ShowWrongPassword)
        step_ = wrong_ >= kPasswordTries ? Step::Refused : Step::AskPassword;
}

void StartRules::Enter(std::string_view typed)
{
    if (step_ != Step::AskPassword)
        return;
    if (PasswordMatches(settings_, typed, codec_)) {
        step_ = Step::Open;
    } else {
        ++wrong_;
        step_ = Step::ShowWrongPassword;
    }
}

void StartRules::Cancel()
{
    if (step_ == Step::AskPassword)
        step_ = Step::Refused;
}

bool RunStartRules(const ViewerSettings& settings, const AnsiCodec& codec, int32_t today, StartPrompts& prompts)
{
    using namespace start_text;
    StartRules rules(settings, codec, today);
    for (;;) {
        switch (rules.Current()) {
        case StartRules::Step::ShowExpired:
            prompts.Message(kExpiredCaption, kExpiredText);
            rules.Acknowledge();
            break;
        case StartRules::Step::AskPassword:
            if (const auto typed = prompts.AskPassword(kPasswordCaption, kPasswordText))
                rules.Enter(*typed);
            else
                rules.Cancel();
            break;
        case StartRules::Step::ShowWrongPassword:
            prompts.Message(kPasswordCaption, kWrongPassword);
            rules.Acknowledge();
            break;
        case StartRules::Step::Open: return true;
        case StartRules::Step::Refused: return false;
        }
    }
}

} // namespace qv
