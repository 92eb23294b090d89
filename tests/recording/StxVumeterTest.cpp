// The level meter: its pictures pixel for pixel (the recording window's meter and the default one at
// several positions, the column separator, the frames), the degenerate settings that must draw an empty
// meter, and the repaint on every property write. Expected pictures are built here from rectangles
// worked out by hand from the meter's geometry, never from the meter's own output.
#include "recording/ui/StxVumeter.h"

#include <QEvent>
#include <QTest>
#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const QRgb Black = qRgb(0, 0, 0);
const QRgb Lime = qRgb(0, 255, 0);
const QRgb Green = qRgb(0, 128, 0);
const QRgb Silver = qRgb(192, 192, 192);
const QRgb Blue = qRgb(0, 0, 255);
// The bevel colours.
const QRgb White = qRgb(255, 255, 255);
const QRgb Light = qRgb(212, 208, 200);
const QRgb Grey = qRgb(128, 128, 128);
const QRgb Dark = qRgb(64, 64, 64);

std::string Name(QRgb c)
{
    return "(" + std::to_string(qRed(c)) + ", " + std::to_string(qGreen(c)) + ", " +
           std::to_string(qBlue(c)) + ")";
}

// An expected picture, painted with rectangles (left, top, right, bottom), right and bottom excluded.
class Picture
{
public:
    Picture(int width, int height, QRgb colour) : image(width, height, QImage::Format_RGB32)
    {
        image.fill(colour);
    }
    void fill(int left, int top, int right, int bottom, QRgb colour)
    {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                image.setPixel(x, y, colour);
    }
    // A ring: its top row and left column (but the top-right and bottom-left corners) in topLeft, its bottom
    // row and right column in bottomRight.
    void ring(int k, QRgb topLeft, QRgb bottomRight)
    {
        const int right = image.width() - k, bottom = image.height() - k;
        fill(k, k, right - 1, k + 1, topLeft);
        fill(k, k, k + 1, bottom - 1, topLeft);
        fill(k, bottom - 1, right, bottom, bottomRight);
        fill(right - 1, k, right, bottom, bottomRight);
    }
    QImage image;
};

testing::AssertionResult SamePixels(const QImage& actual, const QImage& expected)
{
    if (actual.size() != expected.size())
        return testing::AssertionFailure() << "size " << actual.width() << " x " << actual.height()
                                           << ", expected " << expected.width() << " x " << expected.height();
    int wrong = 0;
    std::string first;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            if (a == e)
                continue;
            if (++wrong <= 8)
                first += "\n  (" + std::to_string(x) + ", " + std::to_string(y) + "): " + Name(a) +
                         ", expected " + Name(e);
        }
    if (wrong == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << wrong << " pixels differ, first ones:" << first;
}

bool Contains(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                return true;
    return false;
}

// The recording window's meter: 25 x 113, thin sunken frame on silver, one column of 4-pixel segments
// without gaps, bar from (3, 4) to (21, 109) excluded. usable = 105, cell = 4, N = 26: segment i covers
// rows 4i to 4i + 3, and row 108 is the bar's remainder, never lit.
void SetUpRecordingMeter(TStxVumeter& vm)
{
    vm.resize(25, 113);
    vm.SetStyle(deThinSunken);
    vm.SetMaxValue(100);
    vm.SetPosition(0);
    vm.SetTopSpace(4);
    vm.SetBottomSpace(4);
    vm.SetLeftSpace(3);
    vm.SetRightSpace(4);
    vm.SetBackColor(QColor(192, 192, 192));
    vm.SetActiveColor(QColor(0, 255, 0));
    vm.SetInactiveColor(QColor(0, 128, 0));
    vm.SetSingleColumn(true);
    vm.SetElementHeight(4);
    vm.SetBlancHeight(0);
    vm.SetSeparatorWidth(0);
}

struct RecordingCase
{
    int position;
    int firstLitRow; // lit from this row to row 107; -1: nothing lit
};

// Position -> u = ((105 * (100 - Position)) div 100) div 4, segments i > u lit (i from 0 to 26).
const RecordingCase RecordingCases[] = {
    {0, -1},   // u = 26: nothing lit
    {-10, -1}, // 11550 div 100 = 115, u = 28
    {1, 104},  // 10395 div 100 = 103, u = 25: segment 26 only
    {4, 104},  // 10080 div 100 = 100, u = 25
    {5, 100},  // 9975 div 100 = 99, u = 24: segments 25 and 26
    {50, 56},  // 5250 div 100 = 52, u = 13: segments 14 to 26
    {99, 4},   // 105 div 100 = 1, u = 0: segments 1 to 26
    {100, 4},  // u = 0
    {101, 4},  // -105 div 100 = -1, -1 div 4 = 0: still u = 0
    {104, 0},  // -420 div 100 = -4, u = -1: segment 0 lit in the top margin, rows 0 to 3
    {1000, 0}, // u = -236
};

