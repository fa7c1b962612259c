// Registry: key handles and the calls, over the hives and the start-up key.

#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/registry_internal.h"

namespace win {

using namespace reg;

namespace {

// Open keys by handle number. Handles count up from 1 and stay far below the
// predefined roots (0x80000000...).
std::mutex g_keysLock;  // guards g_keys and g_nextKey
std::map<ULONG_PTR, std::unique_ptr<OpenKey>> g_keys;
ULONG_PTR g_nextKey = 1;

std::optional<Root> PredefinedRoot(HKEY key) {
    if (key == HKEY_CLASSES_ROOT)
        return Root::ClassesRoot;
    if (key == HKEY_CURRENT_USER)
        return Root::CurrentUser;
    if (key == HKEY_LOCAL_MACHINE)
        return Root::LocalMachine;
    return std::nullopt;
}

// The key a handle stands for (a copy: another thread may close it).
std::optional<OpenKey> Lookup(HKEY key) {
    if (const auto root = PredefinedRoot(key))
        return OpenKey{*root, {}, true};
    std::lock_guard guard(g_keysLock);
    const auto it = g_keys.find(reinterpret_cast<ULONG_PTR>(key));
    if (it == g_keys.end())
        return std::nullopt;
    return *it->second;
}

// The key of a handle that was opened for writing; else nullopt and why.
std::optional<OpenKey> LookupForWriting(HKEY key, LONG& refused) {
    auto open = Lookup(key);
    refused = !open ? ERROR_INVALID_HANDLE : !open->write ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    return refused == ERROR_SUCCESS ? open : std::nullopt;
}

HKEY AddKey(OpenKey key) {
    std::lock_guard guard(g_keysLock);
    const ULONG_PTR number = g_nextKey++;
    g_keys.emplace(number, std::make_unique<OpenKey>(std::move(key)));
    return reinterpret_cast<HKEY>(number);
}

LONG OpenOrCreate(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult,
                  LPDWORD lpdwDisposition, bool create) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const auto parent = Lookup(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    const auto sub = CleanPath(lpSubKey ? lpSubKey : "");
    if (!sub)
        return ERROR_INVALID_PARAMETER;
    OpenKey key{parent->root, JoinPath(parent->path, *sub),
                (samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0};
    const bool virtualKey = IsRunKey(key) || key.path.empty() || IsAtOrBelow(kRunKey, key.path);
    Hive hive;
    if (const int err = LoadHive(key.root, hive); err && !virtualKey)
        return Code(err);
    bool exists = virtualKey || hive.Exists(key.path);
    if (!exists && !create)
        return ERROR_FILE_NOT_FOUND;
    if (key.write && !(IsRunKey(key) ? FolderWritable(AutostartFolder(key.root) + "/x")
                                     : HiveWritable(key.root)))
        return ERROR_ACCESS_DENIED;
    if (!exists) {
        const LONG rc = ChangeHive(key.root, [&](Hive& h, LONG&) {
            exists = h.Exists(key.path);
            if (!exists)
                h.keys.push_back({key.path, {}});
            return !exists;
        });
        if (rc != ERROR_SUCCESS)
            return rc;
        if (lpdwDisposition)
            *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    } else if (lpdwDisposition) {
        *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    }
    *phkResult = AddKey(std::move(key));
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition, true);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
    return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, nullptr, false);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    const auto key = Lookup(hKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    const std::string_view name = lpValueName ? lpValueName : "";
    DWORD type = REG_NONE;
    std::string data;
    if (IsRunKey(*key) && !name.empty()) {
        if (const LONG rc = QueryAutostart(*key, name, type, data))
            return rc;
    } else {
        Hive hive;
        if (const int err = LoadHive(key->root, hive))
            return Code(err);
        Key* k = hive.Find(key->path);
        const Value* v = k ? FindValue(*k, name) : nullptr;
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        type = v->type;
        data = v->data;
    }
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(data.size());
    const bool fits = *lpcbData >= size;
    *lpcbData = size;
    if (!lpData)
        return ERROR_SUCCESS;
    if (!fits)
        return ERROR_MORE_DATA;
    std::memcpy(lpData, data.data(), size);
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                   LPDWORD /*lpReserved*/, LPSTR /*lpClass*/, LPDWORD /*lpcchClass*/,
                   void* /*lpftLastWriteTime*/) {
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    const auto key = Lookup(hKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    const auto parent = CleanPath(key->path);
    if (!parent)
        return ERROR_FILE_NOT_FOUND;
    Hive hive;
    if (const int err = LoadHive(key->root, hive))
        return Code(err);
    std::vector<std::string> children;
    for (const Key& k : hive.keys) {
        if (k.path.size() <= parent->size() || !IsAtOrBelow(k.path, *parent))
            continue;
        const std::size_t from = parent->empty() ? 0 : parent->size() + 1;
        const std::string name = k.path.substr(from, k.path.find('\\', from) - from);
        if (std::none_of(children.begin(), children.end(),
                         [&](const std::string& c) { return SameName(c, name); }))
            children.push_back(name);
    }
    if (dwIndex >= children.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& name = children[dwIndex];
    if (*lpcchName <= name.size()) {
        *lpcchName = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    LONG refused = ERROR_SUCCESS;
    const auto key = LookupForWriting(hKey, refused);
    if (!key)
        return refused;
    const std::string name = lpValueName ? lpValueName : "";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return ERROR_INVALID_PARAMETER;
    }
    const std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    if (IsRunKey(*key) && !name.empty())
        return SetAutostart(*key, name, dwType, data);
    return ChangeHive(key->root, [&](Hive& hive, LONG&) {
        Key* k = hive.Find(key->path);
        if (!k) {
            hive.keys.push_back({key->path, {}});
            k = &hive.keys.back();
        }
        Value* v = FindValue(*k, name);
        if (v) {
            v->type = dwType;
            v->data = data;
        } else {
            k->items.push_back({Value{name, dwType, data}, {}});
        }
        return true;
    });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    LONG refused = ERROR_SUCCESS;
    const auto key = LookupForWriting(hKey, refused);
    if (!key)
        return refused;
    const std::string name = lpValueName ? lpValueName : "";
    if (IsRunKey(*key) && !name.empty())
        return DeleteAutostart(*key, name);
    return ChangeHive(key->root, [&](Hive& hive, LONG& result) {
        Key* k = hive.Find(key->path);
        if (!k || !FindValue(*k, name)) {
            result = ERROR_FILE_NOT_FOUND;
            return false;
        }
        std::erase_if(k->items, [&](const Item& item) {
            return item.value && SameName(item.value->name, name);
        });
        return true;
    });
}

LONG RegCloseKey(HKEY hKey) {
    if (PredefinedRoot(hKey))
        return ERROR_SUCCESS;
    std::lock_guard guard(g_keysLock);
    return g_keys.erase(reinterpret_cast<ULONG_PTR>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace win
