#include "vantrix.h"

#include <QCoreApplication>

Vantrix::Vantrix(QWidget *parent) : QDialog(parent)
{
    QCoreApplication::setApplicationName(QStringLiteral(VELOMARK_PRODUCT_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOMARK_PRODUCT_VERSION));
    setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ')
                   + QCoreApplication::applicationVersion());
}
