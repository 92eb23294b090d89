#include "montage/ui/OverviewBox.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const QColor Cream(255, 255, 210);

std::int64_t roundHalfEven(long double value)
{
    return static_cast<std::int64_t>(std::nearbyintl(value));
}

} // namespace

void DrawOverview(QPainter& painter, const TMontage& montage, int width, int height)
{
    if (montage.ClipCount <= 0 || !montage.RenderFinished)
        return;
    painter.fillRect(QRect(0, 0, width, height), Cream);
    if (montage.OverviewCount == 0 || !montage.OverviewSamples || montage.OverviewScale <= 0)
        return; // an empty montage: nothing to read
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 1));
    const auto k = static_cast<float>(static_cast<long double>(height) / 32768 / 2);
    const int mid = height / 2;
    std::vector<QPoint> points;
    points.reserve(static_cast<std::size_t>(width) + 1);
    points.emplace_back(0, mid);
    const std::int64_t last = static_cast<std::int64_t>(montage.OverviewCount) - 1;
    for (int x = 0; x < width; ++x) {
        const std::int64_t i = std::clamp<std::int64_t>(
            roundHalfEven(x / static_cast<long double>(montage.OverviewScale)), 0, last);
        std::int16_t v = 0;
        std::memcpy(&v, montage.OverviewSamples + 2 * i, 2);
        points.emplace_back(x, mid + static_cast<int>(roundHalfEven(static_cast<long double>(v) * k)));
    }
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
}

TOverviewBox::TOverviewBox(const TMontage& montage, QWidget* parent) : QWidget(parent), m_montage(montage)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TOverviewBox::PB2Paint()
{
    if (m_montage.ClipCount <= 0 || !m_montage.RenderFinished)
        return;
    m_last = QPixmap(size());
    m_last.fill(Cream);
    QPainter painter(&m_last);
    DrawOverview(painter, m_montage, width(), height());
    update();
}

void TOverviewBox::Blank(const QColor& colour)
{
    m_background = colour;
    m_last = QPixmap();
    update();
}

void TOverviewBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    if (!m_last.isNull() && m_last.size() == size())
        painter.drawPixmap(0, 0, m_last);
    else
        painter.fillRect(rect(), m_background);
}
