#include "Quorvane/Views/QtApplicationShell.h"

#include "Quorvane/Views/TerminationHandler.h"

namespace quorvane {

QtApplicationShell::QtApplicationShell(TerminationHandler& handler)
    : m_handler(handler)
{
}

void QtApplicationShell::terminate() { m_handler.requestTermination(); }

} // namespace quorvane
