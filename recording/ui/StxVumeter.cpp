#include "recording/ui/StxVumeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The bevel colours of the classic desktop look.
constexpr QRgb HighlightColour = 0xffffffff;  // 255, 255, 255
constexpr QRgb LightColour = 0xffd4d0c8;      // 212, 208, 200
constexpr QRgb ShadowColour = 0xff808080;     // 128, 128, 128
constexpr QRgb DarkShadowColour = 0xff404040; // 64, 64, 64

// One ring of a frame: the colour of its top and left sides, and of its bottom and right sides.
struct Ring
{
    QRgb topLeft;
    QRgb bottomRight;
};

// The rings of each frame style, outermost first.
struct Frame
{
    int count;
    Ring rings[2];
};

Frame FrameOf(TNewDrawEdgeStyle style)
{
    const Ring raisedOuter{LightColour, DarkShadowColour}, raisedInner{HighlightColour, ShadowColour};
    const Ring sunkenOuter{ShadowColour, HighlightColour}, sunkenInner{DarkShadowColour, LightColour};
    switch (style) {
    case deRaised:
        return {2, {raisedOuter, raisedInner}};
    case deSunken:
        return {2, {sunkenOuter, sunkenInner}};
    case deSoftRaised: // the lighter colour outside on the top and left sides
        return {2, {{HighlightColour, DarkShadowColour}, {LightColour, ShadowColour}}};
    case deSoftSunken: // the darker colour outside on the top and left sides
        return {2, {{DarkShadowColour, HighlightColour}, {ShadowColour, LightColour}}};
    case deThinRaised:
        return {1, {raisedInner, {}}};
    case deThinSunken:
        return {1, {sunkenOuter, {}}};
    }
    return {0, {}};
}

// Fills the rectangle (left, top, right, bottom), right and bottom excluded, clipped to the image.
// An empty or inverted rectangle fills nothing.
void Fill(QImage& image, std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
          QRgb colour)
{
    left = std::max<std::int64_t>(left, 0);
    top = std::max<std::int64_t>(top, 0);
    right = std::min<std::int64_t>(right, image.width());
    bottom = std::min<std::int64_t>(bottom, image.height());
    if (left >= right || top >= bottom)
        return;
    for (std::int64_t y = top; y < bottom; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        std::fill(line + left, line + right, colour);
    }
}

// The ring's top-left colour owns the top-left corner; the bottom-right one the other three corners.
void DrawRing(QImage& image, std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom,
              const Ring& ring)
{
    Fill(image, left, top, right - 1, top + 1, ring.topLeft);
    Fill(image, left, top, left + 1, bottom - 1, ring.topLeft);
    Fill(image, left, bottom - 1, right, bottom, ring.bottomRight);
    Fill(image, right - 1, top, right, bottom, ring.bottomRight);
}

// The meter's quantities are 32-bit integers; their arithmetic wraps as a 32-bit machine's does.
std::int32_t Wrap32(std::int64_t value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// Truncating 32-bit division, divisor not 0; the single overflowing quotient wraps.
std::int32_t Div32(std::int32_t dividend, std::int32_t divisor)
{
    if (divisor == -1)
        return Wrap32(-static_cast<std::int64_t>(dividend));
    return dividend / divisor;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) == (b < 0)) ? q + 1 : q;
}

// Whether some index i of [first, last] puts origin + i * step in (low, high]; step is not 0.
bool SomeIndexBetween(std::int64_t first, std::int64_t last, std::int64_t origin, std::int64_t step,
                      std::int64_t low, std::int64_t high)
{
    const std::int64_t above = low - origin, atMost = high - origin; // above < i * step <= atMost
    std::int64_t from, to;
    if (step > 0) {
        from = FloorDiv(above, step) + 1;
        to = FloorDiv(atMost, step);
    } else {
        from = CeilDiv(atMost, step);
        to = CeilDiv(above, step) - 1;
    }
    return std::max(from, first) <= std::min(to, last);
}

// Nearest integer, a half going to the even neighbour.
std::int64_t RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        return static_cast<std::int64_t>(floor) + 1;
    return static_cast<std::int64_t>(floor);
}

} // namespace

TStxVumeter::TStxVumeter(QWidget* owner) : QWidget(owner)
{
    setObjectName(QStringLiteral("StxVumeter"));
    // Every pixel is painted from the off-screen image: nothing to erase first, nothing to flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(65, 150);
}

