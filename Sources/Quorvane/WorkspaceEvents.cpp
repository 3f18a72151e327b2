#include "Quorvane/WorkspaceEvents.h"

namespace quorvane {

WorkspaceEvents::WorkspaceEvents([[maybe_unused]] Platform& platform)
{
    // The observer registrations and the Space-change monitor land with the context handling.
}

} // namespace quorvane
