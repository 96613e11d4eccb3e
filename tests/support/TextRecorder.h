#pragma once

// A paint device for tests that read a drawing as its reader would: the
// texts it writes and where.

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QTextItem>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace phonaxis::test {

// An image that records every text drawn on it with the box it covers (in
// view pixels, turned texts included) and draws nothing.
class TextRecorder : public QImage {
public:
    struct Text {
        QString text;
        QRectF box;
    };

    explicit TextRecorder(QSize size) : QImage(size, Format_ARGB32_Premultiplied) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    const std::vector<Text>& texts() const { return m_texts; }

    bool has(const QString& text) const
    {
        return std::any_of(m_texts.begin(), m_texts.end(),
                           [&](const Text& t) { return t.text == text; });
    }
    // The texts whose box starts at `top` (one row of a drawing).
    std::vector<Text> row(double top) const
    {
        std::vector<Text> found;
        std::copy_if(m_texts.begin(), m_texts.end(), std::back_inserter(found),
                     [top](const Text& t) { return std::fabs(t.box.top() - top) < 1.0; });
        return found;
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(std::vector<Text>& texts) : QPaintEngine(AllFeatures), m_texts(texts) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState& state) override
        {
            if (state.state() & DirtyTransform) {
                m_transform = state.transform();
            }
        }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawPath(const QPainterPath&) override {}
        void drawTextItem(const QPointF& at, const QTextItem& item) override
        {
            if (item.text().trimmed().isEmpty()) {
                return;
            }
            const QRectF box(at.x(), at.y() - item.ascent(), item.width(),
                             item.ascent() + item.descent());
            m_texts.push_back({item.text(), m_transform.mapRect(box)});
        }
        Type type() const override { return User; }

    private:
        std::vector<Text>& m_texts;
        QTransform m_transform;
    };

    std::vector<Text> m_texts;
    mutable Engine m_engine{m_texts};
};

} // namespace phonaxis::test
