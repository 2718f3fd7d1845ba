// Draws the window's pictures into the folder given on the command line (res/images).
// Run through the build target `pelloran-art`; the results are kept in the repository.

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtCore/QDir>
#include <cmath>
#include <cstdio>

namespace {

const QColor kBandTop(0x1d, 0x4a, 0x68);
const QColor kBandBottom(0x2b, 0x6f, 0x93);
const QColor kAccent(0xf2, 0x9b, 0x38);

QFont Font(int pixels, bool bold) {
    QFont f;
    f.setFamilies({"DejaVu Sans", "Sans Serif"});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A smooth wave drawn as a polyline across rect.
void Wave(QPainter& p, const QRectF& rect, double cycles, double phase, const QPen& pen) {
    QPainterPath path;
    const int steps = 160;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double envelope = std::sin(t * M_PI);
        const double y = rect.center().y() + std::sin(t * cycles * 2 * M_PI + phase) * envelope * rect.height() / 2;
        const QPointF pt(rect.left() + t * rect.width(), y);
        if (i == 0) path.moveTo(pt);
        else path.lineTo(pt);
    }
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// The program's mark: a rounded square with a wave turning into an arrow.
void DrawMark(QPainter& p, const QRectF& r) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x35, 0x9c, 0xc4));
    g.setColorAt(1, QColor(0x17, 0x45, 0x66));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, r.width() * 0.22, r.width() * 0.22);
    const double w = r.width();
    Wave(p, QRectF(r.left() + w * 0.12, r.top() + w * 0.28, w * 0.5, w * 0.44), 2.0, 0,
         QPen(Qt::white, std::max(1.5, w * 0.06), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath arrow;
    arrow.moveTo(r.left() + w * 0.60, r.top() + w * 0.34);
    arrow.lineTo(r.left() + w * 0.86, r.top() + w * 0.50);
    arrow.lineTo(r.left() + w * 0.60, r.top() + w * 0.66);
    arrow.closeSubpath();
    p.setBrush(kAccent);
    p.drawPath(arrow);
}

void Background(const QString& dir) {
    QImage img(699, 538, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, 538);
    body.setColorAt(0, QColor(0xe9, 0xef, 0xf5));
    body.setColorAt(1, QColor(0xcf, 0xdb, 0xe7));
    p.fillRect(img.rect(), body);

    // Title band with the mark and the name.
    QLinearGradient band(0, 0, 0, 54);
    band.setColorAt(0, kBandTop);
    band.setColorAt(1, kBandBottom);
    p.fillRect(QRect(0, 0, 699, 54), band);
    p.fillRect(QRect(0, 54, 699, 2), kAccent);
    for (int i = 0; i < 4; ++i) {
        Wave(p, QRectF(250 + i * 18, 6, 330, 42), 5 + i, i * 0.9,
             QPen(QColor(255, 255, 255, 26 + i * 8), 1.4));
    }
    DrawMark(p, QRectF(12, 9, 36, 36));
    p.setPen(Qt::white);
    p.setFont(Font(24, true));
    p.drawText(QPointF(58, 35), "Pelloran");
    p.setFont(Font(11, false));
    p.setPen(QColor(0xd4, 0xe6, 0xf2));
    p.drawText(QPointF(60, 49), "Audio Converter");
    // Plate behind the help, minimize and close buttons.
    p.setPen(QColor(255, 255, 255, 40));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(QRectF(619.5, 7.5, 74, 28), 5, 5);

    // Command panel.
    QLinearGradient panel(0, 62, 0, 530);
    panel.setColorAt(0, QColor(0xfb, 0xfd, 0xff));
    panel.setColorAt(1, QColor(0xe3, 0xec, 0xf4));
    p.setPen(QColor(0xa7, 0xb9, 0xca));
    p.setBrush(panel);
    p.drawRoundedRect(QRectF(4.5, 62.5, 124, 467), 6, 6);
    p.setPen(QColor(0xc5, 0xd3, 0xe0));
    p.drawLine(QPointF(14, 317.5), QPointF(118, 317.5));
    p.drawLine(QPointF(14, 497.5), QPointF(118, 497.5));
    // A quiet wave picture in the free part of the panel.
    for (int i = 0; i < 3; ++i) {
        Wave(p, QRectF(14, 340 + i * 44, 104, 40), 3 + i, i * 1.3,
             QPen(QColor(0x2b, 0x6f, 0x93, 70 + i * 30), 1.6));
    }
    p.setPen(QColor(0x5a, 0x6f, 0x82));
    p.setFont(Font(10, false));
    p.drawText(QRectF(8, 474, 116, 14), Qt::AlignHCenter, "Drop files here");

    // Frame of the file list.
    p.setPen(QColor(0x8d, 0xa3, 0xb8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(135.5, 61.5, 555, 467));
    p.end();
    img.save(dir + "/background.png");
}

void ButtonSkin(const QString& dir, bool hover) {
    QImage img(107, 27, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 27);
    if (hover) {
        g.setColorAt(0, QColor(0xff, 0xf4, 0xe2));
        g.setColorAt(1, QColor(0xf7, 0xc9, 0x86));
        p.setPen(QColor(0xd0, 0x86, 0x2c));
    } else {
        g.setColorAt(0, QColor(0xff, 0xff, 0xff));
        g.setColorAt(1, QColor(0xd6, 0xe2, 0xee));
        p.setPen(QColor(0x8d, 0xa3, 0xb8));
    }
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 106, 26), 5, 5);
    p.setPen(QColor(255, 255, 255, 180));
    p.drawLine(QPointF(5, 1.5), QPointF(102, 1.5));
    p.end();
    img.save(dir + (hover ? "/button-hover.png" : "/button.png"));
}

