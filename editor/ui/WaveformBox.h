// The waveform box: draws what the editor computes, and reports the mouse to the window that owns it.
#pragma once

#include "editor/Editor.h"

#include <QWidget>

class QPainter;

// Paints the picture into a box of that size: blue outside the selection, green inside, white trace.
void DrawWaveform(QPainter& painter, const TWaveformPicture& picture, int width, int height);

class TWaveformBox : public QWidget
{
    Q_OBJECT
public:
    TWaveformBox(const TEditor& editor, QWidget* parent);

signals:
    void mousePressed(Qt::MouseButton button, int x);
    void mouseMoved(int x);
    void mouseReleased(Qt::MouseButton button, int x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const TEditor& m_editor;
};
