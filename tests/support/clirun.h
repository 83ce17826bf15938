#pragma once
// Runs velomark-cli ($VELOMARK_CLI) for a test, and reads and writes whole files.
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
    int exitCode = -1;  // -1: still running after 30 s, -2: crashed
    QByteArray out;
    QByteArray err;
};

// env: extra variables as "NAME=value".
inline void startCli(QProcess &cli, const QStringList &args, const QStringList &env = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : env)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    cli.setProcessEnvironment(environment);
    cli.start(qEnvironmentVariable("VELOMARK_CLI"), args);
}

inline CliRun finishCli(QProcess &cli)
{
    CliRun run;
    if (cli.waitForFinished(30000)) {
        run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -2;
        run.out = cli.readAllStandardOutput();
        run.err = cli.readAllStandardError();
    }
    return run;
}

inline CliRun runCli(const QStringList &args, const QStringList &env = {})
{
    QProcess cli;
    startCli(cli, args, env);
    return finishCli(cli);
}
