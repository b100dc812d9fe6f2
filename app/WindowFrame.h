#pragma once
// Window sizes given with the frame and title bar included. Qt sizes a window by its client area;
// the window manager adds its frame around that, and only it knows how thick the frame is. This
// unit keeps a dialog's outer size: the client area is the outer size less the frame, measured
// once the window manager has framed the window (without a window manager there is no frame and
// the client area is the whole size). It knows nothing of the windows' contents.
#include <QObject>
#include <QPoint>
#include <QSize>
#include <optional>

class QWidget;
class QTimer;

class WindowFrame : public QObject {
    Q_OBJECT
public:
    enum class Resizing { Sizeable, Fixed };
    // Where the frame's top left corner goes: centred on the screen, or at a screen point.
    using Place = std::optional<QPoint>;

    // Gives window the outer size (frame included) and place, kept at every showing.
    static WindowFrame* keep(QWidget* window, QSize outer, Resizing resizing, Place place = std::nullopt);

    // The frame the window manager last drew around a window of this program (all zero before
    // one was seen, or without a window manager).
    static QMargins lastFrame();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    WindowFrame(QWidget* window, QSize outer, Resizing resizing, Place place);
    void apply(const QMargins& frame);
    void measure();
    QPoint corner() const;

    QWidget* window_;
    QSize outer_;
    Resizing resizing_;
    Place place_;
    QTimer* poll_;
    int polls_ = 0;
};
