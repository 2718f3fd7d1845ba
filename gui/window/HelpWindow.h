#pragma once
// The program's own help window, "Pelloran Help": the HTML pages of res/help.

#include <QtWidgets/QWidget>

class QTextBrowser;

namespace pelloran {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace pelloran
