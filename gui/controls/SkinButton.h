#pragma once
// A push button that draws itself: flat or 3-D border, hover tracking, an icon or a pair of bitmaps, and
// the parent's background picture beneath it.

#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtWidgets/QPushButton>

#include <optional>

namespace pelloran {

class CSkinButton : public QPushButton {
    Q_OBJECT
public:
    explicit CSkinButton(const QString& text, QWidget* parent = nullptr);

    // Each setter repaints at once when repaint is set.
    void SetIcon(const QIcon& icon, const QIcon& hoverIcon, bool resize, bool repaint = true);
    const QIcon& SkinIcon() const { return icon_; }
    // False (and no images kept) when a bitmap cannot be used.
    bool SetBitmaps(const QPixmap& bitmap, const QPixmap& hoverBitmap, bool resize, bool repaint = true);
    void SetCursorShape(Qt::CursorShape shape);
    void SetButtonFont(const QFont& font, bool repaint = true);
    // An active colour left out means the normal colour.
    void SetColors(const QColor& normal, std::optional<QColor> active, bool repaint = true);
    void SetDrawText(bool draw, bool repaint = true);
    void SetTextOffset(int x, int y, bool repaint = true);
    void SetBorder(bool draw, bool flat, bool repaint = true);
    void SetFocusRect(bool draw, bool repaint = true);
    void SetPressedOffset(bool shift, bool repaint = true);
    void SetTransparent(bool transparent, bool repaint = true);
    // A picture of the whole client area of the top-level window; the button shows its part of it.
    void SetParentBackground(const QPixmap& background, bool repaint = true);

    bool hovering() const { return hovering_; }
    bool flat() const { return flat_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void Redraw(bool repaint);
    void ResizeToImage(QSize image);
    void FreeImages();

    QColor normalText_;
    QColor activeText_;
    QFont font_;
    bool drawText_ = true;
    QPoint textOffset_;
    bool drawBorder_ = true;
    bool flat_ = true;
    bool focusRect_ = false;
    bool pressedOffset_ = true;
    bool transparent_ = true;
    QColor inactiveBackground_;
    QColor activeBackground_;
    QPixmap parentBackground_;
    QPixmap cachedBackground_;
    QIcon icon_;
    QIcon hoverIcon_;
    QPixmap bitmap_;
    QPixmap hoverBitmap_;
    bool hovering_ = false;
};

}  // namespace pelloran
