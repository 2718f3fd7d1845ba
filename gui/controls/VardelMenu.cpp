#include "gui/controls/VardelMenu.h"

#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleOptionMenuItem>

#include <algorithm>
#include <set>

namespace pelloran {

int VardelMenu::drawModeThemed = 1;
int VardelMenu::drawModeOther = 0;
bool VardelMenu::shadedImages = true;

namespace {

// Every menu that belongs to a VardelMenu (GUI thread only).
std::set<const QMenu*>& AllMenus() {
    static std::set<const QMenu*> menus;
    return menus;
}

// The image cell is a little larger than the image so that the raised variant fits.
constexpr int kCellWidth = VardelMenu::kImageWidth + 2;
constexpr int kCellHeight = VardelMenu::kImageHeight + 2;

// scale 2: image is drawn at twice the size, and the cell too.
QPixmap Cell(QImage image, QPoint at, const QImage* shadow = nullptr, int scale = 1) {
    QImage cell(kCellWidth * scale, kCellHeight * scale, QImage::Format_ARGB32_Premultiplied);
    cell.fill(Qt::transparent);
    QPainter p(&cell);
    // Drawn pixel for pixel: a picture read from a "@2x" file says it is at scale 2 and would take a quarter
    // of the cell.
    image.setDevicePixelRatio(1);
    if (shadow) {
        QImage under = *shadow;
        under.setDevicePixelRatio(1);
        p.drawImage(QPoint(2, 2) * scale, under);
    }
    p.drawImage(at * scale, image);
    p.end();
    QPixmap pixmap = QPixmap::fromImage(cell);
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

// Normal, disabled and raised (highlighted) variants of one toolbar image, added to icon.
void AddImageVariants(QIcon& icon, const QImage& image, int scale) {
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    QImage shadow = grey;
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        auto* dark = reinterpret_cast<QRgb*>(shadow.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            const int v = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(v, v, v, alpha);
            dark[x] = qRgba(0x80, 0x80, 0x80, alpha * 3 / 5);
        }
    }
    icon.addPixmap(Cell(image, QPoint(1, 1), nullptr, scale), QIcon::Normal);
    icon.addPixmap(Cell(grey, QPoint(1, 1), nullptr, scale), QIcon::Disabled);
    icon.addPixmap(VardelMenu::shadedImages ? Cell(image, QPoint(0, 0), &shadow, scale)
                                            : Cell(image, QPoint(1, 1), nullptr, scale),
                   QIcon::Active);
}

// The strip with its transparent colour made transparent.
QImage Transparent(const QImage& strip) {
    QImage argb = strip.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == 0xC0C0C0) line[x] = 0;
        }
    }
    return argb;
}

QColor Scale(const QColor& c, double f) {
    return QColor(int(c.red() * f), int(c.green() * f), int(c.blue() * f));
}

// a moved towards b by f: a tint that stays on the palette's side, light or dark.
QColor Blend(const QColor& a, const QColor& b, double f) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * f, a.greenF() + (b.greenF() - a.greenF()) * f,
                            a.blueF() + (b.blueF() - a.blueF()) * f);
}

int Gap(bool flat) { return flat && VardelMenu::shadedImages ? 7 : 4; }

int MenuHeight(const QFontMetrics& fm) { return fm.height() + 6; }

}  // namespace

QColor Lighten(const QColor& c, double f) {
    const auto up = [f](int v) { return std::clamp(int(v + (255 - v) * f), 0, 255); };
    return QColor(up(c.red()), up(c.green()), up(c.blue()));
}

VardelMenu::VardelMenu(QWidget* parent) : QMenu(parent) {
    AllMenus().insert(this);
    setStyle(VardelMenuStyle::Instance());
    connect(this, &QMenu::triggered, this, [this](QAction* action) {
        // Only this menu's own items: sub-menus relay their commands themselves.
        if (action->menu() == nullptr && actions().contains(action)) emit CommandTriggered(action->data().toInt());
    });
}

VardelMenu::~VardelMenu() {
    AllMenus().erase(this);
    for (VardelMenu* sub : subMenus_) delete sub;
}

bool VardelMenu::IsVardelMenu(const QMenu* menu) { return AllMenus().count(menu) != 0; }

void VardelMenu::LoadMenu(const std::vector<PopupTemplate>& popups) {
    for (const PopupTemplate& popup : popups) {
        auto* sub = new VardelMenu(nullptr);
        sub->setTitle(QString::fromUtf8(popup.title));
        for (const MenuItemTemplate& item : popup.items) {
            ItemRecord record;
            record.id = item.id;
            if (item.id == 0) {
                record.action = sub->addSeparator();
            } else {
                record.text = QString::fromUtf8(item.text);
                record.action = sub->addAction(record.text);
                record.action->setData(item.id);
            }
            sub->records_.push_back(record);
        }
        connect(sub, &VardelMenu::CommandTriggered, this, &VardelMenu::CommandTriggered);
        addMenu(sub);
        subMenus_.push_back(sub);
    }
}

