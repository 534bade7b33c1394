// Pictures of the X screen, other programs' windows included (the tray, a
// notification):
//   grab_screen <file.png> [x y width height]   saves the screen or a part
//   grab_screen --count RRGGBB x y width height  prints how many pixels of
//                                                 that part have the colour
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const bool count = argc == 7 && std::strcmp(argv[1], "--count") == 0;
    const int first = count ? 3 : 2; // where the part's numbers begin
    if (!count && argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: grab_screen <file.png> [x y width height]\n"
                             "       grab_screen --count RRGGBB x y width height\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "grab_screen: no screen\n");
        return 1;
    }
    const QPixmap shot =
        argc > 2 ? screen->grabWindow(0, std::atoi(argv[first]), std::atoi(argv[first + 1]),
                                      std::atoi(argv[first + 2]), std::atoi(argv[first + 3]))
                 : screen->grabWindow(0);
    if (count) {
        const QColor wanted(QStringLiteral("#") + QString::fromLatin1(argv[2]));
        const QImage image = shot.toImage();
        long n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y).rgb() == wanted.rgb();
        std::printf("%ld\n", n);
        return 0;
    }
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "grab_screen: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
