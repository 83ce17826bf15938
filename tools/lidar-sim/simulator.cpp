#include "simulator.h"

#include <QDateTime>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include "simcontent.h"

namespace lidarsim {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = number == SIGUSR1 ? 'U' : 'T';
    const int saved = errno;
    // Nothing but a write is safe here; the loop reads the byte and acts.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool makeRaw(int fd)
{
    termios settings;
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B57600);
    ::cfsetospeed(&settings, B57600);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// The framed DIAG and dump commands exist from firmware 9.3 on.
bool versionAtLeast93(const QByteArray &firmware)
{
    const int dot = firmware.indexOf('.');
    bool majorOk = false;
    const int major = (dot < 0 ? firmware : firmware.left(dot)).trimmed().toInt(&majorOk);
    if (!majorOk)
        return false;
    int minor = 0;
    if (dot >= 0) {
        QByteArray digits;
        for (char c : firmware.mid(dot + 1)) {
            if (c < '0' || c > '9')
                break;
            digits.append(c);
        }
        minor = digits.toInt();
    }
    return major > 9 || (major == 9 && minor >= 3);
}

}  // namespace

Simulator::Simulator(const SimOptions &options) : opts_(options), config_(options.configFlags), random_(options.seed)
{
    clock_.start();
    log_ = opts_.storedLog;
    if (opts_.demoLog > 0) {
        Random random(opts_.seed);
        log_ += demoLog(opts_.demoLog, random, QDateTime::currentDateTime());
    }
}

Simulator::~Simulator()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(QFile::encodeName(opts_.socketPath).constData());
    }
}

void Simulator::installSignalHandlers()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool Simulator::open(QString &error)
{
    if (!opts_.eventsPath.isEmpty()) {
        events_.setFileName(opts_.eventsPath);
        if (!events_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            error = QStringLiteral("cannot write %1: %2").arg(opts_.eventsPath, events_.errorString());
            return false;
        }
    }
    if (!(opts_.socketPath.isEmpty() ? openTerminal(error) : openSocket(error)))
        return false;
    state(QStringLiteral("ready %1").arg(slavePath_));
    if (opts_.vanishAfter >= 0)
        at(opts_.vanishAfter, [this] { vanish(); });
    if (opts_.liveAlways)
        startLive();
    return true;
}

bool Simulator::openSocket(QString &error)
{
    const QByteArray path = QFile::encodeName(opts_.socketPath);
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path) {
        error = QStringLiteral("socket path too long: %1").arg(opts_.socketPath);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    // A socket left by a simulator that was killed would refuse the bind.
    struct stat existing;
    if (::lstat(path.constData(), &existing) == 0 && S_ISSOCK(existing.st_mode))
        ::unlink(path.constData());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener_, 4) != 0) {
        error = systemError("socket");
        return false;
    }
    slavePath_ = opts_.socketPath;
    return true;
}

void Simulator::acceptClient()
{
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0)
        return;
    // One link at a time, as a lidar has: a second caller is turned away.
    if (master_ >= 0) {
        ::close(client);
        note(QStringLiteral("second client refused"));
        return;
    }
    master_ = client;
    state(QStringLiteral("connected"));
}

void Simulator::dropClient()
{
    ::close(master_);
    master_ = -1;
    output_.clear();
    splitter_ = FrameSplitter();
    state(QStringLiteral("disconnected"));
}

bool Simulator::openTerminal(QString &error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        error = systemError("pseudo-terminal set-up");
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable while no client has the port open.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = systemError("open slave");
        return false;
    }
    // Both ends raw, so STX, ETX, escape, line feed and XON/XOFF bytes pass unchanged.
    if (!makeRaw(slave_) || !makeRaw(master_)) {
        error = systemError("tcsetattr");
        return false;
    }
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void Simulator::at(qint64 due, Action action)
{
    timers_.emplace(due, std::move(action));
}

void Simulator::logEvent(const char *kind, const QString &text)
{
    if (!events_.isOpen())
        return;
    events_.write(QStringLiteral("%1 %2 %3\n").arg(now()).arg(QLatin1String(kind), text).toUtf8());
    events_.flush();
}

void Simulator::state(const QString &text)
{
    logEvent("STATE", text);
}

void Simulator::note(const QString &text)
{
    logEvent("NOTE", text);
}

