// The view tests' offscreen Qt application, screenshots, and a demo model to show.
#pragma once

#include "Quorvane/Views/Design/ChoiceItems.h"
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "QuorvaneTests/AppModelTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QScrollArea>
#include <QSpontaneKeyEvent>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// Runs the real event loop until `done` holds or `limit` milliseconds have passed; true when it
/// held. Only for what runs on real time: the Qt executor and the application object.
inline bool runEventLoopUntil(const std::function<bool()>& done, int limit = 5000)
{
    const QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

/// What a screen reader hears of the focus while this lives: every object that assistive
/// technology was told has it, in order, as the application passes it on. One at a time.
class HeardFocus {
public:
    HeardFocus() { current() = this; }
    ~HeardFocus() { current() = nullptr; }
    HeardFocus(const HeardFocus&) = delete;
    HeardFocus& operator=(const HeardFocus&) = delete;

    struct Heard {
        QPointer<QObject> object;
        /// Whether the keys went there as it was heard.
        bool hadFocus;
        /// Its value then, such as a drop-down's chosen entry.
        QString value;
    };
    std::vector<Heard> heard;

    /// Whether Qt tells assistive technology anything at all: only where a screen reader could
    /// listen, as under an X server with the accessibility bus, not offscreen.
    [[nodiscard]] static bool canHear()
    {
        static const bool listens = QGuiApplication::platformName() != QLatin1String("offscreen")
            && runEventLoopUntil([] { return QAccessible::isActive(); }, 3000);
        return listens;
    }

    /// What was heard where the keys did not go, by class and object name; empty as it should be.
    [[nodiscard]] std::vector<std::string> elsewhere() const
    {
        std::vector<std::string> named;
        for (const Heard& each : heard) {
            if (!each.hadFocus)
                named.push_back(each.object ? std::string(each.object->metaObject()->className())
                            + " '" + each.object->objectName().toStdString() + "'"
                                            : "a gone object");
        }
        return named;
    }

    /// Installed beneath the application's own handler, as the platform's bridge is.
    static void hear(QAccessibleEvent* event)
    {
        if (current() && event->type() == QAccessible::Focus) {
            QAccessibleInterface* told = event->accessibleInterface();
            current()->heard.push_back({.object = event->object(),
                .hadFocus = event->object() == QApplication::focusWidget(),
                .value = told ? told->text(QAccessible::Value) : QString()});
        }
        // On to the platform: Qt hands an event there only while no handler is installed.
        const QAccessible::UpdateHandler above = QAccessible::installUpdateHandler(nullptr);
        QAccessible::updateAccessibility(event);
        QAccessible::installUpdateHandler(above);
    }

private:
    static HeardFocus*& current()
    {
        static HeardFocus* listening = nullptr;
        return listening;
    }
};

/// One QApplication for the whole test program, with the application's style. It runs on the
/// platform QT_QPA_PLATFORM names (CI runs the tests once more under Xvfb with "xcb"), else
/// offscreen so that no display is needed. Kept for the life of the process: Qt wants it to
/// outlive every widget.
inline QApplication& testApplication()
{
    static int argc = 1;
    static char name[] = "QuorvaneViewTests";
    static char* argv[] = {name, nullptr};
    static QApplication* const application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QuorStyle::apply(*created);
        QAccessible::installUpdateHandler(HeardFocus::hear);
        FocusKeeper::install(*created);
        nameDropDownsByTheirLabels();
        return created;
    }();
    return *application;
}

