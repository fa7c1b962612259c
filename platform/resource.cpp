#include "platform/resource.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <algorithm>
#include <charconv>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

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
            case 6:
                return "STRING";
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

// Every string of every table, read once.
const std::unordered_map<UINT, std::string>& Strings() {
    static const auto strings = [] {
        std::unordered_map<UINT, std::string> table;
        QDirIterator tables(QStringLiteral(":/win32/STRING"), QDir::Files);
        while (tables.hasNext()) {
            QFile file(tables.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& raw : file.readAll().split('\n')) {
                const std::string line = raw.toStdString();
                const size_t blank = line.find(' ');
                if (line.empty() || line[0] == '#' || blank == std::string::npos)
                    continue;
                UINT id = 0;
                if (std::from_chars(line.data(), line.data() + blank, id).ptr !=
                    line.data() + blank)
                    continue;
                std::string text;
                for (size_t i = blank + 1; i < line.size(); ++i) {
                    if (line[i] != '\\' || i + 1 == line.size()) {
                        text += line[i];
                        continue;
                    }
                    const char next = line[++i];
                    text += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
                }
                table[id] = std::move(text);
            }
        }
        return table;
    }();
    return strings;
}

}  // namespace

int LoadStringA(HMODULE, UINT id, LPSTR buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0)
        return 0;
    const auto& strings = Strings();
    const auto it = strings.find(id);
    if (it == strings.end()) {
        buffer[0] = '\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t n = std::min(it->second.size(), static_cast<size_t>(bufferMax - 1));
    // Never end inside a multi-byte character.
    if (n < it->second.size())
        while (n > 0 && (static_cast<unsigned char>(it->second[n]) & 0xC0) == 0x80)
            --n;
    it->second.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

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
