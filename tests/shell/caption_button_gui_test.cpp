// Caption buttons on a real X display (Xvfb), driven with xdotool as a user
// drives the mouse: clicks, a press dragged off the button, double clicks on
// a button and on the caption, right clicks, the system menu (right click on
// the caption, Alt+Space, the title bar's icon), and a popup menu that
// closes on a click elsewhere while the timer keeps ticking. The title bar
// with its buttons is kept as a picture (caption_buttons.png) beside the test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <map>
#include <string>

#include "tests/support/line_process.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/xvfb_display.h"

namespace {

QString ShotPath() {
    const QString shot = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("caption_buttons.png");
    QFile::remove(shot);
    return shot;
}

QProcessEnvironment DriverEnvironment(const XvfbDisplay& display) {
    QProcessEnvironment env = display.Environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
}

// The driver program: its report lines, plus the display it runs on.
class Driver : public LineProcess {
public:
    explicit Driver(const XvfbDisplay& display)
        : LineProcess(DriverEnvironment(display), QUILVANE_DRIVER, {ShotPath()}),
          display_(display),
          shot_(QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("caption_buttons.png")) {}

    bool Xdo(const QStringList& args) {
        const auto r = display_.Run("xdotool", args);
        return r.finished && r.exitCode == 0;
    }
    const QString& Shot() const { return shot_; }

    // The pixels of a screen rectangle.
    QImage Grab(int x, int y, int w, int h) {
        const QString file = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath("caption_grab.png");
        const auto r = display_.Run(
            "import",
            {"-window", "root", "-crop", QString("%1x%2+%3+%4").arg(w).arg(h).arg(x).arg(y), file});
        return r.exitCode == 0 ? QImage(file).convertToFormat(QImage::Format_RGB32) : QImage();
    }

private:
    const XvfbDisplay& display_;
    QString shot_;
};

struct Point {
    int x = 0, y = 0;
};

Point Parse(const std::string& s) {
    Point p;
    std::sscanf(s.c_str(), "%d %d", &p.x, &p.y);
    return p;
}

TEST(CaptionButtonsOnXvfb, UserMouseOnTheButtonsTheCaptionAndAPopupMenu) {
    for (const char* tool : {"xdotool", "import"})
        if (!XvfbDisplay::HaveProgram(tool))
            QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
    XvfbDisplay display;
    if (!display.Ok())
        QUILVANE_SKIP_OR_FAIL(display.Error().toStdString());
    Driver d(display);
    ASSERT_TRUE(d.Started());
    Point button[3];
    for (int i = 0; i < 3; ++i) {
        const std::string at = d.WaitFor("button " + std::to_string(i) + " ");
        ASSERT_NE(at, "?") << "the window did not report its buttons";
        button[i] = Parse(at);
    }
    const Point icon = Parse(d.WaitFor("icon "));
    const Point caption = Parse(d.WaitFor("caption "));
    EXPECT_GT(button[0].x, button[1].x);  // index 0 stands next to the system buttons
    EXPECT_GT(button[1].x, button[2].x);
    EXPECT_TRUE(QFile::exists(d.Shot())) << "no picture of the title bar";
    auto move = [&](Point p) {
        return d.Xdo({"mousemove", "--sync", QString::number(p.x), QString::number(p.y)});
    };

    // Resting on a button shows its hint.
    ASSERT_TRUE(move(button[2]));
    EXPECT_EQ(d.WaitFor("tooltip "), "Auto upgrade");

    // A click raises the click.
    ASSERT_TRUE(move(button[1]));
    ASSERT_TRUE(d.Xdo({"click", "1"}));
    EXPECT_EQ(d.WaitFor("click "), "1");

    // Press, drag into the client area, release: no click, drawn released,
    // and the pixels are those of the untouched button.
    const QImage before = d.Grab(button[0].x - 9, button[0].y - 7, 16, 14);
    // The button is painted over the title bar: button 0 has the red XP look,
    // a colour the skin's blue title bar has nowhere.
    int red = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x) {
            const QColor c = before.pixelColor(x, y);
            red += c.red() > 150 && c.red() > c.blue() + 60 && c.red() > c.green() + 60;
        }
    EXPECT_GT(red, before.width() * before.height() / 4) << "the button is not drawn";
    ASSERT_TRUE(move(button[0]));
    ASSERT_TRUE(d.Xdo({"mousedown", "1"}));
    ASSERT_TRUE(move(Point{button[0].x - 40, button[0].y + 60}));
    ASSERT_TRUE(d.Xdo({"mouseup", "1"}));
    EXPECT_EQ(d.WaitFor("up "), "0 0 0");
    for (const std::string& line : d.Drain())
        EXPECT_NE(line.rfind("click", 0), 0u) << line;
    EXPECT_EQ(d.Grab(button[0].x - 9, button[0].y - 7, 16, 14), before)
        << "the button is not drawn released";

