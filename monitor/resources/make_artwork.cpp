// Draws the monitor's artwork, "zentrova.png" (the About picture and window
// icon) and "FlashImg.png" (the splash), so that every image we ship is our
// own and can be redrawn: zentrova_artwork <output folder>.
#include <QDir>
#include <QFile>
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

// The emblem fills all but a 1/32 margin of the icon, at any size.
bool DrawIcon(const QString& path, int side = 256) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = side / 32.0;
    DrawEmblem(p, QRectF(margin, margin, side - 2 * margin, side - 2 * margin));
    p.end();
    return image.save(path, "PNG");
}

// The sizes the desktop's icon theme asks for, each drawn at its own size
// rather than scaled down from the largest.
const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128}; // 256: zentrova.png itself

// The same emblem as a scalable icon, by the proportions DrawEmblem uses on
// the 256-pixel icon (240 wide at 8, 8).
bool WriteScalableIcon(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qreal s = 240, x = 8, c = x + s / 2; // square: y is x
    const qreal x0 = x + s * 0.08, w = s * 0.84;
    const QString beat =
        QStringLiteral("M%1 %2 L%3 %2 L%4 %5 L%6 %7 L%8 %9 L%10 %2 L%11 %2")
            .arg(x0).arg(c).arg(x0 + w * 0.30).arg(x0 + w * 0.38).arg(c - s * 0.22)
            .arg(x0 + w * 0.50).arg(c + s * 0.20).arg(x0 + w * 0.60).arg(c - s * 0.10)
            .arg(x0 + w * 0.66).arg(x0 + w);
    const QString svg =
        QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
            "viewBox=\"0 0 256 256\">\n"
            "<defs>\n"
            "<linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">"
            "<stop offset=\"0\" stop-color=\"%1\"/><stop offset=\"1\" stop-color=\"%2\"/>"
            "</linearGradient>\n"
            "<radialGradient id=\"disc\"><stop offset=\"0\" stop-color=\"#f4f7fb\"/>"
            "<stop offset=\"1\" stop-color=\"#c4d0df\"/></radialGradient>\n"
            "</defs>\n"
            "<rect x=\"%3\" y=\"%3\" width=\"%4\" height=\"%4\" rx=\"%5\" fill=\"url(#tile)\"/>\n"
            "<circle cx=\"%6\" cy=\"%6\" r=\"%7\" fill=\"url(#disc)\"/>\n"
            "<circle cx=\"%6\" cy=\"%6\" r=\"%8\" fill=\"%2\"/>\n"
            "<path d=\"%9\" fill=\"none\" stroke=\"%10\" stroke-width=\"%11\" "
            "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
            "</svg>\n")
            .arg(kBright.name(), kDeep.name())
            .arg(x)
            .arg(s)
            .arg(s * 0.2)
            .arg(c)
            .arg(s * 0.36)
            .arg(s * 0.07)
            .arg(beat, kPulse.name())
            .arg(s * 0.055);
    return file.write(svg.toUtf8()) == svg.toUtf8().size() && file.flush();
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
               QStringLiteral("V" ZENTROVA_VERSION));
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
    bool drawn = DrawIcon(folder + QStringLiteral("/zentrova.png")) &&
                 DrawSplash(folder + QStringLiteral("/FlashImg.png"));
    // The icon theme's copies, installed into hicolor (share/desktop).
    const QString theme = folder + QStringLiteral("/hicolor");
    drawn = drawn && QDir().mkpath(theme) &&
            WriteScalableIcon(theme + QStringLiteral("/zentrova.svg"));
    for (const int side : kIconSizes)
        drawn = drawn && DrawIcon(theme + QStringLiteral("/zentrova-%1.png").arg(side), side);
    if (!drawn) {
        std::fprintf(stderr, "zentrova_artwork: could not write the images into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
