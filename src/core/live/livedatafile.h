#pragma once
// The live data file: a comma-separated text file that every live measurement is appended
// to, one line each, flushed at once so that a crash loses no line already shown.
#include <QFile>
#include <QString>

namespace velomark {

class OperatorInterface;

// First line of every live data file; a file containing it is accepted as a data file.
inline const QString kLiveCsvHeader =
    QStringLiteral("Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n");

class LiveDataFile
{
public:
    LiveDataFile() = default;
    LiveDataFile(const LiveDataFile &) = delete;
    LiveDataFile &operator=(const LiveDataFile &) = delete;

    // Takes `path` as the data file (a file open under the former name is closed first).
    // An empty or absent file gets the header; an existing one must hold the header.
    // Returns true when the file is accepted and open for appending; otherwise the
    // operator has been told why and the file is closed.
    bool prepare(const QString &path, OperatorInterface &op);
    // Opens the chosen file for appending unless it is open; tells the operator on failure.
    bool openForAppend(OperatorInterface &op);
    // Writes one line (it carries its own "\n") and flushes it; false when the file is not
    // open or the write failed (errorString() says why).
    bool appendLine(const QString &line);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_file.errorString(); }

private:
    bool openAppend(OperatorInterface &op);
    void reportOpenFailure(OperatorInterface &op);

    QFile m_file;
};

}  // namespace velomark
