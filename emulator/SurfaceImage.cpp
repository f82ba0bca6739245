#include "SurfaceImage.h"

#include <QFile>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

namespace {
constexpr int kPrintAreaLeft = 24; // 3 mm
constexpr int kPrintAreaTop = 8;   // 1 mm
} // namespace

QImage renderSurface(const QList<SurfaceLine> &lines)
{
    QImage image(DeviceModel::kCardWidth, DeviceModel::kCardHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A card with rounded corners (3.18 mm radius) and the milky white of a rewritable film.
    QPainterPath card;
    card.addRoundedRect(QRectF(0.5, 0.5, image.width() - 1, image.height() - 1), 25, 25);
    painter.fillPath(card, QColor(0xF4, 0xF4, 0xEE));
    painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    painter.drawPath(card);
    painter.setClipPath(card);

    // The leuco dye prints dark blue-black. Positions count from the print area's corner, which
    // keeps clear of the card's rounded edge.
    painter.setPen(QColor(0x1E, 0x22, 0x3A));
    painter.translate(kPrintAreaLeft, kPrintAreaTop);
    for (const SurfaceLine &line : lines) {
        QFont font(QStringLiteral("IPAGothic"));
        font.setStyleHint(QFont::TypeWriter);
        font.setPixelSize(qMax(6, line.height * 5 / 6));
        painter.setFont(font);
        const QRect box(line.x, line.y, image.width() - kPrintAreaLeft - line.x, line.height);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line.text);
    }
    painter.end();
    return image;
}

bool writeSurfacePng(const QList<SurfaceLine> &lines, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !renderSurface(lines).save(&file, "PNG") || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
