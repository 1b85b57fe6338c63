#include "forms/Artwork.h"

#include <iterator>

namespace qv::app {

QIcon CommandPicture(Picture picture)
{
    // In the order of Picture.
    static const char* const names[] = {"new", "open", "save", "options", "build", "check", "run", "help", "home"};
    static_assert(std::size(names) == static_cast<size_t>(Picture::Home) + 1);
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/art/app/%1-%2.png").arg(QLatin1String(names[static_cast<int>(picture)])).arg(size));
    return icon;
}

QPixmap ProgramPicture()
{
    return QPixmap(QStringLiteral(":/art/app/program-128.png"));
}

QPixmap WizardSidePicture()
{
    return QPixmap(QStringLiteral(":/art/app/wizard-side.png"));
}

} // namespace qv::app
