#pragma once
// A text that behaves as a web link: coloured, underlined while hovered, opens its address when clicked.

#include <QtCore/QTimer>
#include <QtGui/QColor>
#include <QtWidgets/QLabel>

#include <functional>
#include <string>

namespace pelloran {

// The text shown when an address cannot be opened, by the shell's error code.
QString HyperlinkErrorText(int code);

class CLinkStatic : public QLabel {
    Q_OBJECT
public:
    enum Underline { kUnderlineHover = -1, kUnderlineNever = 0, kUnderlineAlways = 1 };

    explicit CLinkStatic(const QString& text, QWidget* parent = nullptr);

    // Called once the control has its text, font and place (the attachment to its dialog item).
    void Attach();
    void SetAddress(const QString& address);
    const QString& address() const { return address_; }
    void SetUnderline(int mode);
    int underline() const { return underline_; }
    void SetAdjustToText(bool adjust) { adjustToText_ = adjust; }

    bool hovering() const { return hovering_; }
    bool visited() const { return visited_; }
    QColor CurrentColor() const;

    // Opens an address; the default is the desktop's handler. Returns the shell code (above 32: success).
    std::function<int(const QString&)> opener;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void StartHover();
    void CheckHover();
    void ApplyFont(bool underlined);
    void FitToText();

    QColor linkColor_{0, 0, 238};
    QColor visitedColor_{85, 26, 139};
    QColor hoverColor_{255, 0, 0};
    bool hovering_ = false;
    bool visited_ = false;
    int underline_ = kUnderlineHover;
    bool adjustToText_ = true;
    QString address_;
    QTimer hoverTimer_;
};

}  // namespace pelloran
