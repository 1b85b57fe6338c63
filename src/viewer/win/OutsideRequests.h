#pragma once
#include "quorvane/viewercore/HostRules.h"

#include <functional>
#include <memory>
#include <string>

namespace viewer {

using qv::RequestVerdict;

class NameSpaceRegistration;

// Every http, https and ftp request the engine makes through urlmon in this
// process, judged by HostRules before it starts: an allowed one goes on to
// the system's own handler, a refused one fails at once and `observer` hears
// of it (on the thread that asked). Top-level links never come here: the
// window hands them to the desktop's browser.
class OutsideRequests {
public:
    using Observer = std::function<void(RequestVerdict, const std::wstring& url)>;
    // Throws qv::Error when urlmon refuses the registration.
    explicit OutsideRequests(Observer observer);
    ~OutsideRequests();
    OutsideRequests(const OutsideRequests&) = delete;
    OutsideRequests& operator=(const OutsideRequests&) = delete;

    // From now on, as long as the viewer runs, requests to the internet pass;
    // the reader's own machine and network stay out of reach.
    void AllowInternet();

    struct Context; // what every request's handler shares

private:
    std::shared_ptr<Context> context_;
    std::unique_ptr<NameSpaceRegistration> registration_;
};

} // namespace viewer
