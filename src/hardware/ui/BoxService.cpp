#include "hardware/ui/BoxService.h"

#include "document/Prompts.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/libusb/LibUsbTransport.h"
#include "hardware/ui/UsbEventPump.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
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
    : QObject(parent), m_announcer(std::make_unique<Announcer>(*this, prompts)), m_prompts(prompts)
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
    m_pump = new UsbEventPump(*m_hardware, this);
    connect(m_pump, &UsbEventPump::pumped, this, &BoxService::followDownload);
}

BoxService::~BoxService()
{
    // A download still running stops at its next write and its worker is
    // waited for; transfers still in flight complete (aborted) before the
    // buffers and the transport go.
    m_hardware->cancelDownload();
    m_hardware->awaitDownload();
    delete m_progress;
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

QWidget* BoxService::downloadProgress() const
{
    return m_progress;
}

void BoxService::followDownload()
{
    if (m_hardware->downloading()) {
        m_followingDownload = true;
        if (m_progress == nullptr) {
            m_cancelAsked = false;
            auto* dialog = new QProgressDialog();
            dialog->setObjectName(QStringLiteral("firmwareDownloadProgress"));
            dialog->setWindowTitle(QStringLiteral("Orvix USB2 Multichannel Data Acquisition system"));
            dialog->setLabelText(
                QStringLiteral("Loading the firmware into the acquisition box (USB device "
                               "2E7B:1600)…"));
            dialog->setCancelButtonText(QStringLiteral("Cancel"));
            dialog->setWindowModality(Qt::ApplicationModal);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            // A download of a fraction of a second does not flash a dialog.
            dialog->setMinimumDuration(500);
            connect(dialog, &QProgressDialog::canceled, this, [this] {
                m_cancelAsked = true;
                m_hardware->cancelDownload();
                if (m_progress != nullptr) {
                    m_progress->setLabelText(QStringLiteral(
                        "Cancelling: waiting for the box to answer its last request…"));
                }
            });
            m_progress = dialog;
        }
        if (!m_cancelAsked) {
            m_progress->setMaximum(std::max(1, m_hardware->downloadTotal()));
            m_progress->setValue(m_hardware->downloadWritten());
        }
        return;
    }
    if (!m_followingDownload) {
        return;
    }
    m_followingDownload = false;
    delete m_progress;
    const BoxConnection& c = *m_connection;
    if (c.lastDownload && !c.lastDownload->ok()) {
        // Told after this pass, not from inside it.
        const std::string sentence = c.lastDownload->sentence();
        QTimer::singleShot(0, this, [this, sentence] {
            m_prompts.alert("Orvix USB2 Multichannel Data Acquisition system", sentence, "Close");
        });
    }
}

bool BoxService::boxPresent() const
{
    return m_connection->haveHardware() && m_connection->haveInterface();
}

} // namespace phonaxis
