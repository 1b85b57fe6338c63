#pragma once
#include <QUrl>

#include <memory>

namespace qv::app {

// The platform shell's "open": files with their handler, addresses with
// the user's web browser. Tests put an observer in its place.
class ShellService {
public:
    virtual ~ShellService() = default;
    // Whether the shell took the request.
    virtual bool Open(const QUrl& target) = 0;
};

ShellService& Shell();
std::unique_ptr<ShellService> SetShellService(std::unique_ptr<ShellService> service);

} // namespace qv::app
