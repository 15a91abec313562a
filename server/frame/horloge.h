#pragma once

#include <QDateTime>

#include <functional>

// Where the server reads the time: the system clock, or a clock of the tests'
// choosing (a month's turn, an archive name at a given second).
using Horloge = std::function<QDateTime()>;

inline Horloge horloge_systeme()
{
    return [] { return QDateTime::currentDateTime(); };
}
