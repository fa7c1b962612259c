// A window with three caption buttons for the tests on a real display. It
// reports on stdout, one line each:
//   button <index> <x> <y>     the screen centre of each button, once shown
//   caption <x> <y>            a point on the caption away from the buttons
//   icon <x> <y>               the title bar's icon (opens the system menu)
//   click <index>              a button's click
//   captiondbl <zoomed>        a double click on the caption, and whether the
//                              window is maximised after it
//   initmenu                   the window's system menu is being opened
//   tick                       the 200 ms timer ticked
//   popup <x> <y>              button 2's popup menu is about to open there
//   popupdone                  the popup menu has closed
//   up <p0> <p1> <p2>          a left button release reached the window, and
//                              whether each button is drawn pressed after it
//   tooltip <text>             a tooltip was shown with that text
// and, when a path is given, saves a picture of its title bar there.
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <string>

#include "framework/application.h"
#include "framework/form.h"
#include "framework/menus.h"
#include "framework/timer.h"
#include "platform/menu.h"
#include "platform/metrics.h"
#include "platform/window_pos.h"
#include "shell/caption_button.h"

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Reports what the window's procedure chain carries that the test waits for;
// made after the buttons, so it sees each message after they did.
class Watch : public TacHFormHookComponentWatchCaption {
public:
    Watch(fw::TComponent* owner, TacCaptionButton** buttons)
        : TacHFormHookComponentWatchCaption(owner), buttons_(buttons) {}

protected:
    void AfterMessage(fw::TMessage& m) override {
        TacHFormHookComponentWatchCaption::AfterMessage(m);
        if (m.Msg == win::WM_INITMENUPOPUP)
            Say("initmenu");
        if (m.Msg == win::WM_LBUTTONUP || m.Msg == win::WM_NCLBUTTONUP) {
            std::string line = "up";
            for (int i = 0; i < 3; ++i)
                line += buttons_[i]->DrawnPressed() ? " 1" : " 0";
            Say(line);
        }
    }
    void CaptionChanged() override {}

private:
    TacCaptionButton** buttons_;
};

class DriverForm : public fw::TForm {
public:
    explicit DriverForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Caption buttons");
        SetBorderIcons({fw::biSystemMenu, fw::biMinimize, fw::biMaximize});
        SetBounds(100, 100, 420, 160);
        const char* hints[] = {"Minimize to System Tray", "Auto-run at StartUp", "Auto upgrade"};
        for (int i = 0; i < 3; ++i) {
            auto* b = new TacCaptionButton(this);
            b->SetBtnOrder(i);
            b->SetHint(hints[i]);
            b->OnClick = [i](fw::TObject*) { Say("click " + std::to_string(i)); };
            b->OnCaptionDblClick = [this, i](fw::TObject*) {
                if (i == 0)
                    Say("captiondbl " + std::to_string(win::IsZoomed(Handle()) ? 1 : 0));
            };
            buttons[i] = b;
        }
        new Watch(this, buttons);
        buttons[0]->SetXPStyleColor(xpcRed);
        buttons[0]->Glyph()->LoadFromResourceName("ACCB_MINIMIZETOTRAY");
        buttons[1]->Glyph()->LoadFromResourceName("ACCB_AUTORUN_ENABLED");
        buttons[2]->Glyph()->LoadFromResourceName("ACCB_AUTOUPGRADE");
        menu = new fw::TPopupMenu(this);
        for (const char* caption : {"&Check now", "-", "&Settings"}) {
            auto* item = new fw::TMenuItem(this);
            item->SetCaption(caption);
            menu->Items()->Add(item);
        }
        menu->OnPopup = [](fw::TObject*) {
            const QPoint p = QCursor::pos();
            Say("popup " + std::to_string(p.x()) + " " + std::to_string(p.y()));
        };
        auto* timer = new fw::TTimer(this);
        timer->SetInterval(200);
        timer->OnTimer = [](fw::TObject*) { Say("tick"); };
    }
    TacCaptionButton* buttons[3];
    fw::TPopupMenu* menu;
};

// Reports every tooltip that Qt shows.
class TooltipWatch : public QObject {
protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->inherits("QTipLabel"))
            Say("tooltip " + static_cast<QLabel*>(o)->text().toStdString());
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    fw::TApplication app;
    TooltipWatch tooltips;
    qt.installEventFilter(&tooltips);
    app.SetTitle("CaptionDriver");
    DriverForm* form = nullptr;
    app.CreateForm(&form);
    // Button 2 opens the popup menu at the cursor (its own click handler).
    form->buttons[2]->OnClick = [form](fw::TObject*) {
        Say("click 2");
        const QPoint p = QCursor::pos();
        form->menu->Popup(p.x(), p.y());
        Say("popupdone");
    };
    const std::string shot = argc > 1 ? argv[1] : "";
    QTimer::singleShot(300, [form, shot] {
        form->Repaint();
        for (int i = 0; i < 3; ++i) {
            const win::RECT r = form->buttons[i]->ButtonRect();
            const int x = form->Left() + fw::NCFrameWidth + (r.left + r.right) / 2 + 1;
            const int y = form->Top() + fw::NCFrameHeight + fw::NCCaptionHeight / 2;
            Say("button " + std::to_string(i) + " " + std::to_string(x) + " " + std::to_string(y));
        }
        if (!shot.empty())
            form->Widget()
                ->grab(QRect(0, 0, form->Width(), fw::NCFrameHeight + fw::NCCaptionHeight + 2))
                .save(QString::fromStdString(shot));
        Say("icon " + std::to_string(form->Left() + fw::NCFrameWidth + 10) + " " +
            std::to_string(form->Top() + fw::NCFrameHeight + 9));
        Say("caption " + std::to_string(form->Left() + 150) + " " +
            std::to_string(form->Top() + fw::NCFrameHeight + 8));
    });
    app.Run();
    return 0;
}
