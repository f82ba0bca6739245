#include "BoldTextStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QPainter>
#include <QtMath>

namespace {

// FreeType's synthetic bold widens every stroke by one 24th of the em.
constexpr qreal kEmboldenPerEm = 1.0 / 24.0;

bool hasOwnBoldFace(const QString &family)
{
    static QHash<QString, bool> known;
    const auto found = known.constFind(family);
    if (found != known.constEnd())
        return *found;
    bool bold = false;
    for (const QString &style : QFontDatabase::styles(family))
        bold = bold || QFontDatabase::weight(family, style) >= QFont::Bold;
    known.insert(family, bold);
    return bold;
}

qreal deviceScaleOf(const QPainter *painter)
{
    // The device transform carries the screen's scale factor (and any scaling of the painter).
    return qSqrt(qAbs(painter->deviceTransform().determinant()));
}

} // namespace

qreal BoldTextStyle::missingBoldWidth(const QFont &font, qreal deviceScale)
{
    if (font.weight() < QFont::Bold || deviceScale <= 1.01 || qEnvironmentVariableIsSet("QT_NO_SYNTHESIZED_BOLD"))
        return 0;
    const QFontInfo info(font);
    if (hasOwnBoldFace(info.family()))
        return 0;
    // Qt gave the outline (pixel size / 24) device pixels; the size on the device calls for
    // deviceScale times that. The rest, in logical pixels:
    return (deviceScale - 1.0) / deviceScale * info.pixelSize() * kEmboldenPerEm;
}

void BoldTextStyle::drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette,
                                 bool enabled, const QString &text, QPalette::ColorRole textRole) const
{
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
    const qreal extra = missingBoldWidth(painter->font(), deviceScaleOf(painter));
    if (extra <= 0 || text.isEmpty())
        return;
    // Overstruck sideways, as bold is synthesised on the platform the window comes from.
    painter->save();
    painter->translate(extra, 0);
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
    painter->restore();
}

void installBoldTextStyle()
{
    // QProxyStyle takes ownership of the base style, and the application of the proxy.
    QApplication::setStyle(new BoldTextStyle(QApplication::style()->name()));
}
