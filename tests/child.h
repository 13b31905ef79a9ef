// Runs a program as a child process, for tests of what it does from outside.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <map>

// Exit status, or -1000 when it did not end in time, -2000 when it crashed. `env` entries
// with an empty value are removed from the environment.
inline int runProgram(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                      int timeoutMs = 10000, const std::map<QString, QString>& envOverride = {}) {
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const auto& [k, v] : envOverride) {
        if (v.isEmpty())
            env.remove(k);
        else
            env.insert(k, v);
    }
    p.setProcessEnvironment(env);
    p.start();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1000;
    }
    if (out) *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2000;
}
