#include "quorvane/platform/AppDataFolder.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace qv::platform {

std::string RoamingAppDataFolder()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return xdg;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()))
        home = pw->pw_dir;
    return home + "/.config";
}

} // namespace qv::platform
