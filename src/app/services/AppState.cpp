#include "services/AppState.h"

namespace qv::app {

ProcessState& State()
{
    static ProcessState state;
    return state;
}

} // namespace qv::app
