#include "hardware/ui/BoxScopeSource.h"

#include "hardware/USB2Hardware.h"
#include "hardware/ui/BoxService.h"

namespace phonaxis {

BoxScopeSource::BoxScopeSource(BoxService& box, std::function<Clock::time_point()> now)
    : m_box(&box), m_now(std::move(now))
{
}

BoxScopeSource::~BoxScopeSource()
{
    release();
}

bool BoxScopeSource::present() const
{
    return m_box && m_box->boxPresent();
}

int BoxScopeSource::channelCount() const
{
    return present() ? m_box->connection().systemChannelNumber() : 0;
}

std::uint64_t BoxScopeSource::blockCount() const
{
    return m_box ? m_box->connection().blockCount() : 0;
}

std::span<const std::uint8_t> BoxScopeSource::newestBlock() const
{
    if (!m_box) {
        return {};
    }
    return m_box->connection().newestBlock();
}

bool BoxScopeSource::ownsStream() const
{
    return m_box && m_box->connection().recordReceiver == this &&
           m_box->connection().sampling();
}

void BoxScopeSource::keepStreaming()
{
    if (!present()) {
        return;
    }
    BoxConnection& connection = m_box->connection();
    // A recording window's stream, a stream still running, or a playback
    // through the box (a new stream would end it) are left alone.
    const bool otherReceiver =
        connection.recordReceiver != nullptr && connection.recordReceiver != this;
    if (otherReceiver || connection.sampling() || connection.playing()) {
        return;
    }
    if (m_failedAt && m_now() - *m_failedAt < kRetryDelay) {
        return;
    }
    connection.setRecordReceiver(this);
    if (m_box->hardware().SampleData() != usb::kSuccess) {
        m_failedAt = m_now();
        connection.setRecordReceiver(nullptr);
        return;
    }
    m_failedAt.reset();
}

void BoxScopeSource::stopClose()
{
    // The stream ended without the scope asking: the box failed, left, or
    // someone stopped it. Wait before starting it again.
    m_failedAt = m_now();
    if (m_box && m_box->connection().recordReceiver == this) {
        m_box->connection().setRecordReceiver(nullptr);
    }
}

void BoxScopeSource::release()
{
    if (!m_box || m_box->connection().recordReceiver != this) {
        return;
    }
    BoxConnection& connection = m_box->connection();
    connection.setRecordReceiver(nullptr);
    if (connection.sampling() || connection.readsInFlight() > 0) {
        m_box->hardware().cancel();
    }
}

} // namespace phonaxis