TEST(StxVumeterRecordingWindow, RowsForEachPosition)
{
    TStxVumeter vm;
    SetUpRecordingMeter(vm);
    for (const RecordingCase& c : RecordingCases) {
        SCOPED_TRACE("Position " + std::to_string(c.position));
        vm.SetPosition(c.position);
        Picture expected(25, 113, Silver);
        expected.fill(3, 4, 21, 109, Green);
        if (c.firstLitRow >= 0)
            expected.fill(3, c.firstLitRow, 21, 108, Lime);
        expected.ring(0, Grey, White);
        EXPECT_TRUE(SamePixels(vm.RenderImage(QSize(25, 113)), expected.image));
    }
}

// The default meter, 65 x 150: sunken frame, black background, bar (12, 12) to (53, 120) excluded.
// usable = 108, cell = 4, N = 27: gap i covers rows 12 + 4i and 13 + 4i across the whole width, segment i
// rows 10 + 4i and 11 + 4i; the separator covers columns 32 and 33 over the full height.
QImage DefaultPicture(int firstLitSegment, QRgb separator = Black)
{
    Picture p(65, 150, Black);
    p.fill(12, 12, 53, 120, Green);
    for (int i = 0; i <= 27; ++i)
        p.fill(0, 12 + 4 * i, 65, 14 + 4 * i, Black);
    for (int i = firstLitSegment; i >= 0 && i <= 27; ++i)
        p.fill(12, 10 + 4 * i, 53, 12 + 4 * i, Lime);
    p.fill(32, 0, 34, 150, separator);
    p.ring(0, Grey, White);
    p.ring(1, Dark, Light);
    return p.image;
}

TEST(StxVumeterDefault, ConstructorValues)
{
    TStxVumeter vm;
    EXPECT_EQ(vm.size(), QSize(65, 150));
    EXPECT_EQ(vm.Style(), deSunken);
    EXPECT_EQ(vm.MaxValue(), 100);
    EXPECT_EQ(vm.Position(), 0);
    EXPECT_EQ(vm.TopSpace(), 12);
    EXPECT_EQ(vm.BottomSpace(), 30);
    EXPECT_EQ(vm.LeftSpace(), 12);
    EXPECT_EQ(vm.RightSpace(), 12);
    EXPECT_EQ(vm.BackColor(), QColor(0, 0, 0));
    EXPECT_EQ(vm.ActiveColor(), QColor(0, 255, 0));
    EXPECT_EQ(vm.InactiveColor(), QColor(0, 128, 0));
    EXPECT_FALSE(vm.SingleColumn());
    EXPECT_EQ(vm.ElementHeight(), 2);
    EXPECT_EQ(vm.BlancHeight(), 2);
    EXPECT_EQ(vm.SeparatorWidth(), 2);
}

TEST(StxVumeterDefault, RowsForEachPosition)
{
    struct Case
    {
        int position;
        int firstLit; // first lit segment; 28: none
    };
    const Case cases[] = {
        {0, 28},  // u = 27
        {50, 14}, // 5400 div 100 = 54, u = 13
        {100, 1}, // u = 0
        {101, 1}, // -108 div 100 = -1, u = 0
        {200, 0}, // -10800 div 100 = -108, u = -27: segment 0 in the top margin, rows 10 and 11
    };
    TStxVumeter vm;
    for (const Case& c : cases) {
        SCOPED_TRACE("Position " + std::to_string(c.position));
        vm.SetPosition(c.position);
        EXPECT_TRUE(SamePixels(vm.RenderImage(vm.size()), DefaultPicture(c.firstLit)));
    }
}

TEST(StxVumeterDefault, SeparatorColumns)
{
    TStxVumeter vm;
    vm.SetPosition(100);
    vm.SetBackColor(QColor(0, 0, 255));
    const QImage image = vm.RenderImage(vm.size());
    for (int y = 2; y < 148; ++y) {
        EXPECT_EQ(image.pixel(32, y), Blue) << "row " << y;
        EXPECT_EQ(image.pixel(33, y), Blue) << "row " << y;
    }
    // In a lit row the columns on either side are lit.
    EXPECT_EQ(image.pixel(31, 14), Lime);
    EXPECT_EQ(image.pixel(34, 14), Lime);

    vm.SetSingleColumn(true);
    const QImage single = vm.RenderImage(vm.size());
    for (int x = 12; x < 53; ++x)
        EXPECT_EQ(single.pixel(x, 14), Lime) << "column " << x;
}

