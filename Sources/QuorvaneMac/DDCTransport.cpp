#include "QuorvaneMac/DDCTransport.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Sleep.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace quorvane {
namespace {

constexpr int attemptLimit = 3;
/// Both the wait for a reply and the pause after a failed attempt grow by this per attempt.
constexpr std::chrono::milliseconds attemptStep{50};

std::uint8_t vcpCode(SettingKey setting) { return setting == SettingKey::contrast ? 0x12 : 0x10; }

ContinuousClock::time_point now() { return Executor::current()->now(); }

/// Failures that a fresh attempt may cure: the bus, the monitor's answer, opening the service.
bool isRetryable(const DDCError& error)
{
    return std::holds_alternative<DDCError::Transfer>(error.errorCase())
        || std::holds_alternative<DDCError::InvalidReply>(error.errorCase())
        || std::holds_alternative<DDCError::ServiceOpenFailed>(error.errorCase());
}

} // namespace

/// Marks the end of a transfer when it goes, whether the transfer worked or threw.
class DDCTransport::TransferMark final {
public:
    explicit TransferMark(DDCTransport& transport)
        : m_transport(transport)
    {
    }
    TransferMark(const TransferMark&) = delete;
    TransferMark& operator=(const TransferMark&) = delete;
    ~TransferMark() { m_transport.m_lastTransfer = now(); }

private:
    DDCTransport& m_transport;
};

DDCTransport::DDCTransport(std::unique_ptr<DDCConnectionProvider> provider)
    : m_provider(std::move(provider))
{
}

Task<DDCFeatureValue> DDCTransport::read(SettingKey setting, DisplayDevice display)
{
    const auto gate = co_await m_gate.lock();
    const DDCReading reading = co_await perform(std::move(display), setting, std::nullopt);
    co_return DDCFeatureValue{
        .fraction = static_cast<double>(reading.current) / static_cast<double>(reading.maximum),
        .maximum = reading.maximum,
    };
}

Task<void> DDCTransport::write(double value, SettingKey setting, DisplayDevice display)
{
    const auto gate = co_await m_gate.lock();
    (void)co_await perform(std::move(display), setting, value);
}

Task<DDCReading> DDCTransport::perform(
    DisplayDevice display, SettingKey setting, std::optional<double> target)
{
    checkCancellation();
    if (display.isBuiltIn)
        throw DDCError::unavailable("DDC requires an external monitor.");
    std::optional<DDCConnectionIdentity> identity;
    try {
        identity = m_provider->identity(display);
    } catch (...) {
        m_connections.erase(display.id);
        throw;
    }
    for (int number = 1;; ++number) {
        std::exception_ptr failure;
        bool shouldRetry = false;
        try {
            co_return co_await attempt(display, setting, target, *identity, number * attemptStep);
        } catch (const DDCError& error) {
            failure = std::current_exception();
            shouldRetry = isRetryable(error);
        } catch (...) {
            failure = std::current_exception();
        }
        // A failed attempt leaves no channel behind: the next one opens the service anew.
        m_connections.erase(display.id);
        checkCancellation();
        if (!shouldRetry || number == attemptLimit)
            std::rethrow_exception(failure);
        co_await sleep(number * attemptStep);
    }
}

Task<DDCReading> DDCTransport::attempt(const DisplayDevice& display, SettingKey setting,
    std::optional<double> target, const DDCConnectionIdentity& identity,
    std::chrono::milliseconds replyDelay)
{
    check(display, identity);
    const std::shared_ptr<DDCChannel> channel = channelFor(display, identity);
    const DDCReading reading
        = co_await getFeature(display, setting, *channel, identity, replyDelay);
    if (!target)
        co_return reading;
    // Clamped so that a stray value can never overflow the cast.
    const auto raw
        = static_cast<std::uint16_t>(std::lround(std::clamp(*target, 0.0, 1.0) * reading.maximum));
    if (raw == reading.current)
        co_return reading;
    co_await pace();
    check(display, identity);
    {
        const TransferMark mark(*this);
        channel->send(DDCCodec::writeRequest(vcpCode(setting), raw));
    }
    co_return reading;
}

Task<DDCReading> DDCTransport::getFeature(const DisplayDevice& display, SettingKey setting,
    DDCChannel& channel, const DDCConnectionIdentity& identity,
    std::chrono::milliseconds replyDelay)
{
    const std::uint8_t code = vcpCode(setting);
    co_await pace();
    check(display, identity);
    {
        const TransferMark mark(*this);
        channel.send(DDCCodec::readRequest(code));
    }
    // The monitor needs time to prepare its answer; later attempts give it more.
    const auto remaining = *m_lastTransfer + replyDelay - now();
    if (remaining > ContinuousClock::duration::zero())
        co_await sleep(remaining);
    check(display, identity);
    std::vector<std::uint8_t> reply;
    {
        const TransferMark mark(*this);
        reply = channel.receive();
    }
    check(display, identity);
    const auto reading = DDCCodec::decode(reply, code);
    if (!reading)
        throw DDCError::invalidReply(setting);
    co_return *reading;
}

std::shared_ptr<DDCChannel> DDCTransport::channelFor(
    const DisplayDevice& display, const DDCConnectionIdentity& identity)
{
    const auto cached = m_connections.find(display.id);
    if (cached != m_connections.end() && cached->second.identity == identity)
        return cached->second.channel;
    std::shared_ptr<DDCChannel> channel = m_provider->open(identity);
    m_connections.insert_or_assign(
        display.id, Connection{.identity = identity, .channel = channel});
    return channel;
}

void DDCTransport::check(const DisplayDevice& display, const DDCConnectionIdentity& identity)
{
    checkCancellation();
    if (m_provider->identity(display) != identity)
        throw DDCError::connectionChanged();
}

Task<void> DDCTransport::pace()
{
    if (!m_lastTransfer)
        co_return;
    const auto remaining = *m_lastTransfer + minimumGap - now();
    if (remaining > ContinuousClock::duration::zero())
        co_await sleep(remaining);
}

} // namespace quorvane
