#include "wait_ms.h"

#include <QEventLoop>
#include <QTimer>

void wait_ms(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
