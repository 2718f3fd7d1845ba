// Draws the window's pictures into the folder given on the command line (res/images), at 1x and 2x, and the
// scalable icon. The window's background is drawn by the window itself (gui/controls/Backdrop.cpp).
// Run through the build target `pelloran-art`; the results are kept in the repository.

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <cmath>
#include <cstdio>

#include "gui/controls/Backdrop.h"

namespace {

const QColor kAccent(0xf2, 0x9b, 0x38);

QFont Font(int pixels, bool bold) {
    QFont f;
    f.setFamilies({"DejaVu Sans", "Sans Serif"});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Each picture is drawn at 1x (name.png) and 2x (name@2x.png) from the same drawing.
QString Name(const QString& dir, const QString& name, int scale) {
    return dir + "/" + name + (scale == 2 ? "@2x.png" : ".png");
}

void ButtonSkin(const QString& dir, bool hover, int scale) {
    QImage img(107 * scale, 27 * scale, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(scale, scale);
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
    img.save(Name(dir, hover ? "button-hover" : "button", scale));
}

// 16 x 16 glyphs for the caption buttons, light on the dark band.
void CaptionIcon(const QString& dir, const QString& name, int scale) {
    QImage img(16 * scale, 16 * scale, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen pen(QColor(0xf4, 0xf8, 0xfb), 2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    if (name == "close") {
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else if (name == "minimize") {
        p.drawLine(QPointF(4, 11.5), QPointF(12, 11.5));
    } else if (name == "maximize") {
        p.setPen(QPen(QColor(0xf4, 0xf8, 0xfb), 1.6));
        p.drawRect(QRectF(4, 4.5, 8, 7));
        p.drawLine(QPointF(4, 5.5), QPointF(12, 5.5));
    } else {
        p.setFont(Font(13, true));
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, "?");
    }
    p.end();
    img.save(Name(dir, name, scale));
}

// Menu images, 16 x 15 each, on the grey that the menu turns transparent.
void Toolbar(const QString& dir, int scale) {
    const char* glyphs[] = {"play", "play-out", "convert", "convert-all", "folder", "folder-out", "add-file",
                            "add-folder", "remove", "remove-all", "help", "friend", "mail", "home", "update",
                            "about"};
    const int count = int(std::size(glyphs));
    QImage img(16 * count * scale, 15 * scale, QImage::Format_RGB32);
    img.fill(QColor(192, 192, 192));
    QPainter p(&img);
    p.scale(scale, scale);
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
    img.save(Name(dir, "toolbar", scale));
}

void AppIcon(const QString& dir, int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const double m = size * 0.06;
    pelloran::PaintMark(p, QRectF(m, m, size - 2 * m, size - 2 * m));
    p.end();
    img.save(dir + QString("/pelloran-%1.png").arg(size));
}

// The mark as SVG, for the scalable icon: the same shapes as PaintMark on a 256-unit square.
void MarkSvg(const QString& dir) {
    const double size = 256, m = size * 0.06, w = size - 2 * m;
    QString wave;
    const double left = m + w * 0.12, top = m + w * 0.28, ww = w * 0.5, wh = w * 0.44;
    for (int i = 0; i <= 64; ++i) {
        const double t = i / 64.0;
        const double y = top + wh / 2 + std::sin(t * 2.0 * 2 * M_PI) * std::sin(t * M_PI) * wh / 2;
        wave += QString("%1%2,%3 ").arg(i == 0 ? "M" : "L").arg(left + t * ww, 0, 'f', 2).arg(y, 0, 'f', 2);
    }
    const auto pt = [&](double x, double y) {
        return QString("%1,%2").arg(m + w * x, 0, 'f', 2).arg(m + w * y, 0, 'f', 2);
    };
    QFile file(dir + "/pelloran.svg");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    QTextStream out(&file);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
        << "  <defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">"
        << "<stop offset=\"0\" stop-color=\"#359cc4\"/><stop offset=\"1\" stop-color=\"#174566\"/>"
        << "</linearGradient></defs>\n"
        << QString("  <rect x=\"%1\" y=\"%1\" width=\"%2\" height=\"%2\" rx=\"%3\" fill=\"url(#g)\"/>\n")
               .arg(m, 0, 'f', 2).arg(w, 0, 'f', 2).arg(w * 0.22, 0, 'f', 2)
        << QString("  <path d=\"%1\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"%2\" "
                   "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n")
               .arg(wave.trimmed()).arg(w * 0.06, 0, 'f', 2)
        << QString("  <path d=\"M%1 L%2 L%3 Z\" fill=\"#f29b38\" stroke=\"#ffffff\" stroke-width=\"%4\" "
                   "stroke-linejoin=\"round\"/>\n")
               .arg(pt(0.60, 0.34), pt(0.86, 0.50), pt(0.60, 0.66))
               .arg(w * 0.06, 0, 'f', 2)
        << "</svg>\n";
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
    for (int scale : {1, 2}) {
        ButtonSkin(dir, false, scale);
        ButtonSkin(dir, true, scale);
        for (const char* name : {"help", "minimize", "maximize", "close"}) CaptionIcon(dir, name, scale);
        Toolbar(dir, scale);
    }
    for (int size : {32, 48, 256}) AppIcon(dir, size);
    MarkSvg(dir);
    return 0;
}