void TStxVumeter::SetStyle(TNewDrawEdgeStyle value)
{
    m_style = value;
    repaint();
}

void TStxVumeter::SetMaxValue(int value)
{
    m_maxValue = value;
    repaint();
}

void TStxVumeter::SetPosition(int value)
{
    m_position = value;
    repaint();
}

void TStxVumeter::SetTopSpace(int value)
{
    m_topSpace = value;
    repaint();
}

void TStxVumeter::SetBottomSpace(int value)
{
    m_bottomSpace = value;
    repaint();
}

void TStxVumeter::SetLeftSpace(int value)
{
    m_leftSpace = value;
    repaint();
}

void TStxVumeter::SetRightSpace(int value)
{
    m_rightSpace = value;
    repaint();
}

void TStxVumeter::SetBackColor(const QColor& value)
{
    m_backColor = value;
    repaint();
}

void TStxVumeter::SetActiveColor(const QColor& value)
{
    m_activeColor = value;
    repaint();
}

void TStxVumeter::SetInactiveColor(const QColor& value)
{
    m_inactiveColor = value;
    repaint();
}

void TStxVumeter::SetSingleColumn(bool value)
{
    m_singleColumn = value;
    repaint();
}

void TStxVumeter::SetElementHeight(int value)
{
    m_elementHeight = value;
    repaint();
}

void TStxVumeter::SetBlancHeight(int value)
{
    m_blancHeight = value;
    repaint();
}

void TStxVumeter::SetSeparatorWidth(int value)
{
    m_separatorWidth = value;
    m_singleColumn = value == 0;
    repaint();
}

QImage TStxVumeter::RenderImage(const QSize& size) const
{
    QImage image(size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const std::int64_t W = image.width(), H = image.height();
    const QRgb back = m_backColor.rgb(), active = m_activeColor.rgb(), inactive = m_inactiveColor.rgb();

    // Segment i, for i from 0 to N, fills the ElementHeight rows just above row TopSpace + i * cell, and gap
    // i the BlancHeight rows from that row down. Segments 1 to N lie in the bar; segment 0 lies in the top
    // margin and is lit only above the maximum.
    const std::int32_t cell = Wrap32(std::int64_t{m_blancHeight} + m_elementHeight);
    const std::int32_t usable = Wrap32(H - m_topSpace - m_bottomSpace);

    Fill(image, 0, 0, W, H, back);
    Fill(image, m_leftSpace, m_topSpace, W - m_rightSpace, H - m_bottomSpace, inactive);

    // Without a cell height there are no segments and without a maximum none is lit: the bar stays empty.
    if (cell != 0) {
        const std::int32_t N = Div32(usable, cell);
        // The segments down to index u stay unlit, the lower ones are lit; u is negative above the maximum.
        const bool anyLit = m_maxValue != 0;
        const std::int32_t u =
            anyLit ? Div32(Div32(Wrap32(std::int64_t{usable} * Wrap32(std::int64_t{m_maxValue} - m_position)),
                                 m_maxValue),
                           cell)
                   : 0;
        const std::int64_t firstLit = std::max<std::int64_t>(0, std::int64_t{u} + 1);
        // Row by row, so that the work stays bounded by the image whatever the heights: a row lies in gap i
        // when TopSpace + i * cell is in (y - BlancHeight, y], in segment i when it is in (y, y +
        // ElementHeight].
        for (std::int64_t y = 0; y < H && N >= 0; ++y) {
            if (SomeIndexBetween(0, N, m_topSpace, cell, y - m_blancHeight, y))
                Fill(image, 0, y, W, y + 1, back);
            if (anyLit && SomeIndexBetween(firstLit, N, m_topSpace, cell, y, y + m_elementHeight))
                Fill(image, m_leftSpace, y, W - m_rightSpace, y + 1, active);
        }
    }

    if (!m_singleColumn) {
        const double left = (static_cast<double>(W) - m_separatorWidth) / 2;
        Fill(image, RoundHalfEven(left), 0, RoundHalfEven(left + m_separatorWidth), H, back);
    }

    const Frame frame = FrameOf(m_style);
    for (int k = 0; k < frame.count; ++k)
        DrawRing(image, k, k, W - k, H - k, frame.rings[k]);
    return image;
}

void TStxVumeter::paintEvent(QPaintEvent* /*event*/)
{
    const QImage image = RenderImage(size());
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}
