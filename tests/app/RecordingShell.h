#pragma once
#include "services/ShellService.h"

#include <QList>
#include <QUrl>

// Takes the shell's "open" requests instead of the desktop and keeps them.
class RecordingShell final : public qv::app::ShellService {
public:
    QList<QUrl> opened;
    bool Open(const QUrl& target) override
    {
        opened << target;
        return true;
    }
};