bool VardelMenu::LoadToolbar(const QImage& strip, const std::vector<int>& commands, const QImage& strip2x) {
    if (strip.isNull() || strip.height() < kImageHeight || strip.width() < kImageWidth * int(commands.size()))
        return false;
    const QImage argb = Transparent(strip);
    const bool sharp = strip2x.height() >= 2 * kImageHeight && strip2x.width() >= 2 * kImageWidth * int(commands.size());
    const QImage argb2x = sharp ? Transparent(strip2x) : QImage();
    for (size_t i = 0; i < commands.size(); ++i) {
        QIcon icon;
        AddImageVariants(icon, argb.copy(int(i) * kImageWidth, 0, kImageWidth, kImageHeight), 1);
        if (sharp)
            AddImageVariants(icon, argb2x.copy(int(i) * 2 * kImageWidth, 0, 2 * kImageWidth, 2 * kImageHeight), 2);
        for (VardelMenu* menu : subMenus_.empty() ? std::vector<VardelMenu*>{this} : subMenus_) {
            for (ItemRecord& record : menu->records_) {
                if (record.id != commands[i] || record.id == 0) continue;
                record.imageIndex = int(i);
                record.action->setIcon(icon);
            }
        }
    }
    return true;
}

VardelMenu* VardelMenu::GetSubMenu(int position) const {
    return position >= 0 && position < int(subMenus_.size()) ? subMenus_[position] : nullptr;
}

QAction* VardelMenu::ActionFor(int id) const {
    for (const ItemRecord& record : records_) {
        if (record.id == id && id != 0) return record.action;
    }
    for (VardelMenu* sub : subMenus_) {
        if (QAction* action = sub->ActionFor(id)) return action;
    }
    return nullptr;
}

int VardelMenu::ImageIndexFor(int id) const {
    for (const ItemRecord& record : records_) {
        if (record.id == id && id != 0) return record.imageIndex;
    }
    for (VardelMenu* sub : subMenus_) {
        if (const int index = sub->ImageIndexFor(id); index >= 0) return index;
    }
    return -1;
}

VardelMenuStyle* VardelMenuStyle::Instance() {
    static VardelMenuStyle* style = [] {
        auto* s = new VardelMenuStyle;
        s->setParent(qApp);  // freed with the application, after every menu
        return s;
    }();
    return style;
}

int VardelMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
        case PM_MenuPanelWidth: return 1;
        case PM_MenuHMargin: return 0;
        case PM_MenuVMargin: return 1;
        default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QSize VardelMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                        const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || item == nullptr) return QProxyStyle::sizeFromContents(type, option, size, widget);
    const bool flat = VardelMenu::FlatStyle();
    const int g = Gap(flat);
    const QFontMetrics fm(item->font);
    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
        return QSize(0, flat ? 3 : std::max(MenuHeight(fm) / 2, (VardelMenu::kImageHeight + g) / 2));
    }
    QString text = item->text;
    const int tab = text.indexOf('\t');
    int textWidth = fm.size(Qt::TextShowMnemonic | Qt::TextSingleLine, tab < 0 ? text : text.left(tab)).width();
    if (tab >= 0) textWidth += VardelMenu::kImageWidth * 2 + fm.horizontalAdvance(text.mid(text.lastIndexOf('\t') + 1));
    const int width = flat ? textWidth + VardelMenu::kImageWidth + g + 8 : textWidth + 2 * VardelMenu::kImageWidth + 1;
    return QSize(width, std::max(MenuHeight(fm), VardelMenu::kImageHeight + g));
}

void VardelMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                    const QWidget* widget) const {
    if (element == PE_PanelMenu || element == PE_FrameMenu) {
        const QPalette& pal = option->palette;
        if (element == PE_PanelMenu) painter->fillRect(option->rect, Scale(pal.color(QPalette::Base), 0.98));
        painter->setPen(pal.color(QPalette::Dark));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void VardelMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || item == nullptr) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QPalette& pal = item->palette;
    const bool flat = VardelMenu::FlatStyle();
    const int g = Gap(flat);
    const QRect r = item->rect;
    const bool enabled = item->state & State_Enabled;
    const bool highlighted = (item->state & State_Selected) && item->menuItemType != QStyleOptionMenuItem::Separator;
    const bool checked = item->checkType != QStyleOptionMenuItem::NotCheckable && item->checked;
    const int column = VardelMenu::kImageWidth + g;
    const QRect cell(r.left(), r.top(), column, r.height());
    painter->save();

    if (flat) {
        painter->fillRect(r, Scale(pal.color(QPalette::Base), 0.98));
        painter->fillRect(cell, Lighten(pal.color(QPalette::Button), 0.25));
        if (item->menuItemType == QStyleOptionMenuItem::Separator) {
            const int y = r.top() + r.height() / 2 - 1;
            painter->setPen(pal.color(QPalette::Dark));
            painter->drawLine(r.left() + column + 8, y, r.right(), y);
            painter->setPen(pal.color(QPalette::Light));
            painter->drawLine(r.left() + column + 8, y + 1, r.right(), y + 1);
            painter->restore();
            return;
        }
        if (highlighted) {
            painter->setPen(pal.color(QPalette::Highlight));
            painter->setBrush(Blend(pal.color(QPalette::Base), pal.color(QPalette::Highlight), 0.15));
            painter->drawRect(r.adjusted(0, 0, -1, -1));
        }
    } else {
        painter->fillRect(r, highlighted ? pal.color(QPalette::Highlight) : pal.color(QPalette::Window));
        if (item->menuItemType == QStyleOptionMenuItem::Separator) {
            const int y = r.top() + r.height() / 2;
            painter->setPen(pal.color(QPalette::Dark));
            painter->drawLine(r.left() + 1, y, r.right() - 1, y);
            painter->setPen(pal.color(QPalette::Light));
            painter->drawLine(r.left() + 1, y + 1, r.right() - 1, y + 1);
            painter->restore();
            return;
        }
    }

    // Image, or a check mark for a checked item without one.
    const QRect imageRect(cell.left() + (cell.width() - 18) / 2, cell.top() + (cell.height() - 17) / 2, 18, 17);
    if (!item->icon.isNull()) {
        if (checked && flat) {
            painter->setPen(pal.color(QPalette::Highlight));
            painter->setBrush(Blend(pal.color(QPalette::Base), pal.color(QPalette::Highlight), highlighted ? 0.45 : 0.15));
            painter->drawRect(imageRect.adjusted(-1, -1, 0, 0));
        }
        QIcon::Mode mode = QIcon::Normal;
        if (!enabled) mode = QIcon::Disabled;
        else if (highlighted && flat && VardelMenu::shadedImages) mode = QIcon::Active;
        // At the scale of the screen the menu is on, not the application's.
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(imageRect.topLeft(), item->icon.pixmap(QSize(18, 17), scale, mode));
        if (!flat && (highlighted || checked)) {
            painter->setPen(checked ? pal.color(QPalette::Dark) : pal.color(QPalette::Light));
            painter->drawLine(imageRect.topLeft(), imageRect.topRight());
            painter->drawLine(imageRect.topLeft(), imageRect.bottomLeft());
            painter->setPen(checked ? pal.color(QPalette::Light) : pal.color(QPalette::Dark));
            painter->drawLine(imageRect.bottomLeft(), imageRect.bottomRight());
            painter->drawLine(imageRect.topRight(), imageRect.bottomRight());
        }
    } else if (checked) {
        painter->setPen(QPen(pal.color(QPalette::Text), 2));
        const QPoint c = cell.center();
        painter->drawPolyline(QPolygon({c + QPoint(-4, 0), c + QPoint(-1, 3), c + QPoint(4, -3)}));
    }

    // Text: the command left-aligned after the image column, the shortcut right-aligned.
    QColor colour = pal.color(QPalette::WindowText);
    if (!flat && highlighted) colour = pal.color(QPalette::HighlightedText);
    if (!enabled) {
        colour = pal.color(QPalette::Disabled, QPalette::WindowText);
        if (flat && !highlighted) colour = Blend(colour, pal.color(QPalette::Base), 0.4);
    }
    painter->setPen(colour);
    painter->setFont(item->font);
    const QString& text = item->text;
    const int tab = text.indexOf('\t');
    const int textLeft = flat ? r.left() + column + 8 : r.left() + VardelMenu::kImageWidth + 8;
    const QRect textRect(textLeft, r.top(), r.right() - textLeft, r.height());
    // Mnemonics are underlined as the desktop's style says (with many, only while Alt is held).
    const int mnemonic =
        proxy()->styleHint(SH_UnderlineShortcut, option, widget) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | mnemonic,
                      tab < 0 ? text : text.left(tab));
    if (tab >= 0) {
        const QRect shortcutRect(textLeft, r.top(), r.right() - VardelMenu::kImageWidth - textLeft, r.height());
        painter->drawText(shortcutRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                          text.mid(text.lastIndexOf('\t') + 1));
    }
    painter->restore();
}

}  // namespace pelloran
