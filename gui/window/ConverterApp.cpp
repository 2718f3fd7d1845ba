#include "gui/window/ConverterApp.h"

#include <QtCore/QEventLoop>
#include <QtWidgets/QApplication>
#include <QtWidgets/QProxyStyle>

#include "gui/window/Launch.h"
#include "gui/window/MainDialog.h"

namespace pelloran {

namespace {

// Tool tips appear after 300 ms.
class WindowStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return 300;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

}  // namespace

ConverterApp::ConverterApp(std::vector<std::string> paths, InstanceServer* server) : paths_(std::move(paths)), server_(server) {}
ConverterApp::~ConverterApp() = default;

bool ConverterApp::InitInstance() {
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QApplication::setOrganizationName(QStringLiteral("Brenthaven"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(new WindowStyle);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pelloran.Pelloran"));

    dialog_ = std::make_unique<MainDialog>();
    QEventLoop loop;
    QObject::connect(dialog_.get(), &MainDialog::Closed, &loop, &QEventLoop::quit);
    if (server_) {
        // Files from a later start join the list, and the window comes to the front.
        QObject::connect(server_, &InstanceServer::PathsReceived, dialog_.get(), &MainDialog::OpenHandedPaths);
    }
    dialog_->ShowAsSaved();
    if (!paths_.empty()) dialog_->OpenPaths(paths_);
    loop.exec();
    dialog_.reset();
    return false;
}

int ConverterApp::ExitInstance() { return 0; }

}  // namespace pelloran
