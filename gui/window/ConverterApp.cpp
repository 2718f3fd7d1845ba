#include "gui/window/ConverterApp.h"

#include <QtCore/QEventLoop>
#include <QtWidgets/QApplication>
#include <QtWidgets/QProxyStyle>

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

ConverterApp::ConverterApp() = default;
ConverterApp::~ConverterApp() = default;

bool ConverterApp::InitInstance() {
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QApplication::setOrganizationName(QStringLiteral("Brenthaven"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(new WindowStyle);

    dialog_ = std::make_unique<MainDialog>();
    QEventLoop loop;
    QObject::connect(dialog_.get(), &MainDialog::Closed, &loop, &QEventLoop::quit);
    dialog_->show();
    loop.exec();
    dialog_.reset();
    return false;
}

int ConverterApp::ExitInstance() { return 0; }

}  // namespace pelloran
