// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a test process started and is still running once its cases are done. As the subreaper of all it
// starts, it gets back orphans (a shell's background job) instead of init: its children are all it started.

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

struct ChildProcess {
    pid_t pid = 0;
    QString commandLine;
};

// Before anything is started.
inline bool adoptOrphans() {
    return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

// Children still running; one ended and waiting to be collected does not count.
inline QList<ChildProcess> runningChildren() {
    QList<ChildProcess> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const pid_t pid = entry.toInt(&numeric);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!numeric || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields.at(0) == "Z" || fields.at(1).toInt() != ::getpid())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        const QByteArray words = cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll() : QByteArray();
        children.append({pid, QString::fromLocal8Bit(words).replace(QChar(0), QChar(u' ')).trimmed()});
    }
    return children;
}

// So that a check that found them leaves nothing behind either.
inline void endChildren(const QList<ChildProcess>& children) {
    for (const ChildProcess& child : children) {
        ::kill(child.pid, SIGKILL);
        ::waitpid(child.pid, nullptr, 0);
    }
}

// Nothing a suite started may outlive it: an emulator left behind keeps its port and network namespace.
inline bool nothingLeftRunning() {
    const QList<ChildProcess> left = runningChildren();
    for (const ChildProcess& child : left)
        std::fprintf(stderr, "FAIL!  : still running after the suite, now ended: %s (pid %d)\n",
                     qPrintable(child.commandLine), int(child.pid));
    endChildren(left);
    return left.isEmpty();
}

} // namespace testsupport
