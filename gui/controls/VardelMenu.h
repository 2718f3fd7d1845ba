#pragma once
// Menus that draw themselves: a record per item, toolbar images beside the commands that have one, and
// either a flat style with a tinted image column or a classic 3-D style.

#include <QtGui/QImage>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProxyStyle>

#include <vector>

namespace pelloran {

// One item of a menu template; id 0 is a separator. A tab in the text separates the shortcut text.
struct MenuItemTemplate {
    int id;
    const char* text;
};

struct PopupTemplate {
    const char* title;
    std::vector<MenuItemTemplate> items;
};

class VardelMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr int kImageWidth = 16;
    static constexpr int kImageHeight = 15;
    // Drawing-mode switches: 1 flat, 0 classic. The themed one applies only where a desktop theme asks for it;
    // on this platform the other one decides.
    static int drawModeThemed;
    static int drawModeOther;
    // Shaded images (raised over a shadow when highlighted) in the flat style.
    static bool shadedImages;

    explicit VardelMenu(QWidget* parent = nullptr);
    ~VardelMenu() override;

    // Builds one owner-drawn sub-menu per pop-up, with a record per item.
    void LoadMenu(const std::vector<PopupTemplate>& popups);
    // Gives every command of the toolbar that is in the menu the toolbar image at the same position.
    // Images are 16 x 15; RGB(192, 192, 192) is the transparent colour. False when the strip is unusable.
    // A strip drawn at twice the size, when given, serves screens of scale 2.
    bool LoadToolbar(const QImage& strip, const std::vector<int>& commands, const QImage& strip2x = QImage());
    VardelMenu* GetSubMenu(int position) const;
    // The item of a command in this menu or its sub-menus, or null.
    QAction* ActionFor(int id) const;
    // Image index of a command, -1 when it has none.
    int ImageIndexFor(int id) const;

    static bool FlatStyle() { return drawModeOther == 1; }
    // Whether a menu belongs to a VardelMenu.
    static bool IsVardelMenu(const QMenu* menu);

signals:
    void CommandTriggered(int id);

private:
    struct ItemRecord {
        QString text;
        int id = 0;
        int imageIndex = -1;
        QAction* action = nullptr;
    };

    std::vector<ItemRecord> records_;
    std::vector<VardelMenu*> subMenus_;
};

// The drawing of VardelMenu items (installed on every VardelMenu).
class VardelMenuStyle : public QProxyStyle {
    Q_OBJECT
public:
    static VardelMenuStyle* Instance();

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
};

// Lightens a colour by f: each component c becomes c + (255 - c) * f.
QColor Lighten(const QColor& colour, double f);

}  // namespace pelloran
