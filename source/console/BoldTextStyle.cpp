#include "BoldTextStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGraphicsEffect>
#include <QHash>
#include <QLineEdit>
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

bool synthesisesBold(const QFont &font)
{
    return font.weight() >= QFont::Bold && !hasOwnBoldFace(QFontInfo(font).family());
}

// A line edit draws its text past the style. This effect overstrikes what it drew inside its
// frame, one copy moved sideways and laid over with "darken", so that dark text on a light box
// grows by the missing width and the frame and the box's colour stay as they were.
class LineEditOverstrike : public QGraphicsEffect
{
public:
    explicit LineEditOverstrike(QLineEdit *edit) : QGraphicsEffect(edit), m_edit(edit) {}

protected:
    void draw(QPainter *painter) override
    {
        const qreal scale = deviceScaleOf(painter);
        const qreal extra = BoldTextStyle::missingBoldWidth(m_edit->font(), scale);
        if (extra <= 0) {
            drawSource(painter);
            return;
        }
        const int frame = m_edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, m_edit);
        const QRectF inside = painter->deviceTransform().mapRect(QRectF(m_edit->rect().adjusted(frame, frame, -frame, -frame)));
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::DeviceCoordinates, &offset, QGraphicsEffect::NoPad);
        painter->save();
        painter->setWorldTransform(QTransform());
        painter->drawPixmap(offset, picture);
        painter->setClipRect(inside, Qt::IntersectClip);
        painter->setCompositionMode(QPainter::CompositionMode_Darken);
        // The missing width is a fraction of a device pixel at these sizes (a third at 1.5, two
        // thirds at 2, for 16-pixel text), and a picture moves by whole pixels: rounded up to one,
        // the text came out a fifth heavier than at scale 1. So each copy goes one pixel further
        // and the last is laid over in part, which darkens each stroke's edge by as much ink as
        // moving it by the fraction would.
        const qreal width = extra * scale;
        for (int step = 1; step < width + 1; ++step) {
            painter->setOpacity(qMin(1.0, width - (step - 1)));
            painter->drawPixmap(offset + QPoint(step, 0), picture);
        }
        painter->restore();
    }

private:
    QLineEdit *m_edit;
};

} // namespace

void BoldTextStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    if (auto edit = qobject_cast<QLineEdit *>(widget); edit && !edit->graphicsEffect() && synthesisesBold(edit->font()))
        edit->setGraphicsEffect(new LineEditOverstrike(edit));
}

qreal BoldTextStyle::missingBoldWidth(const QFont &font, qreal deviceScale)
{
    if (deviceScale <= 1.01 || qEnvironmentVariableIsSet("QT_NO_SYNTHESIZED_BOLD") || !synthesisesBold(font))
        return 0;
    const QFontInfo info(font);
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
