#pragma once
// Registry area: keys and string and number values of three roots, kept in
// human-readable text files ("hives"), one per root:
//   HKEY_CURRENT_USER, HKEY_CLASSES_ROOT   $XDG_CONFIG_HOME (else ~/.config)
//                                          /<product>/registry/<root>.reg
//   HKEY_LOCAL_MACHINE                     the first folder of $XDG_CONFIG_DIRS
//                                          (else /etc/xdg)/<product>/registry/
// where <product> is ProductName(). A hive reads like a .reg file: a
// "[key\path]" line opens a key, then one line per value: "name"="text"
// (REG_SZ), "name"=dword:0000002a (REG_DWORD) or "name"=hex(type):2a,00,...;
// "@" names the key's default value. Other lines (comments, lines damaged or
// mistyped by hand) are skipped when reading and kept as they are when the
// hive is written, so a damaged hive reads as far as it is valid and a write
// never makes it worse.
//
// Key and value names compare without regard to ASCII case; leading (and
// trailing) backslashes of a key path are ignored. A key exists when the hive
// names it or a key below it.
//
// Writes are a lock (flock on "<hive>.lock") around reading, changing and
// replacing the hive, the replacement atomic (ReplaceFileContents), so two
// processes writing the same hive at once lose neither value. A hive is
// writable only where the file system lets the caller write it (the machine
// hive normally only for root); elsewhere opening a key for writing, creating
// a key and every write fail with ERROR_ACCESS_DENIED, while reads work.
//
// The start-up keys. The values of Software\Microsoft\Windows\CurrentVersion\Run
// under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are freedesktop autostart
// entries, "autostart/<value name>.desktop" in $XDG_CONFIG_HOME (else
// ~/.config) for the user and in the first $XDG_CONFIG_DIRS folder for the
// machine (bytes of the name other than letters, digits, "-", "_" and a
// non-leading "." are written %XX). Setting a value (REG_SZ or REG_EXPAND_SZ
// only) writes an entry whose Exec line is the value's command line (Windows
// quoting: "C:\a b\x.exe" /y) re-quoted by the Desktop Entry rules, so a path
// with blanks stays one argument: each argument that needs it goes in double
// quotes with ", `, $ and \ backslash-escaped, then the whole line gets the
// string escapes (\\, \n, \t, \r) and "%" becomes "%%", so GLib, `gio launch`
// and systemd's autostart generator all run exactly those arguments. A
// command line that an Exec line cannot hold so that every reader runs the
// same (bytes that are not UTF-8; a control character other than tab, line
// feed and carriage return; a backslash, which systemd's generator unescapes
// once more than GLib; a program name holding "=" that needs `env`, below) is
// refused with ERROR_BAD_PATHNAME
// and no entry is written, rather than a wrong one. A program name holding
// "%", a quote or a control character is started through `env`: GLib and
// systemd look the program up before "%%" becomes "%", and systemd starts no
// program whose name holds a quote or control character. (systemd's generator
// up to at least version 252 keeps the backslash that escapes "`" or "$" in
// the unit it writes; systemd then refuses that unit rather than run another
// program, while GLib runs the entry as written.) A hive larger than MaxHiveSize is refused
// (ERROR_FILE_TOO_LARGE for reads and writes of its keys) before it is read into memory. Reading a
// value reads the entry's Exec line back (unescaped, as the entry holds it, also for entries that
// someone else wrote; an entry marked Hidden=true counts as absent); deleting it removes the entry.
// The key always exists. RunOnce has no counterpart on the desktop (nothing runs a command once at
// the next login and forgets it): its values are kept in the hive like any other, so a program sees
// what it wrote, but nothing is started from them.
//
// Threads: any thread may call; handles may be used from any thread.

#include <cstddef>
#include <string>

#include "platform/kernel.h"
#include "platform/types.h"

namespace win {

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
struct SECURITY_ATTRIBUTES;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_BAD_PATHNAME = 161;

// The largest hive file read, as for the settings file.
constexpr std::size_t MaxHiveSize = 64u << 20;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens (or creates, with the keys above it) lpSubKey below hKey. A null or
// empty lpSubKey opens hKey itself again. *lpdwDisposition (when given) tells
// whether the key was new. ERROR_ACCESS_DENIED when the key would have to be
// created, or is asked for with write access, in a hive the caller cannot
// write.
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);

// Opens an existing key: ERROR_FILE_NOT_FOUND when it does not exist,
// ERROR_ACCESS_DENIED for write access to a hive the caller cannot write.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// The type and data of a value (null or empty name: the default value).
// Without lpData, *lpcbData (when given) is set to the data's size; with a
// buffer of fewer bytes than the data, ERROR_MORE_DATA and *lpcbData is set to
// the size needed. A REG_SZ value's data holds its terminating zero when it
// was stored with one. ERROR_FILE_NOT_FOUND when there is no such value.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);

// Stores cbData bytes as the value; needs KEY_SET_VALUE.
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);

// ERROR_FILE_NOT_FOUND when there is no such value; needs KEY_SET_VALUE.
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// The name of the dwIndex-th key directly below hKey, in the order the hive
// names them (sub-keys of the autostart key are not listed). lpcchName: in,
// the buffer's size; out, the name's length without the NUL. ERROR_MORE_DATA
// when the buffer is too small, ERROR_NO_MORE_ITEMS past the last key.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime);

// ERROR_INVALID_HANDLE for a handle that is not open.
LONG RegCloseKey(HKEY hKey);

}  // namespace win