// The separator runs from round((W - S) / 2) to round((W - S) / 2 + S), halves to the even neighbour.
TEST(StxVumeterDefault, SeparatorRoundsHalvesToEven)
{
    struct Case
    {
        int width, separator, from, to; // columns [from, to) are the separator
    };
    const Case cases[] = {
        {65, 2, 32, 34}, // 31.5 -> 32, 33.5 -> 34
        {64, 3, 30, 34}, // 30.5 -> 30, 33.5 -> 34: four columns
        {66, 3, 32, 34}, // 31.5 -> 32, 34.5 -> 34: two columns
        {67, 2, 32, 34}, // 32.5 -> 32, 34.5 -> 34
        {64, 2, 31, 33}, // 31, 33
        {65, 3, 31, 34}, // 31, 34
        {65, 1, 32, 33}, // 32, 33
    };
    TStxVumeter vm;
    vm.SetPosition(100);
    for (const Case& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width) + ", separator " + std::to_string(c.separator));
        vm.SetSeparatorWidth(c.separator);
        const QImage image = vm.RenderImage(QSize(c.width, 150));
        for (int x = 12; x < c.width - 12; ++x)
            EXPECT_EQ(image.pixel(x, 14), x >= c.from && x < c.to ? Black : Lime) << "column " << x;
    }
}

TEST(StxVumeterDefault, SeparatorWidthSetsSingleColumn)
{
    TStxVumeter vm;
    vm.SetSeparatorWidth(0);
    EXPECT_TRUE(vm.SingleColumn());
    vm.SetSeparatorWidth(3);
    EXPECT_FALSE(vm.SingleColumn());
    EXPECT_EQ(vm.SeparatorWidth(), 3);
    // SingleColumn itself leaves the width alone.
    vm.SetSingleColumn(true);
    EXPECT_EQ(vm.SeparatorWidth(), 3);
}

// Each frame style's rings on a 20 x 30 silver meter with wide margins. A ring's top row and left column
// take its top-left colour, except the top-right and bottom-left corners, which go with the bottom and
// right sides.
TEST(StxVumeterFrame, EdgePixelsOfEachStyle)
{
    struct Case
    {
        TNewDrawEdgeStyle style;
        const char* name;
        std::vector<std::pair<QRgb, QRgb>> rings; // outermost first
    };
    const Case cases[] = {
        {deRaised, "deRaised", {{Light, Dark}, {White, Grey}}},
        {deSunken, "deSunken", {{Grey, White}, {Dark, Light}}},
        {deSoftRaised, "deSoftRaised", {{White, Dark}, {Light, Grey}}},
        {deSoftSunken, "deSoftSunken", {{Dark, White}, {Grey, Light}}},
        {deThinRaised, "deThinRaised", {{White, Grey}}},
        {deThinSunken, "deThinSunken", {{Grey, White}}},
    };
    const int W = 20, H = 30;
    TStxVumeter vm;
    vm.SetBackColor(QColor(192, 192, 192));
    vm.SetSingleColumn(true);
    vm.SetTopSpace(5);
    vm.SetBottomSpace(5);
    vm.SetLeftSpace(5);
    vm.SetRightSpace(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vm.SetStyle(c.style);
        const QImage image = vm.RenderImage(QSize(W, H));
        for (int k = 0; k < static_cast<int>(c.rings.size()); ++k) {
            const auto [topLeft, bottomRight] = c.rings[k];
            SCOPED_TRACE("ring " + std::to_string(k));
            for (int x = k; x < W - k - 1; ++x)
                EXPECT_EQ(image.pixel(x, k), topLeft) << "top, column " << x;
            for (int y = k; y < H - k - 1; ++y)
                EXPECT_EQ(image.pixel(k, y), topLeft) << "left, row " << y;
            for (int x = k; x < W - k; ++x)
                EXPECT_EQ(image.pixel(x, H - 1 - k), bottomRight) << "bottom, column " << x;
            for (int y = k; y < H - k; ++y)
                EXPECT_EQ(image.pixel(W - 1 - k, y), bottomRight) << "right, row " << y;
        }
        // Inside the frame: the background of the margin.
        const int inside = static_cast<int>(c.rings.size());
        EXPECT_EQ(image.pixel(inside, H / 2), Silver);
        EXPECT_EQ(image.pixel(W / 2, inside), Silver);
        EXPECT_EQ(image.pixel(W - 1 - inside, H / 2), Silver);
        EXPECT_EQ(image.pixel(W / 2, H - 1 - inside), Silver);

        // Raised frames are lit from the top left, sunken ones from the bottom right.
        const bool raised = c.style == deRaised || c.style == deSoftRaised || c.style == deThinRaised;
        EXPECT_EQ(qGray(image.pixel(1 + inside, 0)) > qGray(image.pixel(1 + inside, H - 1)), raised);
    }
}

