// The simulated Mac's external monitor made to refuse a write or to land beside it, for the
// status lines under the controls of the Displays page and the popover.
#pragma once

#include "Quorvane/Views/DisplaysPage.h"
#include "QuorvaneTests/ModeTestSupport.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSlider>

#include <functional>
#include <string>

namespace quorvane::status_support {

using mode_support::ModeWorld;

inline const ControlKey externalBrightness
    = mode_support::modeKeyOf(mode_support::externalID, SettingKey::brightness);

/// What the monitor does with the next write.
struct MonitorFault {
    const char* name;
    std::function<void(SimulatedDDCMonitor&)> arrange;
    /// The line under the held brightness once the write is over.
    std::string line;
};

/// Every Set VCP Feature request refused, while reads still answer.
inline const MonitorFault refusedWrite{"write refused",
    [](SimulatedDDCMonitor& monitor) { monitor.faults.nackedSetRequests = 1000; },
    "Manual hold · DDC request failed (-536870163). Check the monitor's DDC/CI setting and "
    "connection."};

/// Brightness in 13 steps: 40% lands on 5 of 13, which reads back as 38%.
inline const MonitorFault coarseSteps{"read back elsewhere",
    [](SimulatedDDCMonitor& monitor) {
        monitor.features[0x10] = VCPFeature{.current = 6, .maximum = 13};
    },
    "Manual hold · Requested 40%; reported 38%"};

/// Drags the external monitor's brightness slider to 40%, after `fault`, and lets the write run
/// to its end.
inline void holdBrightnessAt40(ModeWorld& mac, const DisplaysPage& page, const MonitorFault& fault)
{
    fault.arrange(*mac.monitors->monitor(mode_support::externalID));
    page.rowOf(externalBrightness)
        ->findChild<QSlider*>(QStringLiteral("slider"))
        ->setSliderPosition(40);
    mac.settle();
}

/// Whether the hold of `row` reads as an item of its own, laid out as the event loop lays it out:
/// beside the first line of the status, apart from its words by a gap several spaces wide.
inline void expectHoldApartFromTheStatus(const QWidget& row)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QLabel& source = *row.findChild<QLabel*>(QStringLiteral("source"));
    const QRect hold = row.findChild<QLabel*>(QStringLiteral("hold"))->geometry();
    const int space = source.fontMetrics().horizontalAdvance(QLatin1Char(' '));
    EXPECT_GE(hold.left() - source.geometry().right(), 4 * space) << "the hold runs on";
    EXPECT_EQ(hold.top(), source.geometry().top());
}

} // namespace quorvane::status_support
