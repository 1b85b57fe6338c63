#pragma once
#include "services/ShellService.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// Takes the shell's "open" and "start" requests instead of the desktop and
// keeps them; a start is the program followed by its arguments.
class RecordingShell final : public qv::app::ShellService {
public:
    QList<QUrl> opened;
    QList<QStringList> started;
    bool Open(const QUrl& target) override
    {
        opened << target;
        return true;
    }
    bool Start(const QString& program, const QStringList& arguments) override
    {
        started << (QStringList{program} + arguments);
        return true;
    }
    void Clear()
    {
        opened.clear();
        started.clear();
    }
};
