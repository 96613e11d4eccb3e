#include "app/LabelDialog.h"

#include "display/GraphPrimitives.h"
#include "display/MainViewLayout.h"
#include "document/MyDocument.h"
#include "model/Channels.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace phonaxis {

namespace {

std::int16_t truncToInt16(double value)
{
    if (!std::isfinite(value)) {
        return 0;
    }
    const double clamped = std::clamp(std::trunc(value), double(std::numeric_limits<std::int16_t>::min()),
                                      double(std::numeric_limits<std::int16_t>::max()));
    return static_cast<std::int16_t>(clamped);
}

} // namespace

LabelFont fromQFont(const QFont& font)
{
    LabelFont result;
    result.family = font.family().toStdString();
    result.pointSize = font.pointSizeF() > 0 ? font.pointSizeF() : 14.0;
    result.weight = static_cast<int>(font.weight());
    result.italic = font.italic();
    return result;
}

QColor labelQColor(const LabelColor& color)
{
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(float(unit(color.red)), float(unit(color.green)), float(unit(color.blue)),
                            float(unit(color.alpha)));
}

LabelColor fromQColor(const QColor& color)
{
    return LabelColor{color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

RectD QtTextMeasurer::measure(const std::string& text, const LabelFont& font) const
{
    const QSizeF size = QFontMetricsF(toQFont(font)).size(Qt::TextSingleLine, QString::fromStdString(text));
    return RectD{0.0, 0.0, size.width(), size.height()};
}

LabelDialog::LabelDialog(QWidget* parent)
    : QDialog(parent), m_text(new QLineEdit(this)),
      m_fontButton(new QPushButton(tr("Font…"), this)),
      m_colorButton(new QPushButton(tr("Colour…"), this)),
      m_deleteButton(new QPushButton(tr("Delete"), this))
{
    setObjectName("label");
    setWindowTitle(tr("Label"));
    m_text->setObjectName("_text");
    m_fontButton->setObjectName("_font");
    m_colorButton->setObjectName("_color");
    m_deleteButton->setObjectName("_delete");
    m_deleteButton->setAccessibleName(tr("Delete label"));
    m_deleteButton->setAutoDefault(false);
    setFieldFont(toQFont(LabelFont{}));
    setFieldColor(Qt::black);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // The buttons go through accept()/reject() so that Esc and the window's
    // close button (both reject()) end the request the same way Cancel does.
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &LabelDialog::confirm);
    connect(this, &QDialog::rejected, this, &LabelDialog::cancel);
    connect(m_fontButton, &QPushButton::clicked, this, &LabelDialog::chooseFont);
    connect(m_colorButton, &QPushButton::clicked, this, &LabelDialog::chooseColor);
    connect(m_deleteButton, &QPushButton::clicked, this, &LabelDialog::deleteLabel);

    auto* styling = new QHBoxLayout;
    styling->addWidget(m_fontButton);
    styling->addWidget(m_colorButton);
    styling->addStretch();
    styling->addWidget(m_deleteButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addLayout(styling);
    layout->addWidget(buttons);
}

void LabelDialog::setFieldFont(const QFont& font)
{
    m_font = font;
    m_text->setFont(font);
}

void LabelDialog::setFieldColor(const QColor& color)
{
    m_color = color;
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::Text, color);
    m_text->setPalette(palette);
}

void LabelDialog::chooseFont()
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, m_font, this, tr("Font"));
    if (ok) {
        setFieldFont(font);
    }
}

void LabelDialog::chooseColor()
{
    const QColor color = QColorDialog::getColor(m_color, this, tr("Colour"));
    if (color.isValid()) {
        setFieldColor(color);
    }
}

