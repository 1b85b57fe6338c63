#include "quorvane/platform/NamedMutex.h"

#include <fcntl.h>
#include <semaphore.h>

namespace qv::platform {

NamedMutex::NamedMutex(const std::string& name)
{
    const std::string id = "/" + name;
    sem_t* sem = ::sem_open(id.c_str(), 0);
    if (sem == SEM_FAILED) {
        sem = ::sem_open(id.c_str(), O_CREAT, 0600, 0);
        created_ = sem != SEM_FAILED;
    }
    // Failures are ignored, as the program runs without it.
    handle_ = sem == SEM_FAILED ? nullptr : sem;
}

NamedMutex::~NamedMutex()
{
    if (handle_)
        ::sem_close(static_cast<sem_t*>(handle_));
}

} // namespace qv::platform
