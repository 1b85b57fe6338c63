#include "services/ShellService.h"

#include <QDesktopServices>
#include <QProcess>

namespace qv::app {
namespace {

class DesktopShell final : public ShellService {
public:
    bool Open(const QUrl& target) override { return QDesktopServices::openUrl(target); }
    bool Start(const QString& program, const QStringList& arguments) override
    {
        return QProcess::startDetached(program, arguments);
    }
};

std::unique_ptr<ShellService>& Current()
{
    static std::unique_ptr<ShellService> service = std::make_unique<DesktopShell>();
    return service;
}

} // namespace

ShellService& Shell()
{
    return *Current();
}

std::unique_ptr<ShellService> SetShellService(std::unique_ptr<ShellService> service)
{
    std::unique_ptr<ShellService> previous = std::move(Current());
    Current() = service ? std::move(service) : std::make_unique<DesktopShell>();
    return previous;
}

} // namespace qv::app
