#pragma once
// Runs velomark-cli ($VELOMARK_CLI) or another program for a test, and reads and writes whole
// files.
#include <QFile>
#include <QProcess>
#include <QStringList>

// The header line of a live data file.
inline const QByteArray kLiveHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct CliRun
{
    int exitCode = -1;  // -1: still running at the time-out, -2: crashed
    QByteArray out;
    QByteArray err;
    bool ok() const { return exitCode == 0; }
};

// env: extra variables as "NAME=value"; a bare "NAME" removes the variable.
inline void startProgram(QProcess &process, const QString &program, const QStringList &args, const QStringList &env = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : env) {
        if (variable.contains(QLatin1Char('=')))
            environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
        else
            environment.remove(variable);
    }
    process.setProcessEnvironment(environment);
    process.start(program, args);
}

inline CliRun finishCli(QProcess &process, int timeoutMs = 30000)
{
    CliRun run;
    if (process.waitForFinished(timeoutMs)) {
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
    }
    return run;
}

// Runs a program to its end, with `input` on its standard input.
inline CliRun runProgram(const QString &program, const QStringList &args, const QStringList &env = {},
                         const QByteArray &input = {}, int timeoutMs = 30000)
{
    QProcess process;
    startProgram(process, program, args, env);
    if (process.waitForStarted(10000))
        process.write(input);
    process.closeWriteChannel();
    return finishCli(process, timeoutMs);
}

inline void startCli(QProcess &cli, const QStringList &args, const QStringList &env = {})
{
    startProgram(cli, qEnvironmentVariable("VELOMARK_CLI"), args, env);
}

inline CliRun runCli(const QStringList &args, const QStringList &env = {})
{
    return runProgram(qEnvironmentVariable("VELOMARK_CLI"), args, env);
}
