#include "gui/controls/SkinButton.h"

#include <QtGui/QEnterEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleOption>

namespace pelloran {

CSkinButton::CSkinButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    const QPalette pal = QApplication::palette();
    normalText_ = activeText_ = pal.color(QPalette::ButtonText);
    inactiveBackground_ = activeBackground_ = pal.color(QPalette::Button);
    setAutoDefault(false);
    setDefault(false);
    setAttribute(Qt::WA_Hover);
}

QSize CSkinButton::sizeHint() const {
    if (!bitmap_.isNull()) return bitmap_.deviceIndependentSize().toSize();
    return QPushButton::sizeHint();
}

void CSkinButton::Redraw(bool repaint) {
    if (repaint) update();
}

void CSkinButton::FreeImages() {
    icon_ = hoverIcon_ = QIcon();
    bitmap_ = hoverBitmap_ = QPixmap();
}

void CSkinButton::ResizeToImage(QSize image) {
    const int extra = (pressedOffset_ ? 1 : 0) + (drawBorder_ ? 2 : 0);
    resize(image.width() + extra, image.height() + extra);  // the top-left corner stays
}

void CSkinButton::SetIcon(const QIcon& icon, const QIcon& hoverIcon, bool resize, bool repaint) {
    FreeImages();
    icon_ = icon;
    hoverIcon_ = hoverIcon;
    if (resize && !icon_.isNull()) {
        const QList<QSize> sizes = icon_.availableSizes();
        ResizeToImage(sizes.isEmpty() ? QSize(16, 16) : sizes.first());
    }
    Redraw(repaint);
}

bool CSkinButton::SetBitmaps(const QPixmap& bitmap, const QPixmap& hoverBitmap, bool resize, bool repaint) {
    FreeImages();
    if (bitmap.isNull()) {
        Redraw(repaint);
        return false;
    }
    bitmap_ = bitmap;
    hoverBitmap_ = hoverBitmap;
    if (resize) ResizeToImage(bitmap_.deviceIndependentSize().toSize());
    Redraw(repaint);
    return true;
}

void CSkinButton::SetCursorShape(Qt::CursorShape shape) { setCursor(shape); }

void CSkinButton::SetButtonFont(const QFont& font, bool repaint) {
    font_ = font;
    Redraw(repaint);
}

void CSkinButton::SetColors(const QColor& normal, std::optional<QColor> active, bool repaint) {
    normalText_ = normal;
    activeText_ = active.value_or(normal);
    Redraw(repaint);
}

void CSkinButton::SetDrawText(bool draw, bool repaint) {
    drawText_ = draw;
    Redraw(repaint);
}

void CSkinButton::SetTextOffset(int x, int y, bool repaint) {
    textOffset_ = QPoint(x, y);
    Redraw(repaint);
}

void CSkinButton::SetBorder(bool draw, bool flat, bool repaint) {
    drawBorder_ = draw;
    flat_ = flat;
    Redraw(repaint);
}

void CSkinButton::SetFocusRect(bool draw, bool repaint) {
    focusRect_ = draw;
    Redraw(repaint);
}

void CSkinButton::SetPressedOffset(bool shift, bool repaint) {
    pressedOffset_ = shift;
    Redraw(repaint);
}

void CSkinButton::SetTransparent(bool transparent, bool repaint) {
    transparent_ = transparent;
    Redraw(repaint);
}

void CSkinButton::SetParentBackground(const QPixmap& background, bool repaint) {
    parentBackground_ = background;
    cachedBackground_ = QPixmap();
    Redraw(repaint);
}

void CSkinButton::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QPushButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QPushButton::leaveEvent(event);
}

void CSkinButton::resizeEvent(QResizeEvent* event) {
    cachedBackground_ = QPixmap();  // the part under the button changed
    QPushButton::resizeEvent(event);
}

void CSkinButton::moveEvent(QMoveEvent* event) {
    cachedBackground_ = QPixmap();
    QPushButton::moveEvent(event);
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    const bool pressed = isDown();
    const bool active = hovering_ || pressed;

    // Background: the parent's picture under the button, or a fill.
    if (transparent_) {
        if (cachedBackground_.isNull() && !parentBackground_.isNull()) {
            // The picture may be drawn at the screen's scale: its part in device pixels.
            const qreal scale = parentBackground_.devicePixelRatio();
            const QPoint origin = mapTo(window(), QPoint(0, 0));
            cachedBackground_ = parentBackground_.copy(QRectF(QPointF(origin) * scale, QSizeF(size()) * scale).toRect());
            cachedBackground_.setDevicePixelRatio(scale);
        }
        if (!cachedBackground_.isNull()) p.drawPixmap(0, 0, cachedBackground_);
    } else {
        p.fillRect(r, active ? activeBackground_ : inactiveBackground_);
    }

    // Border: a 3-D rectangle; the flat style shows one only while hovered or pressed.
    if (drawBorder_) {
        const QColor light = palette().color(QPalette::Light);
        const QColor shadow = palette().color(QPalette::Dark);
        std::optional<std::pair<QColor, QColor>> edges;
        if (pressed) edges = std::make_pair(shadow, light);
        else if (!flat_ || hovering_) edges = std::make_pair(light, shadow);
        if (edges) {
            p.setPen(edges->first);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(edges->second);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
        }
        r.adjust(1, 1, -1, -1);
    }
    if (pressed && pressedOffset_) r.translate(1, 1);

    // Image: an icon centred, else a bitmap at the top-left.
    if (!icon_.isNull()) {
        const QIcon& icon = (active && !hoverIcon_.isNull() && isEnabled()) ? hoverIcon_ : icon_;
        const QList<QSize> sizes = icon.availableSizes();
        const QSize size = sizes.isEmpty() ? QSize(16, 16) : sizes.first();
        const QRect target(QPoint(r.left() + (r.width() - size.width()) / 2, r.top() + (r.height() - size.height()) / 2),
                           size);
        icon.paint(&p, target, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    } else if (!bitmap_.isNull()) {
        const QPixmap& bitmap = (active && isEnabled() && !hoverBitmap_.isNull()) ? hoverBitmap_ : bitmap_;
        p.drawPixmap(r.topLeft(), bitmap);
    }

    if (drawText_) {
        p.setFont(font_);
        QColor colour = active ? activeText_ : normalText_;
        if (!isEnabled()) colour = palette().color(QPalette::Disabled, QPalette::WindowText);
        p.setPen(colour);
        // Mnemonics are underlined as the desktop's style says (with many, only while Alt is held).
        QStyleOptionButton option;
        initStyleOption(&option);
        const int mnemonic =
            style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
        p.drawText(r.translated(textOffset_), Qt::AlignCenter | Qt::TextSingleLine | mnemonic | Qt::TextDontClip, text());
    }

    // The keyboard focus: a dotted frame in the text colour, visible on any skin.
    if (focusRect_ && hasFocus()) {
        p.setPen(QPen(normalText_, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(3, 3, -4, -4));
    }
}

}  // namespace pelloran
