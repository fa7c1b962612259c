#pragma once
// The skin: one blue-glass look for our title bars, frames and buttons, and
// the font of forms and controls.
//
// The font asked for is "MS Sans Serif" 8 pt; its stand-in is DejaVu Sans at a
// fixed pixel size (so nothing scales with the system's font settings), which
// keeps the captions inside the sizes the layouts give them.
//
// Threads: main thread only (widgets and painters).

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QPainter;
class QWidget;

namespace fw::skin {

// The controls' font: "MS Sans Serif" 8 pt's stand-in.
QFont ControlFont();

// Colours of the title bar (active and inactive) and the client area.
QColor CaptionColor(bool active);
QColor CaptionTextColor();
QColor FaceColor();

// Gives a form's widgets the skin: font, client background, button look.
void ApplyToForm(QWidget* frame, QWidget* client);

// The system buttons of a window `width` pixels wide, in window coordinates:
// close at the right, maximise and minimise to its left, each one caption
// button wide; the window icon (which opens the system menu) at the left.
QRect CloseBoxRect(int width);
QRect MaximizeBoxRect(int width);
QRect MinimizeBoxRect(int width);
QRect IconRect();

// What the title bar shows.
struct TitleBar {
    bool icon = false;  // the system-menu icon
    bool closeBox = false;
    bool minimizeBox = false;
    bool maximizeBox = false;
    bool zoomed = false;  // the maximise box shows "restore"
    bool closePressed = false;
};

// Paints frame and title bar of a window of the given size (window
// coordinates).
void PaintFormFrame(QPainter& painter, int width, int height, const QString& caption, bool active,
                    const TitleBar& bar);

}  // namespace fw::skin
