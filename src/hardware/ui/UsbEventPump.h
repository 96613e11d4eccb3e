#pragma once

// Runs a USB transport's events from the Qt main loop: one socket notifier
// per descriptor the transport names (rebuilt when it says they changed)
// and a single-shot timer for its next timeout. When either fires it calls
// `handleEvents` and re-arms the timer, so completions and hot-plug notices
// reach their handlers on the main thread without a thread of their own.
// A simulated box names no descriptors and is driven by the timer alone.
//
// Made on a box protocol (`USB2Hardware`), the pump runs the protocol's
// `handleEvents` and `nextTimeout` instead of the transport's: while a
// firmware download runs on its worker the transport is left alone, its
// descriptors are not watched (a ready one would wake the pump for nothing
// over and over) and the timer looks for the download's end.
//
// The transport (and the protocol's connection) must outlive the pump.

#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace phonaxis::usb {
class UsbTransport;
}

namespace phonaxis {

class USB2Hardware;

class UsbEventPump final : public QObject {
    Q_OBJECT
public:
    explicit UsbEventPump(usb::UsbTransport& transport, QObject* parent = nullptr);
    explicit UsbEventPump(USB2Hardware& hardware, QObject* parent = nullptr);
    ~UsbEventPump() override;

    // Lets the transport handle what is due now and re-arms the timer (the
    // notifiers and the timer call it; so may the owner after it armed the
    // transport, so that queued notices go out at once).
    void pump();

signals:
    // After every pass (what the box does may have changed).
    void pumped();

private:
    void rebuildNotifiers();
    void armTimer();

    usb::UsbTransport& m_transport;
    USB2Hardware* m_hardware = nullptr;         // the protocol driven, or null (not owned)
    QTimer* m_timer;                            // owned by this object (Qt parent)
    std::vector<QSocketNotifier*> m_notifiers;  // owned by this object (Qt parent)
    bool m_pumping = false;
    bool m_rebuildPending = false;
};

} // namespace phonaxis
