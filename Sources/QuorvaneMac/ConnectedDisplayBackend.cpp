#include "QuorvaneMac/ConnectedDisplayBackend.h"

namespace quorvane {

Task<double> ConnectedDisplayBackend::read() { return m_native.read(m_display); }

Task<void> ConnectedDisplayBackend::write(double value) { return m_native.write(value, m_display); }

} // namespace quorvane
