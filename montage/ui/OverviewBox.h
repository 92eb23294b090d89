// The montage overview: the rendered montage drawn whole, one sample per column, in black on cream.
#pragma once

#include "montage/Montage.h"

#include <QPixmap>
#include <QWidget>

class QPainter;

// Draws the finished montage into a box of that size; nothing when there is no finished render.
void DrawOverview(QPainter& painter, const TMontage& montage, int width, int height);

class TOverviewBox : public QWidget
{
public:
    TOverviewBox(const TMontage& montage, QWidget* parent);
    // Redraws the overview of a finished render (PB2Paint).
    void PB2Paint();
    // Fills the box with one colour and forgets the last overview (New, last clip deleted).
    void Blank(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TMontage& m_montage;
    QColor m_background = Qt::white;
    // The last overview drawn: it stays on screen while a new render runs, as a painted box would.
    QPixmap m_last;
};
