#include "gui/window/GuiBridge.h"

#include <QtCore/QThread>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QWidget>

namespace pelloran {

QMessageBox* ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    auto* box = new QMessageBox(icon, QStringLiteral("Pelloran"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    return box;
}

bool GuiQuestions::Ask(const QString& text) {
    QWidget* parent = parent_;
    auto makeBox = [parent, text] {
        auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Pelloran"), text,
                                    QMessageBox::Yes | QMessageBox::No, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        return box;
    };
    std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->abandoned) return false;
    }
    if (QThread::currentThread() == parent_->thread()) return makeBox()->exec() == QMessageBox::Yes;

    auto pending = std::make_shared<Pending>();
    PostToGui(parent_, [state, pending, makeBox] {
        QMessageBox* box = makeBox();
        QObject::connect(box, &QMessageBox::finished, box, [state, pending, box](int) {
            std::lock_guard lock(state->mutex);
            pending->yes = box->clickedButton() == box->button(QMessageBox::Yes);
            pending->answered = true;
            state->changed.notify_all();
        });
        box->open();
    });
    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return pending->answered || state->abandoned; });
    return pending->answered && pending->yes;
}

void GuiQuestions::Abandon() {
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
    state_->changed.notify_all();
}

}  // namespace pelloran
