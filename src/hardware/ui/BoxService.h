#pragma once

// The acquisition box as the desktop application uses it: the USB transport
// (libusb, or the simulated box of `--simulate-box`), the event pump that
// runs it from the Qt main loop, the shared box connection with its
// firmware, and the `USB2Hardware` object the commands drive. Console lines
// go to stderr; the announcements beep and show their alerts, once the
// transport's delivery of the arrival or removal is over. A firmware
// download that takes its time shows a progress dialog naming the box, with
// Cancel (the box then stays in reset, without firmware, and an alert says
// so); a download that fails is told in an alert. One per
// process, made before the launch sequence (which arms discovery at its
// hardware step). Main thread only.

#include "hardware/BoxConnection.h"
#include "hardware/BoxOptions.h"
#include "hardware/USB2Hardware.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QProgressDialog;
class QWidget;

namespace phonaxis {

class Prompts;
class UsbEventPump;

namespace usb {
class SimulatedBox;
class UsbTransport;
} // namespace usb

class BoxService final : public QObject {
    Q_OBJECT
public:
    // `prompts` shows the announcements' alerts; it must outlive the
    // service.
    BoxService(const BoxOptions& options, Prompts& prompts, QObject* parent = nullptr);
    ~BoxService() override;

    // Arms discovery: a box already plugged in (the simulated one is) is
    // handled as soon as the event loop runs.
    void findHardware();

    USB2Hardware& hardware() { return *m_hardware; }
    BoxConnection& connection() { return *m_connection; }
    // Lets the transport handle what is due now (after a test stepped the
    // clock).
    void pumpEvents();
    // A programmed box answered and is still attached.
    bool boxPresent() const;
    // The simulated box, or null on the real bus.
    usb::SimulatedBox* simulatedBox() const { return m_simulated; }

    // The progress dialog of the firmware download while one runs and the
    // dialog is up (tests find it by its object name,
    // "firmwareDownloadProgress"), else null.
    QWidget* downloadProgress() const;

private:
    class Announcer;

    // After every pass of the pump: shows, updates and closes the download's
    // progress dialog, and tells how a download that ended failed.
    void followDownload();

    std::unique_ptr<Announcer> m_announcer;
    std::unique_ptr<usb::UsbTransport> m_transport;
    usb::SimulatedBox* m_simulated = nullptr; // m_transport when simulated
    std::shared_ptr<BoxConnection> m_connection;
    std::unique_ptr<USB2Hardware> m_hardware;
    UsbEventPump* m_pump = nullptr; // a child of this object
    Prompts& m_prompts;
    QPointer<QProgressDialog> m_progress; // a top-level dialog this object deletes
    bool m_followingDownload = false;     // a download was seen running
    bool m_cancelAsked = false;
};

} // namespace phonaxis
