// varno-line: the sensors of a line on the broker, as a whole.
#include "line/commands.h"
#include "line/options.h"
#include "line/session.h"
#include "runtime/log.h"
#include "runtime/runtime.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

int main(int argc, char** argv) {
    static int engineArgc = 1;
    runtime::InitRuntimeNoDisplay(&engineArgc, argv);
    runtime::log::Install();
    // The MQTT client's own notes (connected, ...) are the gateway's words: not for a
    // command-line tool's output. Its warnings stay.
    QLoggingCategory::setFilterRules(QStringLiteral("varno.gateway.mqtt.info=false"));
    std::signal(SIGPIPE, SIG_IGN);
    line::Options o;
    std::string error;
    if (!line::ParseArgs(argc, argv, o, error)) {
        std::fprintf(stderr, "varno-line: %s\n(varno-line --help lists commands and options)\n",
                     error.c_str());
        if (o.json) line::Fail(o, stdout, line::ExitUsage, error);
        return line::ExitUsage;
    }
    if (o.command == line::Command::Help) {
        std::fputs(line::HelpText(), stdout);
        return line::ExitDone;
    }
    if (o.command == line::Command::Version) {
        std::printf("varno-line (VARNO-Redev) %s\n", VARNO_VERSION);
        return line::ExitDone;
    }
    // A recipe is checked before anything is sent.
    line::Recipe recipe;
    if ((o.command == line::Command::Apply || o.command == line::Command::Diff) &&
        !line::ReadRecipe(o.words[0], recipe, error))
        return line::Fail(o, stdout, line::ExitFile, error + "; nothing was sent");
    gateway::BrokerSettings b;
    if (!line::BrokerFrom(o, b, error)) return line::Fail(o, stdout, line::ExitFile, error);
    line::Session s(b, o.broker.prefix);
    if (!s.connect(10.0, error))
        return line::Fail(o, stdout, line::ExitFile, "broker " + o.broker.broker + ": " + error);
    int rc = line::ExitDone;
    switch (o.command) {
    case line::Command::Status:
        rc = line::CmdStatus(o, s, stdout);
        break;
    case line::Command::Save:
        rc = line::CmdSave(o, s, stdout);
        break;
    case line::Command::Diff:
        rc = line::CmdDiff(o, recipe, s, stdout);
        break;
    case line::Command::Apply:
        rc = line::CmdApply(o, recipe, s, stdout);
        break;
    default:
        rc = line::CmdYield(o, s, stdout);
        break;
    }
    s.close();
    return rc;
}
