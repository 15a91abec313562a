#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <optional>

// The command mail a benchmark delivers (@CODE@ standing for its code), or
// nothing, with the reason on standard error, when it cannot be read.
inline std::optional<QByteArray> read_bench_mail(const char *path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", path, qPrintable(file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}
