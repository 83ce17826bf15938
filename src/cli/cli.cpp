#include "cli.h"

#include <QCoreApplication>

#include <cstdio>

namespace cli {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void CliOperator::inform(const QString &, const QString &text)
{
    ++m_messages;
    err() << text << Qt::endl;
}

bool CliOperator::ask(const QString &, const QString &text)
{
    err() << text << (m_yes ? " yes" : " no (answer with --yes)") << Qt::endl;
    return m_yes;
}

bool parseArguments(QCommandLineParser &parser, const QStringList &args, const QString &summary,
                    int *exitCode)
{
    parser.setApplicationDescription(summary);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    parser.addOption(QCommandLineOption(QStringLiteral("trace"),
                                        QStringLiteral("Writes trace lines to standard error.")));
    if (!parser.parse(args)) {
        *exitCode = usageError(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // QCommandLineParser names the program by its path; name the program and the command.
        const QString program = QCoreApplication::arguments().value(0);
        text.replace(QStringLiteral("Usage: ") + program,
                     QStringLiteral("Usage: velomark-cli ") + args.value(0));
        out() << text;
        out().flush();
        *exitCode = Success;
        return false;
    }
    return true;
}

int usageError(const QString &text)
{
    err() << "velomark-cli: " << text << Qt::endl << "Try 'velomark-cli --help'." << Qt::endl;
    return Usage;
}

}  // namespace cli
