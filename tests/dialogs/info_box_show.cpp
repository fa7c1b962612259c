// A small program that shows one info box and prints what Execute answered,
// for the tests that drive the box on a real display:
// (not "--title": Qt takes that one for itself on X11)
//   info_box_show [--box-title T] [--buttons 0..4] [--checkbox] [--picture] TEXT
// prints "result=<n>" and ends with status 0.
#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "dialogs/info_box.h"
#include "framework/application.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    fw::TApplication app;
    Application->SetTitle("Quilvane");
    TacInfoBox box(nullptr);
    box.SetShowCheckBox(false);
    const QStringList args = QApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--box-title" && i + 1 < args.size())
            box.SetTitle(args[++i].toStdString());
        else if (a == "--buttons" && i + 1 < args.size())
            box.SetInfoBoxButtons(static_cast<TacInfoBoxButtons>(args[++i].toInt()));
        else if (a == "--checkbox")
            box.SetShowCheckBox(true);
        else if (a == "--picture")
            box.SetPictureResID(12);
        else
            box.SetText(a.toStdString());
    }
    const fw::TModalResult result = box.Execute(true);
    std::printf("result=%d\n", result);
    std::fflush(stdout);
    return 0;
}
