// EventTaps.h: event taps on the user's input stream and the events they see (CGEventTap).
#pragma once

namespace quorvane {

/// Stands for the CoreGraphics event-tap calls and their run-loop sources.
class EventTaps {
public:
    virtual ~EventTaps() = default;
};

} // namespace quorvane
