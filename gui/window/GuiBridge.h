#pragma once
// Between the worker thread that adds or converts files and the GUI thread that shows them.

#include <QtCore/QMetaObject>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtWidgets/QMessageBox>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class QWidget;

namespace pelloran {

// One worker thread; joined on destruction so nothing outlives its owner.
class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { Join(); }

    void Start(std::function<void()> work) {
        Join();
        thread_ = std::thread(std::move(work));
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Started() const { return thread_.joinable(); }

private:
    std::thread thread_;
};

// Runs fn on the thread of context (the GUI thread); dropped when context is gone before it runs.
template <class Fn>
void PostToGui(QObject* context, Fn&& fn) {
    QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::QueuedConnection);
}

// A message box titled "Pelloran" with an OK button, shown without a nested event loop; it deletes itself.
QMessageBox* ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text);

// Yes/No questions asked by a worker and answered on the GUI thread. A worker waits for the answer;
// Abandon (the window is going away) answers No to every question, asked or still to come.
class GuiQuestions {
public:
    explicit GuiQuestions(QWidget* parent) : parent_(parent), state_(std::make_shared<State>()) {}
    bool Ask(const QString& text);
    void Abandon();

private:
    // Shared with the boxes still open, which may outlive this object while the window is destroyed.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool abandoned = false;
    };
    struct Pending {
        bool answered = false;
        bool yes = false;
    };
    QWidget* parent_;
    std::shared_ptr<State> state_;
};

}  // namespace pelloran
