#pragma once
// The process's time zone (TZ) set for as long as a ZoneScope lives, for tests of the lidar's
// clock in zones that skip and repeat an hour.
#include <QByteArray>
#include <QtGlobal>

#include <ctime>

struct ZoneScope
{
    QByteArray saved = qgetenv("TZ");
    explicit ZoneScope(const QByteArray &zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope()
    {
        saved.isNull() ? qunsetenv("TZ") : qputenv("TZ", saved);
        tzset();
    }
};
