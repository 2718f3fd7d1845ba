#pragma once
// The About box: name and version, three links, the licence notice and its link, Check Updates and Tell a
// Friend.

#include <QtWidgets/QDialog>

#include <functional>

class QPushButton;

namespace pelloran {

class CLinkStatic;

class AboutBox : public QDialog {
    Q_OBJECT
public:
    // open: opens an address with the desktop's handler (true when started).
    AboutBox(QWidget* parent, std::function<bool(const QString&)> open);

    CLinkStatic* homepageLink() const { return homepage_; }
    CLinkStatic* supportLink() const { return support_; }
    CLinkStatic* encoderLink() const { return encoder_; }
    CLinkStatic* licenseLink() const { return license_; }
    QPushButton* checkUpdatesButton() const { return checkUpdates_; }
    QPushButton* tellFriendButton() const { return tellFriend_; }

private:
    CLinkStatic* homepage_;
    CLinkStatic* support_;
    CLinkStatic* encoder_;
    CLinkStatic* license_;
    QPushButton* checkUpdates_;
    QPushButton* tellFriend_;
};

}  // namespace pelloran