int Simulator::run()
{
    while (!quit_) {
        while (!quit_ && !timers_.empty() && timers_.begin()->first <= now()) {
            Action action = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            action();
        }
        if (quit_)
            break;
        int timeout = -1;
        if (!timers_.empty())
            timeout = int(qBound<qint64>(0, timers_.begin()->first - now(), 60000));
        // A negative descriptor (no client yet, no listener) is skipped by poll.
        pollfd fds[3];
        fds[0].fd = master_;
        fds[0].events = short(POLLIN | (output_.isEmpty() ? 0 : POLLOUT));
        fds[0].revents = 0;
        fds[1].fd = signalPipe[0];
        fds[1].events = POLLIN;
        fds[1].revents = 0;
        fds[2].fd = listener_;
        fds[2].events = POLLIN;
        fds[2].revents = 0;
        const int ready = ::poll(fds, 3, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            note(systemError("poll"));
            return 1;
        }
        if (fds[1].revents & POLLIN) {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) == 1) {
                if (byte == 'U') {
                    vanish();
                } else {
                    state(QStringLiteral("exit"));
                    quit_ = true;
                }
            }
            if (quit_)
                break;
        }
        // A socket client's hang-up shows as a read of nothing.
        if (fds[0].revents & (listener_ >= 0 ? POLLIN | POLLHUP | POLLERR : POLLIN))
            readMaster();
        if (master_ >= 0 && (fds[0].revents & POLLOUT))
            flushOutput();
        if (fds[2].revents & POLLIN)
            acceptClient();
    }
    return exitCode_;
}

void Simulator::readMaster()
{
    char buffer[4096];
    const ssize_t count = ::read(master_, buffer, sizeof buffer);
    // The client of the socket hung up; the lidar waits for the next one.
    if (listener_ >= 0 && (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR))) {
        dropClient();
        return;
    }
    if (count <= 0)
        return;
    const QByteArray chunk(buffer, int(count));
    logEvent("RX", hexText(chunk));
    Received unit;
    for (char byte : chunk) {
        if (splitter_.feed(byte, unit))
            handle(unit);
    }
}

void Simulator::send(const QByteArray &bytes)
{
    if (bytes.isEmpty() || master_ < 0)
        return;
    output_.append(bytes);
    flushOutput();
}

void Simulator::flushOutput()
{
    while (!output_.isEmpty()) {
        const ssize_t written = ::write(master_, output_.constData(), size_t(output_.size()));
        if (written <= 0)
            return;
        logEvent("TX", hexText(output_.left(int(written))));
        output_.remove(0, int(written));
    }
}

void Simulator::handle(const Received &unit)
{
    if (unit.kind == Received::Key) {
        handleKey(unit.key);
        return;
    }
    handleFrame(unit);
}

bool Simulator::framedDiag() const
{
    return versionAtLeast93(opts_.firmware);
}

int Simulator::liveFormat() const
{
    if (opts_.liveFormat != 0)
        return opts_.liveFormat;
    // Models read the format byte as the logger does for them: some its low four bits, the
    // others its high four bits.
    const QByteArray &model = opts_.model;
    const bool lowBits = !model.contains("Orlek")
        && (model.contains("MSP:Brasko")
            || (!model.contains("RS232:RX:Brasko")
                && (model.contains("BT:RX:Brasko") || model.contains("SCI1:RX:Brasko")
                    || model.contains("SCI2:RX:Brasko") || model.contains("SCI3:RX:Brasko"))));
    const int format = lowBits ? opts_.outputFormatByte & 0x0F : qint8(opts_.outputFormatByte) >> 4;
    return format == 1 ? 1 : 3;
}

QByteArray Simulator::identifyReply() const
{
    if (opts_.hasIdentifyReply)
        return opts_.identifyReply;
    QByteArray reply = opts_.model + " Version " + opts_.firmware;
    if (opts_.hasBuild)
        reply += "\n\rBuild - " + opts_.build;
    return reply;
}

QByteArray Simulator::queryReply(quint8 param, quint8 value) const
{
    QByteArray params;
    params.append(char(param));
    params.append(char(value));
    return buildFrame(0x09, params);
}

