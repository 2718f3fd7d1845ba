// Makes pictures of the main window with a filled list, in a light and a dark palette:
// pelloran-screenshot LIGHT.png DARK.png FILE...
// Runs on any Qt platform (scripts/screenshot uses the offscreen one) with a scratch settings folder.

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyle>

#include <cstdio>
#include <cstdlib>

#include "gui/window/MainDialog.h"
#include "gui/window/SortListCtrl.h"

namespace {

// A dark desktop's palette, as a dark colour scheme gives it.
QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2d, 0x30), base(0x1f, 0x21, 0x24), text(0xe6, 0xe6, 0xe6);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x35, 0x38, 0x3c));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Light, QColor(0x4a, 0x4d, 0x52));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x43, 0x47));
    p.setColor(QPalette::Mid, QColor(0x55, 0x58, 0x5d));
    p.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7e, 0xc6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x7c, 0xb8, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xc0, 0x9c, 0xff));
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9d, 0xa2));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x80, 0x82, 0x86));
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s LIGHT.png DARK.png FILE...\n", argv[0]);
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());

    // A settings file that has seen its first run, so no help window opens.
    {
        QDir().mkpath(config.path() + "/pelloran");
        pelloran::RegistryStore store;
        store.Load(pelloran::RegistryStore::DefaultPath());
        pelloran::CheckFirstRun(store);
        store.Commit();
    }
    pelloran::MainDialog window;
    window.show();
    std::vector<std::string> files;
    for (int i = 3; i < argc; ++i) files.push_back(QDir(argv[i]).absolutePath().toStdString());
    QObject::connect(&window, &pelloran::MainDialog::AddingFinished, &app, [&] {
        if (window.list()->RowCount() > 1) window.list()->Row(1)->setSelected(true);
        QTimer::singleShot(200, &app, [&] {
            if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) return app.exit(1);
            QApplication::setPalette(DarkPalette());
            QTimer::singleShot(200, &app, [&] { app.exit(window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1); });
        });
    });
    window.AddPaths(files);
    const int code = app.exec();
    window.close();
    return code;
}
