// The main window's Displays page over the real model and a simulated Mac of 2, 8 and 16
// displays, on Qt's offscreen platform with the application's focus keeper: the processor time of
// three rebuilds of the page's cards, as the last display's contrast control comes and goes, once
// with the keyboard focus on Recheck ("onControlMs") and once, in the same iteration, with the
// focus waiting where keys do nothing for a Resume that the model disabled ("waitingMs"); both
// are per iteration, and "waitingOverOnControl" is their ratio. The keeper's work for each shown,
// hidden or disabled widget is all that differs between the two. Run by hand:
//     QT_QPA_PLATFORM=offscreen build/dev/bench/quorvane_bench_displays_page

#include "ModelOnSimulatedMac.h"
#include "ProcessorTime.h"
#include "SettingsDocuments.h"

#include "Foundation/Format.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/DisplaysView.h"

#include <QApplication>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

using namespace quorvane;
using namespace quorvane::bench;
using namespace std::chrono_literals;

namespace {

constexpr int rebuildsPerIteration = 3;

/// Adds copies of the default world's external monitor until the world has `count` displays.
void addDisplays(SimulatedWorld& world, int count)
{
    const SimulatedDisplay external = world.displays.back();
    while (static_cast<int>(world.displays.size()) < count) {
        const auto number = static_cast<DisplayNumber>(world.displays.size() + 1);
        const std::string digits = formatInteger(number);
        SimulatedDisplay added = external;
        added.number = number;
        added.uuid = "9C4E2F61-5B3A-4D7E-8F10-" + std::string(12 - digits.size(), '0') + digits;
        added.bounds.x = external.bounds.x + external.bounds.width * (number - 2);
        added.screen->localizedName = "Studio Monitor " + formatInteger(number);
        added.screen->deviceDescription["NSScreenNumber"] = PlatformValue::integer(number);
        world.displays.push_back(std::move(added));
    }
}

/// The main window of a started model on its Displays page.
class PageWorld final {
public:
    explicit PageWorld(int displayCount)
        : m_world(configurationWith(0))
    {
        addDisplays(m_world.mac.world, displayCount);
        m_world.start();
        window = std::make_unique<MainWindow>(*m_world.model, m_world.shell);
        model().page.set(AppPage::displays);
        window->show();
        turn();
        // Found by name: the page's classes declare no signals.
        m_view = static_cast<DisplaysView*>(
            window->findChild<QWidget*>(QStringLiteral("displaysView")));
    }
    ~PageWorld()
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_world.executor.advance(5s); // the last save ends before the folder goes
    }

    PageWorld(const PageWorld&) = delete;
    PageWorld& operator=(const PageWorld&) = delete;

    /// Makes the window the active one, so that its focus moves as the person's would; false
    /// when the platform never activates it.
    bool activate()
    {
        window->activateWindow();
        for (int attempt = 0; attempt < 1000 && QApplication::activeWindow() != window.get();
             ++attempt)
            QCoreApplication::processEvents();
        return QApplication::activeWindow() == window.get();
    }
    /// The view's redraws, Qt's events and the cards that went.
    void turn()
    {
        m_world.executor.runUntilIdle();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    /// Leaves the focus where keys do nothing: on a Resume that goes disabled as its hold ends.
    void focusAWaitingPlace()
    {
        // Every display has a temperature: the added ones answer no DDC/CI.
        const ControlKey key = rebuiltKey(SettingKey::temperature);
        model().manual(SettingValue::temperature(Temperature::kelvin(5000)), key, false);
        m_world.executor.advance(5s);
        turn();
        m_view->controls()
            .rowOf(key)
            ->findChild<QPushButton*>(QStringLiteral("resume"))
            ->setFocus(Qt::ShortcutFocusReason);
        model().resume(key);
        m_world.executor.advance(5s);
        turn();
    }
    void focusRecheck()
    {
        m_view->findChild<QPushButton*>(QStringLiteral("recheck"))->setFocus(Qt::ShortcutFocusReason);
        turn();
    }
    /// Whether the focus is on no control that Tab reaches: where the keeper lets it wait.
    [[nodiscard]] bool focusWaits() const
    {
        const QWidget* focused = window->focusWidget();
        return focused && !(focused->focusPolicy() & Qt::TabFocus);
    }

    /// The cards built anew, once for each contrast control that comes or goes.
    void rebuild()
    {
        const ControlKey key = rebuiltKey(SettingKey::contrast);
        model().hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            ControlCapability& contrast = snapshot.capabilities[key];
            contrast.available = !contrast.available;
        });
        turn();
    }

    [[nodiscard]] AppModel& model() const { return *m_world.model; }
    [[nodiscard]] int cardCount() const
    {
        int count = 0;
        for (const DisplayDevice& display : *model().displays)
            count += m_view->controls().cardOf(display.id) ? 1 : 0;
        return count;
    }

    std::unique_ptr<MainWindow> window;

private:
    /// A control of the last display, whose card the rebuilds replace as they do every card.
    [[nodiscard]] ControlKey rebuiltKey(SettingKey setting) const
    {
        return {.target = ControlTarget::display(model().displays->back().id), .setting = setting};
    }

    ModelOnSimulatedMac m_world;
    DisplaysView* m_view = nullptr;
};

void rebuildCards(benchmark::State& state)
{
    const int displayCount = static_cast<int>(state.range(0));
    PageWorld onControl(displayCount);
    PageWorld waiting(displayCount);
    const bool isActive = onControl.activate();
    onControl.focusRecheck();
    if (!isActive || !waiting.activate()) {
        state.SkipWithError("the platform activates no window");
        return;
    }
    waiting.focusAWaitingPlace();
    const auto isArranged = [&] { return !onControl.focusWaits() && waiting.focusWaits(); };
    if (!isArranged()) {
        state.SkipWithError("the focus is not where the case needs it");
        return;
    }
    const auto rebuildThrice = [](PageWorld& world) {
        world.activate();
        return secondsOf([&] {
            for (int rebuild = 0; rebuild < rebuildsPerIteration; ++rebuild)
                world.rebuild();
        });
    };
    double onControlSeconds = 0;
    double waitingSeconds = 0;
    for (auto _ : state) {
        onControlSeconds += rebuildThrice(onControl);
        const double iteration = rebuildThrice(waiting);
        waitingSeconds += iteration;
        state.SetIterationTime(iteration);
    }
    if (!isArranged()) {
        state.SkipWithError("the focus moved during the rebuilds");
        return;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["cards"] = waiting.cardCount();
    state.counters["widgets"]
        = static_cast<double>(waiting.window->findChildren<QWidget*>().size());
    state.counters["onControlMs"] = 1e3 * onControlSeconds / iterations;
    state.counters["waitingMs"] = 1e3 * waitingSeconds / iterations;
    state.counters["waitingOverOnControl"] = waitingSeconds / onControlSeconds;
}

} // namespace

BENCHMARK(rebuildCards)
    ->Arg(2)
    ->Arg(8)
    ->Arg(16)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