void Simulator::handleFrame(const Received &frame)
{
    const QByteArray &content = frame.content;
    if (content.size() < 2) {
        note(QStringLiteral("frame too short: %1").arg(hexText(frame.raw)));
        return;
    }
    const quint8 code = quint8(content.at(0));
    const QByteArray params = content.mid(1, content.size() - 2);
    quint8 sum = code;
    for (char c : params)
        sum ^= quint8(c);
    // A frame with a wrong checksum is line noise to the lidar: it does not answer.
    if (sum != quint8(content.at(content.size() - 1))) {
        note(QStringLiteral("checksum error: %1").arg(hexText(frame.raw)));
        return;
    }
    if (opts_.requireRemote && !remote_ && code != 0x0B) {
        note(QStringLiteral("ignored outside remote mode: %1").arg(hexText(frame.raw)));
        return;
    }
    switch (code) {
    case 0x0B:
        remote_ = true;
        state(QStringLiteral("remote on"));
        reply(QStringLiteral("0B"), frame.raw);
        if (opts_.liveAutostart && !diag_)
            startLive();
        return;
    case 0x0C:
        remote_ = false;
        state(QStringLiteral("remote off"));
        stopLive();
        reply(QStringLiteral("0C"), frame.raw);
        return;
    case 0x1E:
        reply(QStringLiteral("1E"), identifyReply());
        return;
    case 0x09: {
        const quint8 param = params.size() == 1 ? quint8(params.at(0)) : 0;
        if (params.size() == 1 && param == 0x05) {
            reply(QStringLiteral("09:05"), queryReply(0x05, quint8(opts_.operationMode << 4)));
            return;
        }
        if (params.size() == 1 && param == 0x03) {
            reply(QStringLiteral("09:03"), queryReply(0x03, opts_.outputFormatByte));
            if (remote_ && !diag_)
                startLive();
            return;
        }
        if (params.size() == 1 && param == 0x58) {
            reply(QStringLiteral("09:58"), queryReply(0x58, config_));
            return;
        }
        break;
    }
    case 0x0A:
        if (params.size() == 2 && quint8(params.at(0)) == 0x58) {
            config_ = quint8(params.at(1));
            state(QStringLiteral("config 0x%1").arg(QString::number(config_, 16).rightJustified(2, QLatin1Char('0')).toUpper()));
            reply(QStringLiteral("0A"), frame.raw);
            return;
        }
        break;
    case 0x31:
        log_.clear();
        state(QStringLiteral("erase"));
        reply(QStringLiteral("31"), frame.raw);
        return;
    case 0x28:
    case 0x29:
        // Older firmware does not know the framed DIAG commands and stays silent.
        if (!framedDiag())
            break;
        if (code == 0x28) {
            diag_ = true;
            state(QStringLiteral("diag on"));
            stopLive();
            reply(QStringLiteral("28"), frame.raw);
        } else {
            leaveDiag();
            reply(QStringLiteral("29"), frame.raw);
        }
        return;
    case 0x34:
        if (!framedDiag())
            break;
        if (!diag_) {
            note(QStringLiteral("dump refused outside DIAG mode"));
            return;
        }
        startDump(QStringLiteral("34"));
        return;
    default:
        break;
    }
    note(QStringLiteral("unanswered frame: %1").arg(hexText(frame.raw)));
}

void Simulator::handleKey(char key)
{
    // Zero bytes are line padding and do not break the key sequence.
    if (key == 0)
        return;
    if (key == '%') {
        keyStep_ = 1;
        return;
    }
    if (key == '{' && keyStep_ == 1) {
        keyStep_ = 2;
        return;
    }
    const bool sequenceComplete = key == '<' && keyStep_ == 2;
    keyStep_ = 0;
    if (sequenceComplete) {
        if (!diag_) {
            ++enterAttempts_;
            if (enterAttempts_ < opts_.diagEnableOnAttempt) {
                note(QStringLiteral("DIAG enable refused on attempt %1").arg(enterAttempts_));
                reply(QStringLiteral("key"), "\r\nDIAG Mode Disabled\r\n");
                return;
            }
            diag_ = true;
            state(QStringLiteral("diag on"));
            stopLive();
            reply(QStringLiteral("key"), "\r\nDIAG Mode Enabled\r\n");
        } else {
            leaveDiag();
            reply(QStringLiteral("key"), opts_.noDisabledReply ? "\r\nDIAG Mode Off\r\n" : "\r\nDIAG Mode Disabled\r\n");
        }
        return;
    }
    if (key == 'Y') {
        if (framedDiag())
            note(QStringLiteral("key Y ignored by firmware %1").arg(QString::fromUtf8(opts_.firmware)));
        else if (!diag_)
            note(QStringLiteral("dump refused outside DIAG mode"));
        else
            startDump(QStringLiteral("Y"));
        return;
    }
    note(QStringLiteral("unexpected byte %1").arg(hexText(QByteArray(1, key))));
}

