#pragma once
// The registry's private parts, shared by its three areas:
// - registry.cpp: key handles and the calls themselves;
// - registry_hive.cpp: key names, the hive files (one text file per root),
//   and the locked read-change-replace round of every write;
// - registry_autostart.cpp: the start-up key, whose values are freedesktop
//   autostart entries.
//
// Locks: the handle table has its own mutex (registry.cpp); a hive's round
// holds the hive's lock file for its whole length. Neither is taken while the
// other is held.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace win::reg {

enum class Root { ClassesRoot, CurrentUser, LocalMachine };

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// An open key: its root, its path from the root ("" for the root itself) as
// the caller spelled it, and whether it was opened for writing.
struct OpenKey {
    Root root;
    std::string path;
    bool write;
};

// True when two key or value names are the same without regard to case
// (ASCII and other letters alike).
bool SameName(std::string_view a, std::string_view b);

// True when `key` is `ancestor` or below it.
bool IsAtOrBelow(std::string_view key, std::string_view ancestor);

// ---------------------------------------------------------------------------
// Hive text

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

// A line of a key: a value, or text kept as it was (a comment, a damaged line).
struct Item {
    std::optional<Value> value;
    std::string raw;
};

struct Key {
    std::string path;
    std::vector<Item> items;
};

struct Hive {
    std::vector<std::string> preamble;  // lines before the first key, kept
    std::vector<Key> keys;

    Key* Find(std::string_view path) {
        for (Key& k : keys) {
            if (SameName(k.path, path))
                return &k;
        }
        return nullptr;
    }
    bool Exists(std::string_view path) const {
        if (path.empty())
            return true;
        return std::any_of(keys.begin(), keys.end(),
                           [&](const Key& k) { return IsAtOrBelow(k.path, path); });
    }
};

// ---------------------------------------------------------------------------
// Names and folders (registry_hive.cpp)

// A key path without leading, trailing or doubled backslashes; nullopt for a
// name that cannot stand on a hive line.
std::optional<std::string> CleanPath(std::string_view path);

std::string JoinPath(const std::string& parent, const std::string& sub);

// The configuration folder that holds a root's files: the user's, or the
// machine's (the first of $XDG_CONFIG_DIRS).
std::string ConfigFolder(Root root);

// Machine-wide files must be readable by every user; the user's own are private.
unsigned FileMode(Root root);

std::string FolderOf(const std::string& path);

// Whether the caller may write in the folder that will hold path (the nearest
// folder that exists, when the folder is still to be made).
bool FolderWritable(const std::string& path);

// The registry's answer for an errno.
LONG Code(int err);

// ---------------------------------------------------------------------------
// Reading and changing a hive (registry_hive.cpp)

// 0 with the hive as it is on disk (empty when there is none), or the errno.
int LoadHive(Root root, Hive& hive);

// The whole round of a write: the hive's lock, then load, change, replace.
// `change` returns false when it changed nothing (nothing is written then) or
// sets its second argument to the call's answer. ERROR_ACCESS_DENIED where
// the caller cannot write.
LONG ChangeHive(Root root, const std::function<bool(Hive&, LONG&)>& change);

Value* FindValue(Key& key, std::string_view name);

// Whether the caller may write the hive of this root (where it is, or where
// it would be made).
bool HiveWritable(Root root);

// ---------------------------------------------------------------------------
// The start-up key (registry_autostart.cpp)

bool IsRunKey(const OpenKey& key);

// Where a root's autostart entries live.
std::string AutostartFolder(Root root);

LONG QueryAutostart(const OpenKey& key, std::string_view name, DWORD& type, std::string& data);
LONG SetAutostart(const OpenKey& key, std::string_view name, DWORD type, std::string_view data);
LONG DeleteAutostart(const OpenKey& key, std::string_view name);

}  // namespace win::reg
