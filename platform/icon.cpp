#include "platform/icon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/kernel.h"

namespace win {

namespace {

struct IconData {
    QIcon image;
};

// The live handles, so that a freed or foreign handle is refused.
std::mutex g_iconsLock;
std::unordered_set<IconData*> g_icons;

HICON NewHandle(QIcon image) {
    auto* d = new IconData{std::move(image)};
    std::lock_guard l(g_iconsLock);
    g_icons.insert(d);
    return d;
}

// A plain application symbol, for IDI_APPLICATION.
QIcon StockApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32}) {
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setPen(QColor(40, 40, 40));
        p.setBrush(QColor(235, 235, 235));
        p.drawRect(0, 1, size - 1, size - 3);
        p.fillRect(1, 2, size - 2, size / 5, QColor(30, 80, 190));
        p.end();
        icon.addPixmap(QPixmap::fromImage(img));
    }
    return icon;
}

}  // namespace

HICON LoadIconA(HINSTANCE, LPCSTR name) {
    if (name == IDI_APPLICATION)
        return NewHandle(StockApplicationIcon());
    HRSRC res = FindResourceA(nullptr, name, RT_ICON());
    QImage image;
    if (res) {
        const char* data = LockResource(LoadResource(nullptr, res));
        image = QImage::fromData(reinterpret_cast<const uchar*>(data),
                                 static_cast<int>(SizeofResource(nullptr, res)));
    }
    if (image.isNull()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return NewHandle(QIcon(QPixmap::fromImage(image)));
}

HICON CopyIcon(HICON icon) {
    const QIcon image = IconImage(icon);
    if (image.isNull()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return NewHandle(image);
}

BOOL DestroyIcon(HICON icon) {
    auto* d = static_cast<IconData*>(icon);
    {
        std::lock_guard l(g_iconsLock);
        if (!g_icons.erase(d)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete d;
    return TRUE;
}

HICON CreateIconFromImage(const QIcon& image) {
    return image.isNull() ? nullptr : NewHandle(image);
}

QIcon IconImage(HICON icon) {
    auto* d = static_cast<IconData*>(icon);
    std::lock_guard l(g_iconsLock);
    return g_icons.count(d) ? d->image : QIcon();
}

}  // namespace win
