#include "editor/ui/WaveformBox.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <vector>

namespace {

const QColor Blue(0, 0, 255);
const QColor Green(0, 128, 0);

// Columns far outside the box are brought to its edges before they become rectangles.
int clampColumn(std::int64_t x, int width)
{
    return static_cast<int>(std::clamp<std::int64_t>(x, -1, static_cast<std::int64_t>(width) + 1));
}

void fillColumns(QPainter& painter, int left, int right, int height, const QColor& colour)
{
    if (right > left)
        painter.fillRect(QRect(left, 0, right - left, height), colour);
}

} // namespace

void DrawWaveform(QPainter& painter, const TWaveformPicture& picture, int width, int height)
{
    if (!picture.Loaded)
        return;
    const int xs = clampColumn(picture.SelectionLeft, width);
    const int xe = clampColumn(picture.SelectionRight, width);
    fillColumns(painter, 0, xs, height, Blue);
    if (picture.SelectionShown)
        fillColumns(painter, xs, xe, height, Green);
    fillColumns(painter, xe, width, height, Blue);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::white, 1));
    std::vector<QPoint> points;
    points.reserve(picture.TraceY.size() + 1);
    points.emplace_back(0, picture.Middle);
    for (std::size_t x = 0; x < picture.TraceY.size(); ++x)
        points.emplace_back(static_cast<int>(x), picture.TraceY[x]);
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
}

TWaveformBox::TWaveformBox(const TEditor& editor, QWidget* parent) : QWidget(parent), m_editor(editor)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setCursor(Qt::IBeamCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TWaveformBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    DrawWaveform(painter, m_editor.Picture(), width(), height());
}

void TWaveformBox::mousePressEvent(QMouseEvent* event)
{
    emit mousePressed(event->button(), static_cast<int>(event->position().x()));
}

void TWaveformBox::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(static_cast<int>(event->position().x()));
}

void TWaveformBox::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseReleased(event->button(), static_cast<int>(event->position().x()));
}
