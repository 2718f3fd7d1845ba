#pragma once
// Helpers for the window tests: a scratch home for the settings, a main window on it, and waiting for the
// window's work and message boxes.

#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/window/MainDialog.h"
#include "gui/window/SortListCtrl.h"
#include "platform/registry.h"
#include "formats/SettingsTable.h"
#include "tests/support/TestSupport.h"

namespace pelloran::test {

// A settings folder, a documents folder and a files folder under one scratch folder, and the window on them.
class WindowHarness {
public:
    // configure changes the stored settings before the window reads them; firstRun leaves "FirstRun" unset.
    explicit WindowHarness(const std::function<void(ConvertSettings&)>& configure = {}, bool firstRun = false) {
        fs::create_directories(root_.path() / "config");
        fs::create_directories(root_.path() / "docs");
        fs::create_directories(root_.path() / "files");
        setenv("XDG_CONFIG_HOME", (root_.path() / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (root_.path() / "docs").c_str(), 1);
        ConvertSettings settings;
        if (configure) configure(settings);
        RegistryStore store;
        store.Load(RegistryStore::DefaultPath());
        SaveSettings(settings, kSaveFolderGroup | kSaveOptionsGroup | kSaveFormatGroup, store);
        if (!firstRun) store.WriteNumber(kOptionsKey, "FirstRun", 0);
        store.Commit();
    }
    ~WindowHarness() { CloseMessages(); }

    MainDialog& Open() {
        window_ = std::make_unique<MainDialog>();
        // Record what would open in the desktop's programs instead of starting them.
        window_->shell().open = [this](const std::string& a) {
            opened.push_back(a);
            return true;
        };
        window_->shell().showInFileManager = [this](const std::string& p) {
            shown.push_back(p);
            return true;
        };
        window_->show();
        return *window_;
    }
    MainDialog& window() { return *window_; }
    // Destroys the window as closing the program does.
    void Destroy() { window_.reset(); }

    std::string File(const std::string& name) const { return (root_.path() / "files" / name).string(); }
    std::string Path(const std::string& name) const { return (root_.path() / name).string(); }
    std::string Docs() const { return (root_.path() / "docs").string(); }

    void AddAndWait(const std::vector<std::string>& paths) {
        QSignalSpy done(window_.get(), &MainDialog::AddingFinished);
        window_->AddPaths(paths);
        QVERIFY(done.wait(60000));
    }
    void ConvertAllAndWait() {
        QSignalSpy done(window_.get(), &MainDialog::RunFinished);
        window_->ConvertAll();
        QVERIFY(done.wait(120000));
    }

    // Status column texts in list order.
    std::vector<std::string> Statuses() const {
        std::vector<std::string> out;
        for (FileRow* row : window_->list()->AllRows())
            out.push_back(row->text(SortListCtrl::kColStatus).toStdString());
        return out;
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> out;
        for (FileRow* row : window_->list()->AllRows()) out.push_back(row->text(column).toStdString());
        return out;
    }
    void SelectRows(const std::vector<int>& rows) {
        window_->list()->clearSelection();
        for (int r : rows) window_->list()->Row(r)->setSelected(true);
    }

    // The message boxes on screen.
    static std::vector<QMessageBox*> Messages() {
        std::vector<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes.push_back(box);
        }
        return boxes;
    }
    static void CloseMessages() {
        for (QMessageBox* box : Messages()) box->done(0);
        QCoreApplication::processEvents();
    }

    std::vector<std::string> opened;
    std::vector<std::string> shown;

private:
    TempDir root_;
    std::unique_ptr<MainDialog> window_;
};

}  // namespace pelloran::test
