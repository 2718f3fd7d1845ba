#include "gui/controls/AboutBox.h"

#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include "gui/Addresses.h"
#include "gui/controls/LinkStatic.h"

namespace pelloran {

AboutBox::AboutBox(QWidget* parent, std::function<bool(const QString&)> open) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About %1").arg(kProgramName));
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/images/pelloran-48.png")));
    auto* name = new QLabel(QStringLiteral("%1 v%2").arg(kProgramName, kVersionText), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);

    const auto makeLink = [this, open](const QString& text, const QString& address) {
        auto* link = new CLinkStatic(text, this);
        link->SetAddress(address);
        link->SetUnderline(CLinkStatic::kUnderlineAlways);
        link->opener = [open](const QString& a) { return open(a) ? 33 : 31; };
        link->Attach();
        return link;
    };
    homepage_ = makeLink(QStringLiteral("Visit %1 Homepage").arg(kProgramName), kWebSite);
    support_ = makeLink(QStringLiteral("Feedback and Support"), kSupportMail);
    encoder_ = makeLink(QStringLiteral("The program uses LAME MP3 encoder"), kLameProjectAddress);
    license_ = makeLink(QStringLiteral("GNU General Public License, version 3"), kLicenseAddress);
    auto* notice = new QLabel(QStringLiteral("Copyright \u00A9 2026 the %1 developers.\n%1 is free software: you "
                                             "may share and change it under the terms of the GNU General Public "
                                             "License, version 3 or (at your option) any later version. It comes "
                                             "with ABSOLUTELY NO WARRANTY.")
                                  .arg(kProgramName),
                              this);
    notice->setWordWrap(true);
    notice->setMaximumWidth(360);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    checkUpdates_ = new QPushButton(QStringLiteral("&Check Updates"), this);
    tellFriend_ = new QPushButton(QStringLiteral("Tell a Friend"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(checkUpdates_, &QPushButton::clicked, this, [open] { open(kCheckUpdatesAddress); });
    connect(tellFriend_, &QPushButton::clicked, this, [open] { open(kTellFriendMail); });

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addSpacing(6);
    for (QWidget* link : {static_cast<QWidget*>(homepage_), static_cast<QWidget*>(support_),
                          static_cast<QWidget*>(encoder_)})
        texts->addWidget(link);
    texts->addSpacing(6);
    texts->addWidget(notice);
    texts->addWidget(license_);
    top->addLayout(texts, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(checkUpdates_);
    buttons->addWidget(tellFriend_);
    buttons->addStretch();
    top->addLayout(buttons);
    setLayout(top);
}

}  // namespace pelloran