FaultRule *Simulator::takeFault(const QString &code)
{
    auto found = opts_.faults.find(code);
    if (found == opts_.faults.end())
        return nullptr;
    for (FaultRule &rule : *found) {
        if (rule.once && rule.used)
            continue;
        rule.used = true;
        return &rule;
    }
    return nullptr;
}

void Simulator::reply(const QString &code, const QByteArray &bytes)
{
    FaultRule *fault = takeFault(code);
    if (!fault) {
        send(bytes);
        return;
    }
    switch (fault->kind) {
    case FaultRule::Silent:
        note(QStringLiteral("fault %1: silent").arg(code));
        return;
    case FaultRule::Delay:
        note(QStringLiteral("fault %1: delay %2 ms").arg(code).arg(fault->first));
        at(now() + fault->first, [this, bytes] { send(bytes); });
        return;
    case FaultRule::Chunks: {
        note(QStringLiteral("fault %1: %2 chunks, %3 ms apart").arg(code).arg(fault->first).arg(fault->second));
        const int count = qMin(fault->first, qMax(1, bytes.size()));
        const int size = (bytes.size() + count - 1) / count;
        const qint64 start = now();
        for (int i = 0; i < count; ++i) {
            const QByteArray chunk = bytes.mid(i * size, size);
            at(start + qint64(i) * fault->second, [this, chunk] { send(chunk); });
        }
        return;
    }
    case FaultRule::Nulls:
        note(QStringLiteral("fault %1: zero bytes only").arg(code));
        send(QByteArray(qMax(1, bytes.size()), '\0'));
        return;
    case FaultRule::LeadingNulls:
        note(QStringLiteral("fault %1: %2 leading zero bytes").arg(code).arg(fault->first));
        send(QByteArray(fault->first, '\0') + bytes);
        return;
    case FaultRule::Embed:
        note(QStringLiteral("fault %1: reply inside other text").arg(code));
        send("xx" + bytes + "yy");
        return;
    case FaultRule::WrongEcho: {
        note(QStringLiteral("fault %1: wrong echo").arg(code));
        const quint8 original = bytes.size() >= 2 && bytes.at(0) == kStx ? quint8(bytes.at(1)) : 0x1E;
        send(buildFrame(original ^ 0x01, QByteArray()));
        return;
    }
    case FaultRule::Short:
        note(QStringLiteral("fault %1: first %2 bytes only").arg(code).arg(fault->first));
        send(bytes.left(fault->first));
        return;
    case FaultRule::Malformed: {
        note(QStringLiteral("fault %1: malformed reply").arg(code));
        QByteArray broken = bytes;
        if (broken.size() > 2)
            broken[2] = char(0x7E);
        send(broken);
        return;
    }
    case FaultRule::Late:
        note(QStringLiteral("fault %1: garbage after %2 ms").arg(code).arg(fault->first));
        send(bytes);
        at(now() + fault->first, [this] { send(QByteArray("\x55\xAA late", 7)); });
        return;
    }
}

void Simulator::startDump(const QString &faultCode)
{
    FaultRule *fault = takeFault(faultCode);
    qint64 due = now();
    if (fault && fault->kind == FaultRule::Silent) {
        note(QStringLiteral("fault %1: no dump").arg(faultCode));
        return;
    }
    if (fault && fault->kind == FaultRule::Delay) {
        note(QStringLiteral("fault %1: dump after %2 ms").arg(faultCode).arg(fault->first));
        due += fault->first;
    } else if (fault) {
        note(QStringLiteral("fault %1: not applicable to a dump").arg(faultCode));
    }
    at(due, [this] {
        dumping_ = true;
        const quint64 generation = ++dumpGeneration_;
        dumpData_ = log_;
        dumpStart_ = now();
        dumpSent_ = 0;
        state(QStringLiteral("dump start %1 bytes").arg(dumpData_.size()));
        at(now(), [this, generation] {
            if (generation == dumpGeneration_)
                dumpTick();
        });
    });
}

