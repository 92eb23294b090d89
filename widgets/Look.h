// The fonts and text colours the program's windows are drawn with.
#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// "MS Sans Serif" where it exists, else a sans-serif face of similar metrics, at a pixel height.
QFont SansFont(int pixels, bool bold = false);
// "Arial" where it exists, else a face of the same metrics.
QFont ArialFont(int pixels, bool bold = false);
// The text colour of a control while active or inactive; disabled controls keep the system's greyed
// text. With editText, also the text typed or listed in it (edit fields, drop-down lists).
void SetTextColour(QWidget* widget, const QColor& text, bool editText = false);
