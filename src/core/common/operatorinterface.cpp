#include "common/operatorinterface.h"

#include <QCoreApplication>

namespace velomark {

QString applicationTitle()
{
    return QCoreApplication::applicationName();
}

}  // namespace velomark
