#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>

#include <sys/types.h>
#include <unistd.h>

// The processes whose parent is parent, read from /proc: the server's mail
// reader, the reader's child of the mail in hand.
inline QList<pid_t> childProcesses(pid_t parent)
{
    QList<pid_t> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and brackets.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toInt() == parent)
            children.append(pid);
    }
    return children;
}

// What each descriptor of the process points to, by number: "/dev/null",
// "socket:[...]", "pipe:[...]".
inline QMap<int, QString> openDescriptors(pid_t pid)
{
    QMap<int, QString> descriptors;
    const QDir dir(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : dir.entryList(QDir::Files | QDir::System)) {
        char target[256];
        const ssize_t n =
            ::readlink(QFile::encodeName(dir.filePath(fd)).constData(), target, sizeof target);
        descriptors.insert(fd.toInt(), QString::fromLocal8Bit(target, n < 0 ? 0 : n));
    }
    return descriptors;
}
