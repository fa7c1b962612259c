#pragma once
// A private folder for a copy of the real program: the executable in bin/
// with its ICMP and internet libraries where it looks for them (so its settings file, beside
// it, is the caller's own) and a runtime folder of its own; and the
// environment to run it in, with home, configuration folders (the machine's
// autostart folder among them) and drives inside the folder, no session bus
// (so a tray is the XEmbed one), and every HTTP request but those to loopback
// sent to a refused loopback port: its upgrade check never leaves the machine.
//
// Threads: any.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QString>

#include "platform/module.h"

namespace quilvane_test {

// Makes the folder `root` afresh; false when a copy failed.
inline bool MakeProgramFolder(const QString& root, const QString& binary,
                              const QString& icmpLibrary) {
    QDir(root).removeRecursively();
    for (const char* sub : {"/bin", "/run", "/drives", "/xdg", "/.config"})
        QDir().mkpath(root + sub);
    const QString exe = root + "/bin/quilvane";
    const QString icmp = QString::fromStdString(win::OwnLibraryPath(exe.toStdString(), "icmp.dll"));
    QDir().mkpath(QFileInfo(icmp).path());
    // The internet library, loaded at the upgrade check, from the binary's tree.
    const QString inet =
        QString::fromStdString(win::OwnLibraryPath(exe.toStdString(), "wininet.dll"));
    const QString builtInet =
        QString::fromStdString(win::OwnLibraryPath(binary.toStdString(), "wininet.dll"));
    if (QFileInfo::exists(builtInet) && !QFile::copy(builtInet, inet))
        return false;
    return QFile::copy(binary, exe) && QFile::copy(icmpLibrary, icmp) &&
           QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner);
}

inline QProcessEnvironment ProgramEnvironment(QProcessEnvironment env, const QString& root) {
    env.insert("HOME", root);
    env.insert("XDG_CONFIG_HOME", root + "/.config");
    env.insert("XDG_CONFIG_DIRS", root + "/xdg");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    env.insert("QUILVANE_DRIVES", root + "/drives");
    env.insert("http_proxy", "http://127.0.0.1:9");
    env.insert("no_proxy", "127.0.0.1,localhost");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    return env;
}

}  // namespace quilvane_test
