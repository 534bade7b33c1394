// Draws the monitor's artwork, "zentrova.png" (the About picture and window
// icon) and "FlashImg.png" (the splash), so that every image we ship is our
// own and can be redrawn: zentrova_artwork <output folder>.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kDeep(0x14, 0x3d, 0x73);
const QColor kBright(0x2f, 0x80, 0xd1);
const QColor kPulse(0x5c, 0xe0, 0x8a);

// A drive platter seen from above with a heartbeat across it, inside `box`.
void DrawEmblem(QPainter& p, const QRectF& box) {
    const qreal side = qMin(box.width(), box.height());
    const QRectF square(box.center().x() - side / 2, box.center().y() - side / 2, side, side);

    QLinearGradient tile(square.topLeft(), square.bottomRight());
    tile.setColorAt(0, kBright);
    tile.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(square, side * 0.2, side * 0.2);

    const QRectF platter = square.adjusted(side * 0.14, side * 0.14, -side * 0.14, -side * 0.14);
    QRadialGradient disc(platter.center(), platter.width() / 2);
    disc.setColorAt(0, QColor(0xf4, 0xf7, 0xfb));
    disc.setColorAt(1, QColor(0xc4, 0xd0, 0xdf));
    p.setBrush(disc);
    p.drawEllipse(platter);
    p.setBrush(kDeep);
    const qreal hub = side * 0.07;
    p.drawEllipse(platter.center(), hub, hub);

    QPainterPath beat;
    const qreal y = platter.center().y();
    const qreal x0 = square.left() + side * 0.08;
    const qreal w = side * 0.84;
    beat.moveTo(x0, y);
    beat.lineTo(x0 + w * 0.30, y);
    beat.lineTo(x0 + w * 0.38, y - side * 0.22);
    beat.lineTo(x0 + w * 0.50, y + side * 0.20);
    beat.lineTo(x0 + w * 0.60, y - side * 0.10);
    beat.lineTo(x0 + w * 0.66, y);
    beat.lineTo(x0 + w, y);
    QPen pen(kPulse, side * 0.055, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(beat);
}

bool DrawIcon(const QString& path) {
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawEmblem(p, QRectF(8, 8, 240, 240));
    p.end();
    return image.save(path, "PNG");
}

bool DrawSplash(const QString& path) {
    QImage image(520, 300, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(0xfb, 0xfd, 0xff));
    sky.setColorAt(1, QColor(0xdc, 0xe8, 0xf6));
    p.fillRect(image.rect(), sky);
    p.fillRect(QRect(0, 272, 520, 28), kDeep);

    DrawEmblem(p, QRectF(36, 70, 132, 132));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(52);
    title.setBold(true);
    p.setFont(title);
    p.setPen(kDeep);
    p.drawText(QRectF(190, 78, 320, 64), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Zentrova"));
    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(19);
    p.setFont(line);
    p.setPen(QColor(0x3a, 0x4a, 0x5e));
    p.drawText(QRectF(192, 142, 320, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("S.M.A.R.T. drive monitor"));
    p.drawText(QRectF(192, 170, 320, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Starting up\u2026"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(13);
    p.setFont(small);
    p.setPen(Qt::white);
    p.drawText(QRectF(16, 272, 488, 28), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("V1.0.2"));
    p.end();
    return image.save(path, "PNG");
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentrova_artwork <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool icon = DrawIcon(folder + QStringLiteral("/zentrova.png"));
    const bool splash = DrawSplash(folder + QStringLiteral("/FlashImg.png"));
    if (!icon || !splash) {
        std::fprintf(stderr, "zentrova_artwork: could not write the images into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