    // A double click on a button gives two clicks.
    ASSERT_TRUE(move(button[1]));
    ASSERT_TRUE(d.Xdo({"click", "--repeat", "2", "--delay", "60", "1"}));
    EXPECT_EQ(d.WaitFor("click "), "1");
    EXPECT_EQ(d.WaitFor("click "), "1");

    // A double click on the caption maximises, and another restores.
    ASSERT_TRUE(move(caption));
    ASSERT_TRUE(d.Xdo({"click", "--repeat", "2", "--delay", "60", "1"}));
    EXPECT_EQ(d.WaitFor("captiondbl "), "1");
    ASSERT_TRUE(move(Point{50, 3 + 8}));  // the maximised window's caption
    ASSERT_TRUE(d.Xdo({"click", "--repeat", "2", "--delay", "60", "1"}));
    EXPECT_EQ(d.WaitFor("captiondbl "), "0");

    // A right click on a button does nothing and opens no system menu; one
    // on the caption opens it (and Escape closes it).
    ASSERT_TRUE(move(button[1]));
    ASSERT_TRUE(d.Xdo({"click", "3"}));
    for (const std::string& line : d.Drain(600)) {
        EXPECT_NE(line.rfind("click", 0), 0u) << line;
        EXPECT_NE(line, "initmenu");
    }
    ASSERT_TRUE(move(caption));
    ASSERT_TRUE(d.Xdo({"click", "3"}));
    EXPECT_EQ(d.WaitFor("initmenu"), "");
    ASSERT_TRUE(d.Xdo({"key", "Escape"}));
    EXPECT_GE(d.Count("tick", 600), 1);

    // Alt+Space and a click on the title bar's icon open it too.
    ASSERT_TRUE(move(Point{caption.x, caption.y + 40}));
    ASSERT_TRUE(d.Xdo({"key", "alt+space"}));
    EXPECT_EQ(d.WaitFor("initmenu"), "") << "Alt+Space opened no system menu";
    ASSERT_TRUE(d.Xdo({"key", "Escape"}));
    EXPECT_GE(d.Count("tick", 400), 1);
    ASSERT_TRUE(move(icon));
    ASSERT_TRUE(d.Xdo({"click", "1"}));
    EXPECT_EQ(d.WaitFor("initmenu"), "") << "the icon opened no system menu";
    ASSERT_TRUE(d.Xdo({"key", "Escape"}));
    EXPECT_GE(d.Count("tick", 400), 1);

    // The popup menu opens at the cursor; the timer goes on while it is open;
    // a click elsewhere closes it without a command.
    ASSERT_TRUE(move(button[2]));
    ASSERT_TRUE(d.Xdo({"click", "1"}));
    EXPECT_EQ(d.WaitFor("click "), "2");
    const Point at = Parse(d.WaitFor("popup "));
    EXPECT_EQ(at.x, button[2].x);
    EXPECT_EQ(at.y, button[2].y);
    EXPECT_GE(d.Count("tick", 1000), 3) << "the timer stopped while the menu was open";
    const QImage menuArea = d.Grab(at.x + 4, at.y + 4, 40, 20);
    ASSERT_TRUE(move(Point{700, 600}));
    ASSERT_TRUE(d.Xdo({"click", "1"}));
    EXPECT_EQ(d.WaitFor("popupdone"), "");
    EXPECT_NE(d.Grab(at.x + 4, at.y + 4, 40, 20), menuArea) << "the menu did not close";
}

}  // namespace
