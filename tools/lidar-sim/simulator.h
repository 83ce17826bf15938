#pragma once
// The simulated lidar: one pseudo-terminal (or one client of a Unix socket) served by a single-threaded poll loop, with a queue
// of timed actions for paced and delayed output.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>
#include <map>

#include "simcontent.h"
#include "simframes.h"
#include "simoptions.h"

namespace lidarsim {

class Simulator
{
public:
    explicit Simulator(const SimOptions &options);
    ~Simulator();

    // Opens the pty pair (or the listening socket) and the events file; false with a sentence
    // in error.
    bool open(QString &error);
    QString slavePath() const { return slavePath_; }
    // Serves until a termination signal or the port vanishes; returns the exit code.
    int run();

    // Signal handlers only write a byte to this pipe; the loop does the rest.
    static void installSignalHandlers();

private:
    using Action = std::function<void()>;

    qint64 now() const { return clock_.elapsed(); }
    void at(qint64 due, Action action);
    void logEvent(const char *kind, const QString &text);
    void state(const QString &text);
    void note(const QString &text);

    bool openTerminal(QString &error);
    bool openSocket(QString &error);
    void acceptClient();
    void dropClient();
    void readMaster();
    void flushOutput();
    void send(const QByteArray &bytes);
    void handle(const Received &unit);
    void handleFrame(const Received &frame);
    void handleKey(char key);
    // Sends the reply to a command, bent by the first fault rule that applies to code.
    void reply(const QString &code, const QByteArray &bytes);
    // Returns the fault rule to apply now for code, or nullptr.
    FaultRule *takeFault(const QString &code);

    QByteArray identifyReply() const;
    QByteArray queryReply(quint8 param, quint8 value) const;
    bool framedDiag() const;
    int liveFormat() const;

    void startDump(const QString &faultCode);
    void dumpTick();
    void leaveDiag();
    void startLive();
    void stopLive();
    void liveTick(quint64 generation);
    void vanish();

    SimOptions opts_;
    QElapsedTimer clock_;
    QFile events_;
    int master_ = -1;
    int slave_ = -1;
    int listener_ = -1;  // socket mode: the listening socket; master_ is the client then
    QString slavePath_;
    QByteArray output_;
    FrameSplitter splitter_;
    std::multimap<qint64, Action> timers_;
    bool quit_ = false;
    int exitCode_ = 0;

    bool remote_ = false;
    bool diag_ = false;
    int keyStep_ = 0;
    int enterAttempts_ = 0;
    quint8 config_ = 0;
    QByteArray log_;

    bool dumping_ = false;
    quint64 dumpGeneration_ = 0;
    QByteArray dumpData_;
    qint64 dumpStart_ = 0;
    int dumpSent_ = 0;

    bool live_ = false;
    quint64 liveGeneration_ = 0;
    int liveSent_ = 0;
    Random random_;
};

}  // namespace lidarsim