// 16 x 16 glyphs for the caption buttons, light on the dark band.
void CaptionIcon(const QString& dir, const QString& name) {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen pen(QColor(0xf4, 0xf8, 0xfb), 2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    if (name == "close") {
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else if (name == "minimize") {
        p.drawLine(QPointF(4, 11.5), QPointF(12, 11.5));
    } else {
        p.setFont(Font(13, true));
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, "?");
    }
    p.end();
    img.save(dir + "/" + name + ".png");
}

// Menu images, 16 x 15 each, on the grey that the menu turns transparent.
void Toolbar(const QString& dir) {
    const char* glyphs[] = {"play", "play-out", "convert", "convert-all", "folder", "folder-out", "add-file",
                            "add-folder", "remove", "remove-all", "help", "friend", "mail", "home", "update",
                            "about"};
    const int count = int(std::size(glyphs));
    QImage img(16 * count, 15, QImage::Format_RGB32);
    img.fill(QColor(192, 192, 192));
    QPainter p(&img);
    const QColor blue(0x1f, 0x5f, 0x8b), green(0x2e, 0x8b, 0x3e), red(0xc0, 0x39, 0x2b), folder(0xe8, 0xb3, 0x3c);
    for (int i = 0; i < count; ++i) {
        p.save();
        p.translate(16 * i, 0);
        const QString g = glyphs[i];
        p.setPen(Qt::NoPen);
        if (g.startsWith("play")) {
            p.setBrush(g == "play" ? green : blue);
            p.drawPolygon(QPolygon({QPoint(4, 2), QPoint(12, 7), QPoint(4, 12)}));
        } else if (g.startsWith("convert")) {
            p.setBrush(blue);
            p.drawRect(2, 5, 7, 4);
            p.setBrush(kAccent.darker(110));
            p.drawPolygon(QPolygon({QPoint(8, 2), QPoint(14, 7), QPoint(8, 12)}));
            if (g == "convert-all") {
                p.setBrush(blue);
                p.drawRect(2, 11, 5, 2);
                p.drawRect(2, 1, 5, 2);
            }
        } else if (g.startsWith("folder") || g == "add-folder") {
            p.setBrush(folder.darker(115));
            p.drawRect(1, 3, 6, 2);
            p.setBrush(folder);
            p.drawRect(1, 5, 13, 8);
        } else if (g == "add-file") {
            p.setBrush(Qt::white);
            p.setPen(QColor(0x55, 0x55, 0x55));
            p.drawRect(2, 1, 9, 12);
            p.setPen(Qt::NoPen);
        } else if (g.startsWith("remove")) {
            p.setPen(QPen(red, 2));
            p.drawLine(3, 3, 11, 11);
            p.drawLine(11, 3, 3, 11);
            if (g == "remove-all") {
                p.drawLine(13, 3, 13, 11);
            }
        } else if (g == "help" || g == "about") {
            p.setBrush(blue);
            p.drawEllipse(1, 0, 14, 14);
            p.setPen(Qt::white);
            p.setFont(Font(11, true));
            p.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, g == "help" ? "?" : "i");
        } else if (g == "friend" || g == "mail") {
            p.setBrush(Qt::white);
            p.setPen(QColor(0x55, 0x55, 0x55));
            p.drawRect(1, 3, 13, 9);
            p.drawLine(1, 3, 7, 8);
            p.drawLine(14, 3, 8, 8);
            if (g == "friend") {
                p.setPen(Qt::NoPen);
                p.setBrush(red);
                p.drawEllipse(10, 0, 5, 5);
            }
        } else if (g == "home") {
            p.setBrush(blue);
            p.drawEllipse(1, 0, 14, 14);
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(5, 0, 6, 14);
            p.drawLine(1, 7, 15, 7);
        } else if (g == "update") {
            p.setPen(QPen(green, 2));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRect(2, 1, 12, 12), 30 * 16, 270 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            p.drawPolygon(QPolygon({QPoint(10, 0), QPoint(15, 3), QPoint(10, 6)}));
        }
        // The outgoing marks and the plus signs.
        if (g.endsWith("-out")) {
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent.darker(120));
            p.drawPolygon(QPolygon({QPoint(10, 8), QPoint(15, 11), QPoint(10, 14)}));
        }
        if (g.startsWith("add-")) {
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            p.drawRect(10, 9, 6, 2);
            p.drawRect(12, 7, 2, 6);
        }
        p.restore();
    }
    p.end();
    img.save(dir + "/toolbar.png");
}

void AppIcon(const QString& dir, int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const double m = size * 0.06;
    DrawMark(p, QRectF(m, m, size - 2 * m, size - 2 * m));
    p.end();
    img.save(dir + QString("/pelloran-%1.png").arg(size));
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    Background(dir);
    ButtonSkin(dir, false);
    ButtonSkin(dir, true);
    for (const char* name : {"help", "minimize", "close"}) CaptionIcon(dir, name);
    Toolbar(dir);
    for (int size : {32, 48, 256}) AppIcon(dir, size);
    return 0;
}