bool LabelDialog::openFor(MainViewModel& model, const LabelDialogRequest& request, QObject* owner,
                          std::function<void(bool changed)> finished)
{
    // One request at a time: a second one must not retarget the dialog
    // while the user edits the first (the modality normally prevents it).
    if (m_model != nullptr) {
        if (m_owner) {
            return false;
        }
        finish(false); // its window is gone; nothing is left to change
    }
    m_model = &model;
    m_owner = owner;
    m_request = request;
    m_finished = std::move(finished);

    setFieldFont(toQFont(LabelFont{}));
    setFieldColor(Qt::black);
    m_text->clear();
    m_deleteButton->setVisible(request.kind == LabelDialogRequest::Kind::ExistingLabel);
    if (request.kind == LabelDialogRequest::Kind::ExistingLabel) {
        const Labels* label =
            model.document().getChannel(request.channel).GetLabel(request.labelIndex);
        if (label != nullptr) {
            m_text->setText(QString::fromStdString(label->getLabelText()));
            setFieldFont(toQFont(label->mFont));
            setFieldColor(labelQColor(label->mFontColor));
        }
    }
    // Modal without blocking the caller: every other window is blocked until
    // OK or Cancel, so no second click can reach a view meanwhile.
    setWindowModality(Qt::ApplicationModal);
    setResult(0);
    show();
    raise();
    activateWindow();
    return true;
}

void LabelDialog::abandon(const QObject* owner)
{
    if (isOpenFor(owner)) {
        reject();
    }
}

LabelTransfer LabelDialog::newLabelRecord(const TextMeasurer& measurer) const
{
    LabelTransfer record;
    record.text = m_text->text().toStdString();
    const std::size_t count = std::min(record.text.size(), record.cText.size() - 1);
    std::memcpy(record.cText.data(), record.text.data(), count);
    record.font = fromQFont(m_font);
    record.color = fromQColor(m_color);
    const RectD size = measurer.measure(record.text, record.font);
    record.rect = Rect{0, 0, truncToInt16(size.height), truncToInt16(size.width)};
    return record;
}

bool LabelDialog::targetRequest()
{
    if (m_model == nullptr || !m_owner) {
        return false;
    }
    m_model->m_nChannelCliked = m_request.channel;
    if (m_request.kind == LabelDialogRequest::Kind::ExistingLabel) {
        m_model->m_bLabelClicked = true;
        m_model->m_ClickedLabel.channel = m_request.channel;
        m_model->m_ClickedLabel.index = m_request.labelIndex;
    }
    return true;
}

void LabelDialog::confirm()
{
    bool changed = false;
    if (targetRequest()) {
        const QtTextMeasurer measurer;
        if (m_request.kind == LabelDialogRequest::Kind::NewLabel) {
            // A label without text could be neither seen nor clicked.
            if (!m_text->text().isEmpty()) {
                changed = m_model->AddLabel(newLabelRecord(measurer), m_request.point);
            }
        } else if (m_request.kind == LabelDialogRequest::Kind::ExistingLabel) {
            if (m_text->text().isEmpty()) {
                changed = m_model->RemoveLabel();
            } else if (const Labels* current = m_model->document()
                                                   .getChannel(m_request.channel)
                                                   .GetLabel(m_request.labelIndex)) {
                Labels label = *current;
                label.setFont_Color(fromQFont(m_font), fromQColor(m_color));
                label.setLabelNSText(m_text->text().toStdString(), measurer,
                                    g_nLeftWindowOffset);
                changed = m_model->ModifyLabel(label);
            }
        }
    }
    finish(changed);
}

void LabelDialog::deleteLabel()
{
    const bool changed = m_request.kind == LabelDialogRequest::Kind::ExistingLabel &&
                         targetRequest() && m_model->RemoveLabel();
    finish(changed);
}

void LabelDialog::cancel()
{
    finish(false);
}

void LabelDialog::finish(bool changed)
{
    if (m_model == nullptr && !m_finished) {
        return; // closed without a request
    }
    auto finished = std::move(m_finished);
    const bool ownerAlive = !m_owner.isNull();
    m_finished = {};
    m_model = nullptr;
    m_owner = nullptr;
    m_request = {};
    m_text->clear();
    hide();
    if (finished && ownerAlive) {
        finished(changed);
    }
}

} // namespace phonaxis