void Simulator::dumpTick()
{
    if (!dumping_)
        return;
    const double rate = opts_.dumpBaud / 10.0;  // bytes per second: 8 data bits, start and stop bit
    const qint64 elapsed = now() - dumpStart_;
    qint64 allowed;
    qint64 next = now() + 10;
    if (opts_.dumpBurst > 0) {
        const double burstMs = opts_.dumpBurst * 1000.0 / rate;
        const double cycle = burstMs + opts_.dumpPause;
        const qint64 cycles = qint64(elapsed / cycle);
        const double intoCycle = elapsed - cycles * cycle;
        allowed = cycles * opts_.dumpBurst + qMin<qint64>(opts_.dumpBurst, qint64(rate * intoCycle / 1000.0) + 1);
        // In the pause after a burst the next wake-up is the start of the next burst.
        if (intoCycle >= burstMs)
            next = dumpStart_ + qint64((cycles + 1) * cycle) + 1;
    } else {
        allowed = qint64(rate * elapsed / 1000.0) + 1;
    }
    allowed = qMin<qint64>(allowed, dumpData_.size());
    if (opts_.vanishAfterDumpBytes >= 0)
        allowed = qMin<qint64>(allowed, opts_.vanishAfterDumpBytes);
    if (allowed > dumpSent_) {
        send(dumpData_.mid(dumpSent_, int(allowed - dumpSent_)));
        dumpSent_ = int(allowed);
    }
    if (opts_.vanishAfterDumpBytes >= 0 && dumpSent_ >= opts_.vanishAfterDumpBytes) {
        // A terminal that closes drops what its reader has not taken yet; the pause lets the
        // bytes sent so far arrive, so a test knows exactly what the other end got.
        dumping_ = false;
        state(QStringLiteral("dump cut after %1 bytes").arg(dumpSent_));
        at(now() + 300, [this] { vanish(); });
        return;
    }
    if (dumpSent_ >= dumpData_.size()) {
        dumping_ = false;
        state(QStringLiteral("dump end"));
        return;
    }
    const quint64 generation = dumpGeneration_;
    at(next, [this, generation] {
        if (generation == dumpGeneration_)
            dumpTick();
    });
}

void Simulator::leaveDiag()
{
    diag_ = false;
    state(QStringLiteral("diag off"));
    // Leaving DIAG mode ends a dump that is still running, unless this lidar finishes it first.
    if (dumping_ && !opts_.dumpOutlastsDiag) {
        dumping_ = false;
        ++dumpGeneration_;
        state(QStringLiteral("dump stopped after %1 bytes").arg(dumpSent_));
    }
    if (opts_.liveAlways)
        startLive();
}

void Simulator::startLive()
{
    if (live_)
        return;
    live_ = true;
    liveSent_ = 0;
    const quint64 generation = ++liveGeneration_;
    state(QStringLiteral("live start"));
    if (opts_.liveCount == 0) {
        stopLive();
        return;
    }
    // The first record waits a whole interval, so it never joins the reply to the format query.
    at(now() + opts_.liveInterval, [this, generation] { liveTick(generation); });
}

void Simulator::stopLive()
{
    // In continuous mode only DIAG mode pauses the records.
    if (!live_ || (opts_.liveAlways && !diag_))
        return;
    live_ = false;
    ++liveGeneration_;
    state(QStringLiteral("live stop"));
}

void Simulator::liveTick(quint64 generation)
{
    if (!live_ || generation != liveGeneration_)
        return;
    QByteArray record;
    if (!opts_.liveRecords.isEmpty())
        record = opts_.liveRecords.at(liveSent_ % opts_.liveRecords.size());
    else if (liveFormat() == 1)
        record = binaryLiveRecord(random_);
    else
        record = textLiveRecord(random_, opts_.liveGps, QDateTime::currentDateTime());
    if (opts_.liveNotify)
        record = QByteArray("\x02\x04\x04\x03", 4) + record + QByteArray("\x02\x05\x05\x03", 4);
    send(record);
    ++liveSent_;
    if (opts_.liveCount >= 0 && liveSent_ >= opts_.liveCount) {
        stopLive();
        return;
    }
    at(now() + opts_.liveInterval, [this, generation] { liveTick(generation); });
}

void Simulator::vanish()
{
    state(QStringLiteral("vanish"));
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(QFile::encodeName(opts_.socketPath).constData());
    }
    master_ = -1;
    slave_ = -1;
    listener_ = -1;
    output_.clear();
    quit_ = true;
}

}  // namespace lidarsim
