#include "widgets/Look.h"

#include <QPalette>
#include <QWidget>

namespace {

QFont fontOf(const QStringList& families, int pixels, bool bold)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

QFont SansFont(int pixels, bool bold)
{
    return fontOf({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")},
                  pixels, bold);
}

QFont ArialFont(int pixels, bool bold)
{
    return fontOf({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
                  pixels, bold);
}

void SetTextColour(QWidget* widget, const QColor& text, bool editText)
{
    QPalette p = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::ButtonText, text);
        if (editText)
            p.setColor(group, QPalette::Text, text);
    }
    widget->setPalette(p);
}
