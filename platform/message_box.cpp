#include <QMessageBox>
#include <QString>

#include "platform/user.h"

namespace win {

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    QString body = QString::fromUtf8(text ? text : "");
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0) {
        case MB_ICONERROR:
            icon = QMessageBox::Critical;
            break;
        case MB_ICONQUESTION:
            icon = QMessageBox::Question;
            break;
        case MB_ICONWARNING:
            icon = QMessageBox::Warning;
            break;
        case MB_ICONINFORMATION:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    const bool yesNo = (type & 0xF) == MB_YESNO;
    QMessageBox box(icon, QString::fromUtf8(caption ? caption : ""), body,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    if (yesNo)
        box.setEscapeButton(QMessageBox::NoButton);
    const int answer = box.exec();
    return answer == QMessageBox::Yes ? IDYES : answer == QMessageBox::No ? IDNO : IDOK;
}

}  // namespace win