/// Runs `body` inside the application's own event loop, as the application runs everything, and
/// returns once it has. A modal exec() needs it: once anything has ended the application's loop
/// (as every quit does), Qt ends each later exec() at once until the application's runs again.
inline void insideApplicationLoop(const std::function<void()>& body)
{
    QTimer::singleShot(0, qApp, [&body] {
        body();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
}

/// Lays out what changed since the last event, as the event loop would before painting: a
/// widget's new size reaches its parent's layout as one more request, once per level.
inline void layOut()
{
    for (int level = 0; level < 12; ++level)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

/// Writes what `widget` shows to <build>/Tests/QuorvaneViewTests/screenshots/<name>.png.
inline void saveScreenshot(QWidget& widget, const std::string& name)
{
    const QString folder = QStringLiteral(QUORVANE_SCREENSHOT_FOLDER);
    ASSERT_TRUE(QDir().mkpath(folder));
    layOut();
    const QPixmap picture = widget.grab();
    ASSERT_FALSE(picture.isNull());
    EXPECT_TRUE(picture.save(folder + "/" + QString::fromStdString(name) + ".png"));
}

/// What `widget` shows now, laid out as the event loop would lay it out before painting.
inline QImage picture(QWidget& widget)
{
    layOut();
    return widget.grab().toImage();
}

/// The colour of the darkest pixel: the text's, unless the text is lighter than its frame.
inline QColor ink(const QImage& image)
{
    QRgb darkest = qRgb(255, 255, 255);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < qGray(darkest))
                darkest = image.pixel(x, y);
        }
    }
    return QColor::fromRgb(darkest);
}

/// Whether anything is drawn in a clear red, such as a destructive title or a red cross.
inline bool drawsRed(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() > 150 && colour.green() < 110 && colour.blue() < 110)
                return true;
        }
    }
    return false;
}

/// How many pixels are drawn in the focus ring's amber: warm, where the controls' own looks are
/// grey, white or green.
inline int ringPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            count += colour.red() > 180 && colour.red() - colour.blue() > 60 ? 1 : 0;
        }
    }
    return count;
}

/// Turns the mouse wheel one notch down at `at` in `widget`, its centre when absent, as the
/// window system would deliver it, `after` the last turn: by default a turn of its own, the wheel
/// having rested.
inline bool turnWheelOver(QWidget& widget,
    std::chrono::milliseconds after = std::chrono::seconds(1),
    std::optional<QPointF> at = std::nullopt)
{
    // The window system's clock, which stamps its events.
    static quint64 timestamp = 0;
    timestamp += static_cast<quint64>(after.count());
    const QPointF position = at.value_or(QRectF(widget.rect()).center());
    QWheelEvent wheel(position, widget.mapToGlobal(position), QPoint(), QPoint(0, -120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    wheel.setTimestamp(timestamp);
    // Straight to notify(): sendEvent() would mark the event as the application's own, and Qt
    // passes such a wheel on to no parent.
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    return QApplication::instance()->notify(&widget, &wheel);
}

/// The name a screen reader announces for `widget`.
inline QString spokenName(QWidget& widget)
{
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(&widget);
    return spoken ? spoken->text(QAccessible::Name) : QString();
}

/// The scroll area that `widget` sits in, if any.
inline QScrollArea* enclosingScrollArea(QWidget& widget)
{
    QWidget* around = widget.parentWidget();
    while (around && !qobject_cast<QScrollArea*>(around))
        around = around->parentWidget();
    return qobject_cast<QScrollArea*>(around);
}

/// Clicks `target` as the window system would: into its window, where an open pop-up sees the
/// click first and a modal window can block it. Scrolls it into view first.
inline void clickAsTheUserDoes(QWidget& target)
{
    if (QScrollArea* area = enclosingScrollArea(target))
        area->ensureWidgetVisible(&target);
    QWindow* window = target.window()->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint centre = target.mapTo(target.window(), target.rect().center());
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre);
}

/// A demo model that has finished starting, on virtual time.
struct DemoWorld {
    DemoWorld() { testApplication(); }

    ModelWorld world;
    std::shared_ptr<AppModel> model = world.startedModel({.simulation = true});

    /// Lets the writes and reads in flight finish.
    void settle() { world.executor.advance(std::chrono::seconds(5)); }

    /// Runs what is ready now, such as the views' queued refreshes, without moving the clock.
    void turn() { world.executor.runUntilIdle(); }
};

inline /// Double-clicks the list's one row called `name`, as the window system delivers it: a press
       /// and
    /// release, then the second press.
    void
    doubleClickRow(QListWidget& list, const QString& name)
{
    const QList<QListWidgetItem*> found = list.findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    const QPoint centre = list.visualItemRect(found.front()).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, centre);
}

} // namespace quorvane
