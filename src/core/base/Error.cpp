#include "quorvane/base/Error.h"

#include <cstring>

namespace qv {

void RaiseOsError(const std::string& what, const std::string& path, int code)
{
    throw OsError(what + " \"" + path + "\". " + std::strerror(code), code);
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

} // namespace qv
