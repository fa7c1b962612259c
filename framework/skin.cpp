#include "framework/skin.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include "framework/form.h"

namespace fw::skin {
namespace {

// Blue glass: a light top half over a deeper bottom half, as a lit pane.
QLinearGradient Glass(QRect r, QColor base) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, base.lighter(165));
    g.setColorAt(0.49, base.lighter(125));
    g.setColorAt(0.5, base);
    g.setColorAt(1.0, base.lighter(115));
    return g;
}

const char* const kButtonSheet = R"(
QPushButton {
    color: #10204a;
    border: 1px solid #2b4a8c;
    border-radius: 3px;
    padding: 0px 2px;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
        stop:0 #f4f8ff, stop:0.49 #d6e4fa, stop:0.5 #b9cff2, stop:1 #dbe8fb);
}
QPushButton:hover {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
        stop:0 #ffffff, stop:0.49 #e3eefd, stop:0.5 #c8dbf7, stop:1 #e8f1fd);
}
QPushButton:pressed {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
        stop:0 #9fbbe8, stop:0.5 #86a8df, stop:1 #b5cdf1);
}
QPushButton:default { border: 2px solid #1c3a7a; }
QPushButton:focus { border: 1px dotted #10204a; }
QPushButton:disabled { color: #8490a8; border-color: #9aa7c2; }
)";

}  // namespace

QFont ControlFont() {
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// The inactive bar stays dark enough for the white caption to read.
QColor CaptionColor(bool active) {
    return active ? QColor(0x24, 0x4c, 0xa8) : QColor(0x5a, 0x6e, 0x9c);
}
QColor CaptionTextColor() {
    return QColor(Qt::white);
}
QColor FaceColor() {
    return QColor(0xdc, 0xe4, 0xf2);
}

void ApplyToForm(QWidget* frame, QWidget* client) {
    frame->setFont(ControlFont());
    frame->setStyleSheet(kButtonSheet);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, FaceColor());
    client->setPalette(pal);
}

QRect CloseBoxRect(int width) {
    return QRect(width - NCFrameWidth - NCCaptionButtonWidth, NCFrameHeight + 2,
                 NCCaptionButtonWidth - 2, NCCaptionButtonHeight - 4);
}

QRect MaximizeBoxRect(int width) {
    return CloseBoxRect(width).translated(-NCCaptionButtonWidth, 0);
}

QRect MinimizeBoxRect(int width) {
    return CloseBoxRect(width).translated(-2 * NCCaptionButtonWidth, 0);
}

QRect IconRect() {
    return QRect(NCFrameWidth + 2, NCFrameHeight + 1, 16, 16);
}

namespace {

// A glass box in the caption colour with a white sign drawn by `sign`.
template <typename F>
void PaintSystemBox(QPainter& painter, QRect box, QColor base, F sign) {
    painter.fillRect(box, Glass(box, base.lighter(115)));
    painter.setPen(base.darker(180));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(QPen(Qt::white, 2));
    sign(box.adjusted(4, 3, -4, -3));
}

}  // namespace

void PaintFormFrame(QPainter& painter, int width, int height, const QString& caption, bool active,
                    const TitleBar& titleBar) {
    const bool closeBox = titleBar.closeBox;
    const bool closePressed = titleBar.closePressed;
    painter.save();
    const QColor base = CaptionColor(active);
    // Frame: a dark outer line, the glass colour inside.
    painter.fillRect(QRect(0, 0, width, height), base);
    painter.setPen(base.darker(170));
    painter.drawRect(QRect(0, 0, width - 1, height - 1));

    const QRect bar(NCFrameWidth, NCFrameHeight, width - 2 * NCFrameWidth, NCCaptionHeight - 1);
    painter.fillRect(bar, Glass(bar, base));
    painter.setPen(base.darker(150));
    painter.drawLine(bar.left(), bar.bottom() + 1, bar.right(), bar.bottom() + 1);

    QRect textRect = bar.adjusted(4, 0, -4, 0);
    if (titleBar.icon) {
        // The window's emblem: a small drive with a green light.
        const QRect icon = IconRect().adjusted(1, 3, -1, -3);
        painter.fillRect(icon, Glass(icon, QColor(0xd8, 0xdc, 0xe4)));
        painter.setPen(QColor(0x30, 0x38, 0x48));
        painter.drawRect(icon.adjusted(0, 0, -1, -1));
        painter.fillRect(QRect(icon.right() - 4, icon.bottom() - 3, 2, 2),
                         QColor(0x20, 0xc0, 0x40));
        textRect.setLeft(IconRect().right() + 4);
    }
    if (titleBar.minimizeBox || titleBar.maximizeBox) {
        PaintSystemBox(painter, MaximizeBoxRect(width), base, [&](QRect r) {
            if (!titleBar.maximizeBox)
                painter.setPen(QPen(base.lighter(130), 2));
            if (titleBar.zoomed) {
                painter.drawRect(r.adjusted(0, 3, -3, 0));
                painter.drawLine(r.left() + 3, r.top(), r.right(), r.top());
            } else {
                painter.drawRect(r.adjusted(0, 0, -1, -1));
            }
        });
        PaintSystemBox(painter, MinimizeBoxRect(width), base, [&](QRect r) {
            if (!titleBar.minimizeBox)
                painter.setPen(QPen(base.lighter(130), 2));
            painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        });
        textRect.setRight(MinimizeBoxRect(width).left() - 4);
    }
    if (closeBox) {
        const QRect box = CloseBoxRect(width);
        if (!titleBar.minimizeBox && !titleBar.maximizeBox)
            textRect.setRight(box.left() - 4);
        QColor red(0xc8, 0x3c, 0x2c);
        painter.fillRect(box, Glass(box, closePressed ? red.darker(130) : red));
        painter.setPen(QColor(0x60, 0x10, 0x08));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        QPen cross(Qt::white, 2);
        painter.setPen(cross);
        const QRect c =
            box.adjusted(5, 4, -5, -4).translated(closePressed ? 1 : 0, closePressed ? 1 : 0);
        painter.drawLine(c.topLeft(), c.bottomRight());
        painter.drawLine(c.topRight(), c.bottomLeft());
    }

    QFont font = ControlFont();
    font.setBold(true);
    painter.setFont(font);
    const QString text =
        painter.fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width());
    // A dark shadow keeps the caption legible on the glass's light top half.
    painter.setPen(base.darker(220));
    painter.drawText(textRect.translated(1, 1),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.setPen(CaptionTextColor());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();
}

}  // namespace fw::skin
