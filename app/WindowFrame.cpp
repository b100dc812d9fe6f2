#include "app/WindowFrame.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {
QMargins& seenFrame()
{
    static QMargins frame;
    return frame;
}
// The window manager frames a new window within a few event rounds; past this there is none.
constexpr int kPollMs = 20;
constexpr int kMaxPolls = 50;
} // namespace

QMargins WindowFrame::lastFrame() { return seenFrame(); }

WindowFrame* WindowFrame::keep(QWidget* window, QSize outer, Resizing resizing, Place place)
{
    return new WindowFrame(window, outer, resizing, place);
}

WindowFrame::WindowFrame(QWidget* window, QSize outer, Resizing resizing, Place place)
    : QObject(window), window_(window), outer_(outer), resizing_(resizing), place_(place), poll_(new QTimer(this))
{
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &WindowFrame::measure);
    window->installEventFilter(this);
    apply(seenFrame());
}

void WindowFrame::apply(const QMargins& frame)
{
    const QSize client(std::max(1, outer_.width() - frame.left() - frame.right()),
                       std::max(1, outer_.height() - frame.top() - frame.bottom()));
    if (resizing_ == Resizing::Fixed)
        window_->setFixedSize(client);
    else
        window_->resize(client);
    // A window's position is its frame's.
    window_->move(corner());
}

QPoint WindowFrame::corner() const
{
    if (place_)
        return *place_;
    const QScreen* s = window_->screen();
    const QRect screen = s ? s->geometry() : QRect();
    return {screen.x() + (screen.width() - outer_.width()) / 2, screen.y() + (screen.height() - outer_.height()) / 2};
}

void WindowFrame::measure()
{
    // Polled until the frame is known and the window stands where and as large as it should: a
    // manager busy framing the window may still move it after the first answer.
    QWindow* handle = window_->windowHandle();
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    const bool last = ++polls_ >= kMaxPolls;
    if (frame.isNull()) {
        if (last)
            poll_->stop();
        return;
    }
    seenFrame() = frame;
    if (window_->frameGeometry() == QRect(corner(), outer_) || last) {
        poll_->stop();
        return;
    }
    apply(frame);
}

bool WindowFrame::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == window_ && e->type() == QEvent::Show && !e->spontaneous()) {
        // Sized with the frame seen last before it appears; measured again once it is framed.
        apply(seenFrame());
        polls_ = 0;
        poll_->start();
    }
    return false;
}
