// The level meter: a vertical bar of segments lit from the bottom up in proportion to Position / MaxValue,
// inside a bevelled frame. Each frame is drawn whole into an off-screen image, then copied to the widget.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// The frame around the meter. Raised and sunken draw two rings, the soft variants lighten the outer ring
// of the top and left sides, the thin variants draw a single ring.
enum TNewDrawEdgeStyle
{
    deRaised,
    deSunken,
    deSoftRaised,
    deSoftSunken,
    deThinRaised,
    deThinSunken
};

class TStxVumeter : public QWidget
{
    Q_OBJECT
public:
    explicit TStxVumeter(QWidget* owner = nullptr);

    // Every write stores the value and repaints the meter at once (synchronously when it is visible).
    TNewDrawEdgeStyle Style() const { return m_style; }
    void SetStyle(TNewDrawEdgeStyle value);
    int MaxValue() const { return m_maxValue; } // value of a full bar; 0 shows an empty meter
    void SetMaxValue(int value);
    int Position() const { return m_position; }
    void SetPosition(int value);
    int TopSpace() const { return m_topSpace; } // pixels above the bar
    void SetTopSpace(int value);
    int BottomSpace() const { return m_bottomSpace; } // pixels below the bar
    void SetBottomSpace(int value);
    int LeftSpace() const { return m_leftSpace; } // pixels left of the bar
    void SetLeftSpace(int value);
    int RightSpace() const { return m_rightSpace; } // pixels right of the bar
    void SetRightSpace(int value);
    QColor BackColor() const { return m_backColor; } // background, gaps and column separator
    void SetBackColor(const QColor& value);
    QColor ActiveColor() const { return m_activeColor; } // lit segments
    void SetActiveColor(const QColor& value);
    QColor InactiveColor() const { return m_inactiveColor; } // the bar's unlit area
    void SetInactiveColor(const QColor& value);
    bool SingleColumn() const { return m_singleColumn; } // false: a separator splits the bar in two
    void SetSingleColumn(bool value);
    int ElementHeight() const { return m_elementHeight; } // height of a segment
    void SetElementHeight(int value);
    int BlancHeight() const { return m_blancHeight; } // height of the gap above each segment
    void SetBlancHeight(int value);
    int SeparatorWidth() const { return m_separatorWidth; } // also sets SingleColumn (true for 0)
    void SetSeparatorWidth(int value);

    // The meter as it would be painted on a widget of the given size, with the current properties.
    QImage RenderImage(const QSize& size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TNewDrawEdgeStyle m_style = deSunken;
    int m_maxValue = 100;
    int m_position = 0;
    int m_topSpace = 12;
    int m_bottomSpace = 30;
    int m_leftSpace = 12;
    int m_rightSpace = 12;
    QColor m_backColor = QColor(0, 0, 0);
    QColor m_activeColor = QColor(0, 255, 0);
    QColor m_inactiveColor = QColor(0, 128, 0);
    bool m_singleColumn = false;
    int m_elementHeight = 2;
    int m_blancHeight = 2;
    int m_separatorWidth = 2;
};
