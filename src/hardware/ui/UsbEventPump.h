#pragma once

// Runs a USB transport's events from the Qt main loop: one socket notifier
// per descriptor the transport names (rebuilt when it says they changed)
// and a single-shot timer for its next timeout. When either fires it calls
// `handleEvents` and re-arms the timer, so completions and hot-plug notices
// reach their handlers on the main thread without a thread of their own.
// A simulated box names no descriptors and is driven by the timer alone.
//
// The transport must outlive the pump.

#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace phonaxis::usb {
class UsbTransport;
}

namespace phonaxis {

class UsbEventPump final : public QObject {
    Q_OBJECT
public:
    explicit UsbEventPump(usb::UsbTransport& transport, QObject* parent = nullptr);
    ~UsbEventPump() override;

    // Lets the transport handle what is due now and re-arms the timer (the
    // notifiers and the timer call it; so may the owner after it armed the
    // transport, so that queued notices go out at once).
    void pump();

private:
    void rebuildNotifiers();
    void armTimer();

    usb::UsbTransport& m_transport;
    QTimer* m_timer;                            // owned by this object (Qt parent)
    std::vector<QSocketNotifier*> m_notifiers;  // owned by this object (Qt parent)
    bool m_pumping = false;
    bool m_rebuildPending = false;
};

} // namespace phonaxis
