// Makes a picture of the main window with a filled list: pelloran-screenshot OUTPUT.png FILE...
// Runs on any Qt platform (scripts/screenshot uses the offscreen one) with a scratch settings folder.

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstdlib>

#include "gui/window/MainDialog.h"
#include "gui/window/SortListCtrl.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png FILE...\n", argv[0]);
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

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
    for (int i = 2; i < argc; ++i) files.push_back(QDir(argv[i]).absolutePath().toStdString());
    QObject::connect(&window, &pelloran::MainDialog::AddingFinished, &app, [&] {
        if (window.list()->RowCount() > 1) window.list()->Row(1)->setSelected(true);
        QTimer::singleShot(200, &app, [&] {
            const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
            app.exit(saved ? 0 : 1);
        });
    });
    window.AddPaths(files);
    const int code = app.exec();
    window.close();
    return code;
}
