#pragma once
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace qv::app {

// The platform shell's "open": files with their handler, addresses with
// the user's web browser; and starting one of our own programs. Tests put
// an observer in its place.
class ShellService {
public:
    virtual ~ShellService() = default;
    // Whether the shell took the request.
    virtual bool Open(const QUrl& target) = 0;
    // Starts `program` on its own, not waiting for it and not ending with
    // us; whether it could be started.
    virtual bool Start(const QString& program, const QStringList& arguments) = 0;
};

ShellService& Shell();
std::unique_ptr<ShellService> SetShellService(std::unique_ptr<ShellService> service);

} // namespace qv::app
