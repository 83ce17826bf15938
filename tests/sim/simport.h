#pragma once
// The client side of the simulator's terminal in the simulator's own tests: a real QSerialPort
// with small blocking helpers.
#include <QByteArray>
#include <QList>
#include <QElapsedTimer>
#include <QSerialPort>


inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A client on the simulator's terminal, as the logger opens it.
class Port
{
public:
    bool open(const QString &path)
    {
        port_.setPortName(path);
        port_.setBaudRate(57600);
        return port_.open(QIODevice::ReadWrite);
    }
    void write(const QByteArray &bytes)
    {
        port_.write(bytes);
        port_.waitForBytesWritten(3000);
    }
    // Everything that arrives within firstMs, then until quietMs pass without a byte.
    QByteArray read(int firstMs = 3000, int quietMs = 250)
    {
        QByteArray reply;
        if (!port_.waitForReadyRead(firstMs))
            return port_.readAll();
        reply += port_.readAll();
        while (port_.waitForReadyRead(quietMs))
            reply += port_.readAll();
        return reply;
    }
    QByteArray exchange(const QByteArray &bytes, int firstMs = 3000, int quietMs = 250)
    {
        port_.clear();
        write(bytes);
        return read(firstMs, quietMs);
    }
    // Chunks as they arrive, each with its time since the call, until quietMs pass without a byte.
    struct Arrival
    {
        qint64 ms;
        QByteArray bytes;
    };
    QList<Arrival> arrivals(int firstMs, int quietMs)
    {
        QList<Arrival> result;
        QElapsedTimer timer;
        timer.start();
        int wait = firstMs;
        while (port_.waitForReadyRead(wait)) {
            result.append({timer.elapsed(), port_.readAll()});
            wait = quietMs;
        }
        return result;
    }
    QSerialPort &serial() { return port_; }

private:
    QSerialPort port_;
};

