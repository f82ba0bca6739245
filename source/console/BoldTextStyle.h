#pragma once

#include <QProxyStyle>

// IPA Gothic and IPA P Gothic, which stand in for the window's Japanese faces, have no bold face:
// FreeType thickens their strokes instead. Qt reckons that thickening from the font's size in
// logical pixels but applies it to the glyph outline after the screen's scale factor, so at a
// scale of 1.5 or 2 the added weight shrinks to 2/3 or 1/2 and the text reads as regular. This
// style draws such texts once more, overstruck by the missing width, for every text the widgets
// draw through the style (labels, buttons, check boxes, option buttons, frame titles) and, through
// a graphics effect, for line edits. At scale 1 nothing changes; fonts with a real bold face are
// never touched.
class BoldTextStyle : public QProxyStyle
{
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette, bool enabled,
                      const QString &text, QPalette::ColorRole textRole = QPalette::NoRole) const override;
    using QProxyStyle::polish;
    void polish(QWidget *widget) override;

    // The overstrike, in logical pixels, that text in `font` needs on a device that scales by
    // `deviceScale`; 0 where nothing is missing.
    static qreal missingBoldWidth(const QFont &font, qreal deviceScale);
};

// Wraps the application's current style in BoldTextStyle. Call it once the application object
// exists and before the first window is shown.
void installBoldTextStyle();
