#include "hardware/ui/BoxService.h"

#include "document/Prompts.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/libusb/LibUsbTransport.h"
#include "hardware/ui/UsbEventPump.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <filesystem>

namespace phonaxis {

// The protocol announces a box from inside the transport's delivery of its
// arrival or removal. An alert runs an event loop of its own until it is
// answered: run there, the whole session that follows (recording included)
// would run inside that delivery, and the alert would stand until then. So
// each announcement is told once the delivery is over, in order.
class BoxService::Announcer final : public HardwareAnnouncer {
public:
    Announcer(BoxService& service, Prompts& prompts) : m_service(service), m_prompts(prompts) {}
    void beep() override
    {
        QTimer::singleShot(0, &m_service, [] { QApplication::beep(); });
    }
    void alert(const std::string& title, const std::string& message,
               const std::string& button) override
    {
        QTimer::singleShot(0, &m_service, [this, title, message, button] {
            m_prompts.alert(title, message, button);
        });
    }

private:
    BoxService& m_service;
    Prompts& m_prompts;
};

namespace {

void printToConsole(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

} // namespace

BoxService::BoxService(const BoxOptions& options, Prompts& prompts, QObject* parent)
    : QObject(parent), m_announcer(std::make_unique<Announcer>(*this, prompts))
{
    if (options.simulatedChannels != 0) {
        auto box = options.clock ? std::make_unique<usb::SimulatedBox>(options.simulatedChannels,
                                                                       options.clock)
                                 : std::make_unique<usb::SimulatedBox>(options.simulatedChannels);
        m_simulated = box.get();
        m_transport = std::move(box);
    } else {
        auto bus = std::make_unique<usb::LibUsbTransport>();
        bus->setConsole(printToConsole);
        m_transport = std::move(bus);
    }
    m_connection =
        options.clock
            ? BoxConnection::create(*m_transport, printToConsole, *m_announcer, options.clock)
            : BoxConnection::create(*m_transport, printToConsole, *m_announcer);
    std::string error;
    std::optional<FirmwareImage> image = firmwareFor(options, error);
    // An image that was asked for (named, or a simulated box's) is missed
    // at once; the default one only when a box needs it.
    m_connection->setFirmware(std::move(image), error, firmwareAskedFor(options));
    m_hardware = std::make_unique<USB2Hardware>(m_connection);
    m_pump = new UsbEventPump(*m_transport, this);
}

BoxService::~BoxService()
{
    // Transfers still in flight complete (aborted) before the buffers and
    // the transport go.
    m_hardware->cancel();
    delete m_pump;
    m_pump = nullptr;
}

void BoxService::findHardware()
{
    if (m_simulated != nullptr && !m_simulated->plugged()) {
        m_simulated->plug();
    }
    m_hardware->FindLoadDevice();
    m_pump->pump();
}

void BoxService::pumpEvents()
{
    m_pump->pump();
}

bool BoxService::boxPresent() const
{
    return m_connection->haveHardware() && m_connection->haveInterface();
}

} // namespace phonaxis
