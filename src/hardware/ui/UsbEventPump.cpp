#include "hardware/ui/UsbEventPump.h"

#include "hardware/USB2Hardware.h"
#include "hardware/UsbTransport.h"

#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>

#include <algorithm>
#include <climits>

namespace phonaxis {

UsbEventPump::UsbEventPump(usb::UsbTransport& transport, QObject* parent)
    : QObject(parent), m_transport(transport), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("usbEventPump"));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &UsbEventPump::pump);
    m_transport.onPollFdsChanged([this] {
        // The set changes while the transport runs its events (a device
        // opened or closed from a handler): rebuild once that pass is over,
        // but stop watching the old descriptors now, as they may be closed.
        if (m_pumping) {
            m_rebuildPending = true;
            for (QSocketNotifier* notifier : m_notifiers) {
                notifier->setEnabled(false);
            }
        } else {
            rebuildNotifiers();
        }
    });
    rebuildNotifiers();
    armTimer();
}

UsbEventPump::UsbEventPump(USB2Hardware& hardware, QObject* parent)
    : UsbEventPump(hardware.connection().transport, parent)
{
    m_hardware = &hardware;
}

UsbEventPump::~UsbEventPump()
{
    m_transport.onPollFdsChanged({});
}

void UsbEventPump::pump()
{
    m_pumping = true;
    if (m_hardware != nullptr) {
        m_hardware->handleEvents();
    } else {
        m_transport.handleEvents();
    }
    m_pumping = false;
    if (m_rebuildPending) {
        rebuildNotifiers();
    }
    const bool downloading = m_hardware != nullptr && m_hardware->downloading();
    for (QSocketNotifier* notifier : m_notifiers) {
        notifier->setEnabled(!downloading);
    }
    armTimer();
    emit pumped();
}

void UsbEventPump::rebuildNotifiers()
{
    m_rebuildPending = false;
    for (QSocketNotifier* notifier : m_notifiers) {
        // A notifier may be the sender of the signal being handled.
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_notifiers.clear();
    for (const usb::UsbTransport::PollFd& fd : m_transport.pollFds()) {
        const auto watch = [&](QSocketNotifier::Type type) {
            auto* notifier = new QSocketNotifier(qintptr(fd.fd), type, this);
            connect(notifier, &QSocketNotifier::activated, this, &UsbEventPump::pump);
            m_notifiers.push_back(notifier);
        };
        if ((fd.events & POLLIN) != 0) {
            watch(QSocketNotifier::Read);
        }
        if ((fd.events & POLLOUT) != 0) {
            watch(QSocketNotifier::Write);
        }
    }
}

void UsbEventPump::armTimer()
{
    const std::optional<std::chrono::milliseconds> timeout =
        m_hardware != nullptr ? m_hardware->nextTimeout() : m_transport.nextTimeout();
    if (!timeout) {
        m_timer->stop();
        return;
    }
    const auto ms = std::clamp<std::chrono::milliseconds::rep>(timeout->count(), 0, INT_MAX);
    m_timer->start(int(ms));
}

} // namespace phonaxis
