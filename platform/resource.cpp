#include "platform/resource.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <map>
#include <memory>
#include <mutex>

#include "platform/kernel.h"

namespace win {
namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string IdText(LPCSTR p) {
    if (IS_INTRESOURCE(p))
        return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(p));
    std::string s = Upper(p);
    // "#0042" names resource 42, as a number would.
    if (s.size() > 1 && s[0] == '#' && s.find_first_not_of("0123456789", 1) == std::string::npos)
        return "#" + std::to_string(std::stoul(s.substr(1)));
    return s;
}

std::string TypeText(LPCSTR type) {
    if (IS_INTRESOURCE(type)) {
        switch (reinterpret_cast<ULONG_PTR>(type)) {
            case 2:
                return "BITMAP";
            case 3:
            case 14:
                return "ICON";
            case 10:
                return "RCDATA";
            default:
                break;
        }
    }
    return IdText(type);
}

// A resource's bytes, read once and kept: callers hold raw pointers into them.
struct Loaded {
    QByteArray data;
};

std::mutex loadedLock;  // guards `loaded`
std::map<std::string, std::unique_ptr<Loaded>> loaded;

}  // namespace

std::string ResourcePath(LPCSTR name, LPCSTR type) {
    if (!name || !type)
        return {};
    return ":/win32/" + TypeText(type) + "/" + IdText(name);
}

HRSRC FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
    const std::string path = ResourcePath(name, type);
    std::lock_guard lock(loadedLock);
    if (auto it = loaded.find(path); it != loaded.end())
        return it->second.get();
    QFile file(QString::fromStdString(path));
    if (path.empty() || !file.open(QIODevice::ReadOnly)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto entry = std::make_unique<Loaded>();
    entry->data = file.readAll();
    return loaded.emplace(path, std::move(entry)).first->second.get();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource ? static_cast<DWORD>(static_cast<const Loaded*>(resource)->data.size()) : 0;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    return resource;
}

LPCSTR LockResource(HGLOBAL data) {
    return data ? static_cast<const Loaded*>(data)->data.constData() : nullptr;
}

}  // namespace win
