#pragma once

// Helpers of the analysis windows' widget tests (pitch, spectrogram): the
// process's thread count, waiting on the event loop, a label's text and
// mouse moves with buttons held.

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace phonaxis::test {

// Threads of this process now (a worker left behind shows here), leaving
// out the idle threads Qt's global thread pool keeps for a while after a
// task (named "Thread (pooled)"): they are Qt's, not a worker of ours.
inline std::ptrdiff_t threadCount()
{
    std::ptrdiff_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "Thread (pooled)" ? 0 : 1;
    }
    return count;
}

// The thread count once it has come down to `expected`, or after two
// seconds: a joined thread may stay listed for a moment while the kernel
// reaps it.
inline std::ptrdiff_t settledThreadCount(std::ptrdiff_t expected)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::ptrdiff_t count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(5);
        count = threadCount();
    }
    return count;
}

// Runs the event loop until `done` or a minute has passed.
template <typename Done> bool waitFor(Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

// The text of the window's label `objectName`.
inline std::string text(const QWidget* window, const char* objectName)
{
    return window->findChild<QLabel*>(QString::fromLatin1(objectName))->text().toStdString();
}

// `format` with its %1 replaced by `value` to one decimal.
inline std::string oneDecimal(const char* format, double value)
{
    return QString::fromLatin1(format).arg(value, 0, 'f', 1).toStdString();
}

// A mouse move to `point` of `view` with `buttons` held.
inline void moveTo(QWidget* view, QPoint point, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(point), view->mapToGlobal(QPointF(point)),
                     Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
}

} // namespace phonaxis::test
