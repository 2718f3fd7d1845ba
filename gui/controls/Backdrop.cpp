#include "gui/controls/Backdrop.h"

#include <QtCore/QFile>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QPixmap>
#include <QtGui/QPolygonF>

#include <algorithm>
#include <cmath>

namespace pelloran {

namespace {

const QColor kBandTop(0x1d, 0x4a, 0x68);
const QColor kBandBottom(0x2b, 0x6f, 0x93);
const QColor kAccent(0xf2, 0x9b, 0x38);

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

}  // namespace

void PaintMark(QPainter& p, const QRectF& r) {
    p.save();
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
    p.setBrush(kAccent);  // outlined with the wave's pen
    p.drawPath(arrow);
    p.restore();
}

QIcon ArtIcon(const QString& path) {
    QIcon icon(path);
    QString twin = path;
    if (twin.endsWith(QLatin1String(".png"))) twin.insert(twin.size() - 4, QLatin1String("@2x"));
    if (twin != path && QFile::exists(twin)) icon.addFile(twin);
    return icon;
}

QIcon RestoreIcon() {
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap picture(16 * scale, 16 * scale);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.scale(scale, scale);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0xf4, 0xf8, 0xfb), 1.6));
        p.drawRect(QRectF(3.5, 6.5, 7, 6));
        p.drawLine(QPointF(3.5, 7.5), QPointF(10.5, 7.5));
        p.drawPolyline(QPolygonF({QPointF(6, 6.5), QPointF(6, 3.5), QPointF(13, 3.5), QPointF(13, 9.5),
                                  QPointF(10.5, 9.5)}));
        p.end();
        icon.addPixmap(picture);
    }
    return icon;
}

void PaintBackdrop(QPainter& p, QSize size, const QPalette& pal, int panelWidth) {
    const int w = size.width();
    const int h = size.height();
    const double pw = panelWidth;
    const QColor window = pal.color(QPalette::Window);
    const QColor text = pal.color(QPalette::WindowText);
    // Towards the text colour by f: darker on a light palette, lighter on a dark one.
    const auto toward = [&](const QColor& c, double f) {
        return QColor::fromRgbF(c.redF() + (text.redF() - c.redF()) * f, c.greenF() + (text.greenF() - c.greenF()) * f,
                                c.blueF() + (text.blueF() - c.blueF()) * f);
    };
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, h);
    body.setColorAt(0, window);
    body.setColorAt(1, toward(window, 0.06));
    p.fillRect(QRect(0, 0, w, h), body);

    // Title band with the mark and the name; it stretches with the window.
    QLinearGradient band(0, 0, 0, 54);
    band.setColorAt(0, kBandTop);
    band.setColorAt(1, kBandBottom);
    p.fillRect(QRect(0, 0, w, 54), band);
    p.fillRect(QRect(0, 54, w, 2), kAccent);
    const double waveWidth = 330 + std::max(0, w - 699) * 0.4;
    for (int i = 0; i < 4; ++i) {
        Wave(p, QRectF(250 + i * 18, 6, waveWidth, 42), 5 + i, i * 0.9, QPen(QColor(255, 255, 255, 26 + i * 8), 1.4));
    }
    PaintMark(p, QRectF(12, 9, 36, 36));
    // The name in the desktop's font, sized to the band.
    QFont name = p.font();
    name.setBold(true);
    name.setPixelSize(24);
    p.setPen(Qt::white);
    p.setFont(name);
    p.drawText(QPointF(58, 35), QStringLiteral("Pelloran"));
    QFont line = p.font();
    line.setBold(false);
    line.setPixelSize(11);
    p.setFont(line);
    p.setPen(QColor(0xd4, 0xe6, 0xf2));
    p.drawText(QPointF(60, 49), QStringLiteral("Audio Converter"));
    // Plate behind the help, minimize, maximize and close buttons, at the right edge.
    p.setPen(QColor(255, 255, 255, 40));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(QRectF(w - 102.5, 7.5, 97, 28), 5, 5);

    // Command panel: as tall as the window.
    QLinearGradient panel(0, 62, 0, h - 8);
    panel.setColorAt(0, pal.color(QPalette::Button));
    panel.setColorAt(1, toward(pal.color(QPalette::Button), 0.06));
    p.setPen(pal.color(QPalette::Mid));
    p.setBrush(panel);
    p.drawRoundedRect(QRectF(4.5, 62.5, pw, h - 71), 6, 6);
    // The free part of the panel, between the line under the buttons and the line over the link: a quiet wave
    // picture and the drop hint, each only where it fits (a window shrunk to a small screen has no free part).
    constexpr double kUnderButtons = 317.5;
    const double overLink = h - 40.5;
    p.setPen(toward(pal.color(QPalette::Button), 0.15));
    if (overLink - kUnderButtons >= 24) p.drawLine(QPointF(14, kUnderButtons), QPointF(pw - 6, kUnderButtons));
    p.drawLine(QPointF(14, overLink), QPointF(pw - 6, overLink));
    QColor wave = pal.color(QPalette::Highlight);
    for (int i = 0; i < 3 && 380 + i * 44 <= h - 68; ++i) {
        wave.setAlpha(70 + i * 30);
        Wave(p, QRectF(14, 340 + i * 44, pw - 20, 40), 3 + i, i * 1.3, QPen(wave, 1.6));
    }
    if (h - 64 >= kUnderButtons + 2) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.setFont(line);
        p.drawText(QRectF(8, h - 64, pw - 8, 14), Qt::AlignHCenter, QStringLiteral("Drop files here"));
    }

    // Frame of the file list.
    p.setPen(pal.color(QPalette::Mid));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRect(QRectF(pw + 11.5, 61.5, w - pw - 20, h - 71));
    p.restore();
}

}  // namespace pelloran
