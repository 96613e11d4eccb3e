#include "app/panels/ZoomPanel.h"

#include "document/MyDocument.h"

#include <QDoubleSpinBox>
#include <QFormLayout>

namespace phonaxis {

ZoomPanel::ZoomPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                     QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionZoom", tr("Zoom"), parent),
      m_zoomRange(new QDoubleSpinBox(this))
{
    m_zoomRange->setObjectName("zoomRange");
    // The configuration keeps the range as an int32 of whole ms, and a range
    // of 0 ms would make zooming divide by zero.
    m_zoomRange->setRange(1.0, 2147483647.0);
    m_zoomRange->setDecimals(3);
    auto* form = new QFormLayout;
    form->addRow(tr("Zoom Range (ms)"), m_zoomRange);
    body()->addLayout(form);
}

void ZoomPanel::setup()
{
    m_zoomRange->setValue(m_document.m_dZoomRange);
}

void ZoomPanel::save()
{
    m_document.m_dZoomRange = m_zoomRange->value();
}

void ZoomPanel::patchConfiguration(Configuration& record) const
{
    putDocumentSettings(record, m_document, ConfigOffset::kZoomRange, ConfigOffset::kZoomRange);
}

} // namespace phonaxis
