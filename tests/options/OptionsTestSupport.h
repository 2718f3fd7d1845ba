#pragma once
// Helpers for the options sheet tests: hooks that record what the sheet asks, and user-like actions.

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QTest>

#include <cstdlib>

#include <functional>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"
#include "gui/options/OptionsHooks.h"

using namespace pelloran;

struct RecordedMessage {
    QString text;
    QMessageBox::Icon icon;
};

// Hooks that answer from the test: messages are recorded, the folder picker returns pickedFolder,
// dialogs are handed to onDialog (which decides whether they are accepted).
struct TestHooks {
    std::vector<RecordedMessage> messages;
    std::vector<QString> opened;
    QString pickedFolder;
    QString pickerStart;
    std::function<bool(QDialog&)> onDialog;
    std::vector<WmaFormatChoice> wmaFormats;
    int wmaCalls = 0;
    OptionsHooks hooks;

    TestHooks() {
        hooks.message = [this](QWidget*, const QString& text, QMessageBox::Icon icon) {
            messages.push_back({text, icon});
        };
        hooks.chooseFolder = [this](QWidget*, const QString&, const QString& start) {
            pickerStart = start;
            return pickedFolder;
        };
        hooks.open = [this](const QString& target) { opened.push_back(target); };
        hooks.runModal = [this](QDialog& dialog) { return onDialog ? onDialog(dialog) : false; };
        hooks.wmaFormats = [this](QWidget*) {
            ++wmaCalls;
            return wmaFormats;
        };
    }
    QString LastMessage() const { return messages.empty() ? QString() : messages.back().text; }
};

// The user picks the item showing text (as a click in the open list does).
inline bool Choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    if (index < 0) return false;
    list->setCurrentIndex(index);
    emit list->activated(index);
    return true;
}

inline QString Selected(const QComboBox* list) { return list->currentText(); }

// The user clicks the radio button with that index.
inline void ClickRadio(QButtonGroup* group, int index) { group->button(index)->click(); }

// Tests run on the offscreen platform unless told otherwise; the documents folder and the settings
// folder are kept in a scratch folder.
#define PELLORAN_OPTIONS_TEST_MAIN(TestClass)                                                 \
    int main(int argc, char** argv) {                                                        \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
        pelloran::test::TempDir scratch;                                                     \
        setenv("XDG_DOCUMENTS_DIR", (scratch / "Documents").c_str(), 1);                     \
        setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);                          \
        QApplication app(argc, argv);                                                        \
        TestClass tests;                                                                     \
        return QTest::qExec(&tests, argc, argv);                                             \
    }
