#include "gui/controls/LinkStatic.h"

#include <QtGui/QCursor>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include "platform/shell.h"

namespace pelloran {

QString HyperlinkErrorText(int code) {
    switch (code) {
        case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
        case 2: return QStringLiteral("The specified file was not found.");
        case 3: return QStringLiteral("The specified path was not found.");
        case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
        case 8: return QStringLiteral("There was not enough memory to complete the operation.");
        case 11: return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case 26: return QStringLiteral("A sharing violation occurred. ");
        case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
        case 28: return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
        case 29: return QStringLiteral("The DDE transaction failed.");
        case 30:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
        case 31: return QStringLiteral("There is no application associated\nwith the given filename extension.");
        case 32: return QStringLiteral("The specified dynamic-link library was not found.");
        default: return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

namespace {

// Code 31 stands for "no handler could be started", the only failure the desktop opener reports.
int OpenWithDesktop(const QString& address) { return OpenWebAddress(address.toStdString()) ? 33 : 31; }

}  // namespace

CLinkStatic::CLinkStatic(const QString& text, QWidget* parent) : QLabel(text, parent), opener(OpenWithDesktop) {
    hoverTimer_.setInterval(100);
    connect(&hoverTimer_, &QTimer::timeout, this, &CLinkStatic::CheckHover);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void CLinkStatic::Attach() {
    if (address_.isEmpty()) address_ = text();
    if (text().isEmpty()) setText(address_);
    FitToText();
    if (underline_ != kUnderlineHover) {
        ApplyFont(underline_ == kUnderlineAlways);
    }
    setToolTip(address_);
}

void CLinkStatic::SetAddress(const QString& address) {
    address_ = address;
    FitToText();
    setToolTip(address_);
}

void CLinkStatic::SetUnderline(int mode) {
    if (mode == underline_) return;
    underline_ = mode;
    ApplyFont(mode == kUnderlineAlways);
    update();
}

void CLinkStatic::ApplyFont(bool underlined) {
    QFont f = font();
    f.setUnderline(underlined);
    setFont(f);
}

void CLinkStatic::FitToText() {
    if (!adjustToText_) return;
    QFont underlined = font();
    underlined.setUnderline(true);
    const QSize text = QFontMetrics(underlined).size(Qt::TextSingleLine, this->text()) + QSize(2, 2);
    QRect g = geometry();
    const Qt::Alignment a = alignment();
    int left = g.left();
    if (a & Qt::AlignHCenter) left = g.center().x() - text.width() / 2;
    else if (a & Qt::AlignRight) left = g.right() - text.width() + 1;
    int top = g.top();
    if (a & Qt::AlignVCenter) top = g.center().y() - text.height() / 2;
    setGeometry(left, top, text.width(), text.height());
}

QColor CLinkStatic::CurrentColor() const {
    if (hovering_) return hoverColor_;
    return visited_ ? visitedColor_ : linkColor_;
}

void CLinkStatic::StartHover() {
    if (hovering_) return;
    hovering_ = true;
    if (underline_ == kUnderlineHover) ApplyFont(true);
    update();
    hoverTimer_.start();
}

void CLinkStatic::CheckHover() {
    if (rect().contains(mapFromGlobal(QCursor::pos()))) return;
    hovering_ = false;
    hoverTimer_.stop();
    if (underline_ != kUnderlineAlways) ApplyFont(false);
    update();
}

void CLinkStatic::enterEvent(QEnterEvent* event) {
    StartHover();
    QLabel::enterEvent(event);
}

void CLinkStatic::mouseMoveEvent(QMouseEvent* event) {
    StartHover();
    QLabel::mouseMoveEvent(event);
}

void CLinkStatic::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    hovering_ = false;
    hoverTimer_.stop();
    if (underline_ != kUnderlineAlways) ApplyFont(false);
    const int code = opener ? opener(address_) : 31;
    if (code > 32) {
        visited_ = true;
        update();
        return;
    }
    QApplication::beep();
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Pelloran"),
                                QStringLiteral("Unable to open hyperlink:\n\n") + HyperlinkErrorText(code),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void CLinkStatic::paintEvent(QPaintEvent*) {
    // No background: the parent shows through.
    QPainter p(this);
    p.setFont(font());
    p.setPen(CurrentColor());
    p.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}

}  // namespace pelloran
