#pragma once
// "Options": the modal sheet of ten pages with OK and Cancel.

#include <QDialog>

#include <vector>

#include "formats/SettingsTable.h"
#include "gui/options/OptionsHooks.h"

class QDialogButtonBox;
class QStackedWidget;
class QTabBar;

namespace pelloran {

class OptionsPage;
struct PageRefusal;

class OptionsSheetDialog : public QDialog {
public:
    static constexpr int kPageCount = 10;

    // The pages get their copies of the settings; the stored start page opens (the first page when the
    // index is out of range).
    OptionsSheetDialog(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent = nullptr);

    int ActivePageIndex() const;
    OptionsPage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    QTabBar* TabBar() const { return tabBar_; }
    QDialogButtonBox* Buttons() const { return buttons_; }

    // OK: the active page must accept being left; then every page that was shown applies.
    void accept() override;
    // Copies the pages back by the copy-back rules; pages never shown keep the values they were given.
    void CopyBack(ConvertSettings& settings) const;

protected:
    // The wheel over a list, spin box or slider without keyboard focus scrolls the page: a setting changes
    // only in a control the user clicked or tabbed into.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TabChanged(int index);
    // The first size: what the pages want, within the screen.
    void FitScreen();
    void ShowRefusal(const PageRefusal& refusal);

    OptionsHooks& hooks_;
    std::vector<OptionsPage*> pages_;
    QTabBar* tabBar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace pelloran
