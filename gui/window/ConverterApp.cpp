#include "gui/window/ConverterApp.h"

#include <QtCore/QEventLoop>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProxyStyle>

#include "gui/window/MainDialog.h"

#include "platform/bass.h"

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

    // A library of another version ends start-up silently.
    if ((BASS_GetVersion() >> 16) != (kBassVersion >> 16)) return false;
    BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0);
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Pelloran"),
                        QStringLiteral("Failed to initialize the software (0x0002020)."), QMessageBox::Ok);
        box.exec();
        return false;
    }
    // The format decoders are built in: there are no plug-ins to load and no formats to register.

    dialog_ = std::make_unique<MainDialog>();
    QEventLoop loop;
    QObject::connect(dialog_.get(), &MainDialog::Closed, &loop, &QEventLoop::quit);
    dialog_->show();
    loop.exec();
    dialog_.reset();
    return false;
}

int ConverterApp::ExitInstance() {
    BASS_Free();
    BASS_PluginFree(0);
    return 0;
}

}  // namespace pelloran