// The frame is drawn last, over whatever the bar put on the border: here the lit segment 0 in the top
// margin of the recording window's meter.
TEST(StxVumeterFrame, DrawnOverTheBar)
{
    TStxVumeter vm;
    SetUpRecordingMeter(vm);
    vm.SetTopSpace(0);
    vm.SetBottomSpace(0);
    vm.SetLeftSpace(0);
    vm.SetRightSpace(0);
    vm.SetPosition(100);
    const QImage image = vm.RenderImage(QSize(25, 113));
    EXPECT_EQ(image.pixel(5, 0), Grey);
    EXPECT_EQ(image.pixel(0, 5), Grey);
    EXPECT_EQ(image.pixel(24, 5), White);
    EXPECT_EQ(image.pixel(5, 112), White);
    EXPECT_EQ(image.pixel(5, 5), Lime);
}

// Without a maximum or without a cell height the meter cannot place its segments: it draws its background,
// bar, separator and frame and lights nothing, whatever the position.
TEST(StxVumeterDegenerate, MaxValueZeroDrawsAnEmptyMeter)
{
    TStxVumeter vm;
    vm.SetMaxValue(0);
    for (int position : {0, 50, 100, -5, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("Position " + std::to_string(position));
        vm.SetPosition(position);
        EXPECT_TRUE(SamePixels(vm.RenderImage(vm.size()), DefaultPicture(28)));
    }
}

TEST(StxVumeterDegenerate, ZeroCellHeightDrawsAnEmptyMeter)
{
    TStxVumeter vm;
    vm.SetElementHeight(0);
    vm.SetBlancHeight(0);
    Picture expected(65, 150, Black);
    expected.fill(12, 12, 53, 120, Green);
    expected.fill(32, 0, 34, 150, Black);
    expected.ring(0, Grey, White);
    expected.ring(1, Dark, Light);
    for (int position : {0, 50, 100, 200}) {
        SCOPED_TRACE("Position " + std::to_string(position));
        vm.SetPosition(position);
        EXPECT_TRUE(SamePixels(vm.RenderImage(vm.size()), expected.image));
    }

    // A cell of zero made of a segment and a negative gap.
    vm.SetElementHeight(3);
    vm.SetBlancHeight(-3);
    EXPECT_FALSE(Contains(vm.RenderImage(vm.size()), Lime));
}

TEST(StxVumeterDegenerate, ExtremeValuesDoNotFail)
{
    TStxVumeter vm;
    vm.SetPosition(INT_MAX);
    EXPECT_EQ(vm.RenderImage(vm.size()).size(), QSize(65, 150));
    vm.SetPosition(INT_MIN);
    EXPECT_EQ(vm.RenderImage(vm.size()).size(), QSize(65, 150));
    vm.SetPosition(50);

    // Spaces and heights far outside the control, positive and negative.
    for (int value : {INT_MAX, INT_MIN, -1000, 100000}) {
        SCOPED_TRACE(value);
        TStxVumeter odd;
        odd.SetPosition(60);
        odd.SetTopSpace(value);
        EXPECT_FALSE(odd.RenderImage(odd.size()).isNull());
        odd.SetBottomSpace(value);
        odd.SetLeftSpace(value);
        odd.SetRightSpace(value);
        EXPECT_FALSE(odd.RenderImage(odd.size()).isNull());
        odd.SetElementHeight(value);
        odd.SetBlancHeight(1);
        EXPECT_FALSE(odd.RenderImage(odd.size()).isNull());
        odd.SetBlancHeight(value);
        odd.SetSeparatorWidth(value);
        EXPECT_FALSE(odd.RenderImage(odd.size()).isNull());
    }

    // Negative heights with a negative bar: cell = -2, usable = -100, N = 50 segments climbing upwards.
    TStxVumeter upside;
    upside.SetTopSpace(200);
    upside.SetBottomSpace(50);
    upside.SetElementHeight(-3);
    upside.SetBlancHeight(1);
    upside.SetPosition(100);
    EXPECT_FALSE(upside.RenderImage(upside.size()).isNull());

    // Tiny and empty sizes.
    EXPECT_EQ(vm.RenderImage(QSize(1, 1)).size(), QSize(1, 1));
    EXPECT_EQ(vm.RenderImage(QSize(3, 2)).size(), QSize(3, 2));
    EXPECT_TRUE(vm.RenderImage(QSize(0, 0)).isNull());
    EXPECT_TRUE(vm.RenderImage(QSize(-4, 10)).isNull());
}

// The level is computed in 32-bit integers, as the meter always has been.
TEST(StxVumeterDegenerate, LevelArithmeticWrapsAt32Bits)
{
    // 100 - (INT_MIN + 100) = 2^31 wraps to -2^31; 108 * -2^31 = -54 * 2^32 wraps to 0, so u = 0 and the
    // whole bar is lit, as at the maximum.
    TStxVumeter vm;
    vm.SetPosition(INT_MIN + 100);
    EXPECT_TRUE(SamePixels(vm.RenderImage(vm.size()), DefaultPicture(1)));

    // usable = 43 - 12 - 30 = 1, 1 * (-1 - INT_MAX) = INT_MIN, and INT_MIN div -1 overflows back to INT_MIN:
    // u = INT_MIN div 4 is negative and segment 0 (rows 10 and 11) is lit.
    vm.SetMaxValue(-1);
    vm.SetPosition(INT_MAX);
    const QImage image = vm.RenderImage(QSize(65, 43));
    EXPECT_EQ(image.pixel(20, 10), Lime);
    EXPECT_EQ(image.pixel(20, 11), Lime);
    EXPECT_EQ(image.pixel(20, 12), Black); // gap 0
}

// Counts the paint events the meter receives.
class PaintCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

TEST(StxVumeterWidget, EveryWriteRepaintsAtOnce)
{
    TStxVumeter vm;
    vm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&vm));
    QCoreApplication::processEvents();
    PaintCounter counter;
    vm.installEventFilter(&counter);

    // Each write is painted before it returns, without the event loop running; a write of the value the
    // property already holds repaints too.
    const std::vector<std::pair<const char*, std::function<void()>>> writes = {
        {"Style", [&] { vm.SetStyle(deRaised); }},
        {"MaxValue", [&] { vm.SetMaxValue(200); }},
        {"Position", [&] { vm.SetPosition(70); }},
        {"Position again", [&] { vm.SetPosition(70); }},
        {"TopSpace", [&] { vm.SetTopSpace(4); }},
        {"BottomSpace", [&] { vm.SetBottomSpace(4); }},
        {"LeftSpace", [&] { vm.SetLeftSpace(4); }},
        {"RightSpace", [&] { vm.SetRightSpace(4); }},
        {"BackColor", [&] { vm.SetBackColor(Qt::blue); }},
        {"ActiveColor", [&] { vm.SetActiveColor(Qt::red); }},
        {"InactiveColor", [&] { vm.SetInactiveColor(Qt::yellow); }},
        {"SingleColumn", [&] { vm.SetSingleColumn(true); }},
        {"ElementHeight", [&] { vm.SetElementHeight(3); }},
        {"BlancHeight", [&] { vm.SetBlancHeight(1); }},
        {"SeparatorWidth", [&] { vm.SetSeparatorWidth(4); }},
    };
    for (const auto& [name, write] : writes) {
        const int before = counter.count;
        write();
        EXPECT_GT(counter.count, before) << name;
    }
    vm.removeEventFilter(&counter);
}

// What the widget shows is the rendered image of its size, in the recording window's settings as well.
TEST(StxVumeterWidget, ShowsTheRenderedImage)
{
    TStxVumeter vm;
    vm.SetPosition(50);
    EXPECT_TRUE(SamePixels(vm.grab().toImage().convertToFormat(QImage::Format_RGB32), DefaultPicture(14)));

    SetUpRecordingMeter(vm);
    vm.SetPosition(50);
    Picture expected(25, 113, Silver);
    expected.fill(3, 4, 21, 109, Green);
    expected.fill(3, 56, 21, 108, Lime);
    expected.ring(0, Grey, White);
    EXPECT_TRUE(SamePixels(vm.grab().toImage().convertToFormat(QImage::Format_RGB32), expected.image));
}

} // namespace
