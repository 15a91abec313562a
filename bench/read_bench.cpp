// Measures what reading a fetched mail costs: in the server's own process, and
// in the bounded child the reader forks for each mail (fork, parse, answer,
// exit, reaped). Median and 90th percentile of 200 reads each, in milliseconds.
// Usage: read_bench [MAIL_FILE] (default: the benchmark's command mail).
#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/mail_file_reader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kReads = 200;

// pauseMs between two reads: the server reads at most one mail a cycle, and
// the reader's next child warms up in between.
void measure(const char *what, const std::function<bool()> &read, int pauseMs = 0,
             int reads = kReads)
{
    QList<double> ms;
    for (int i = 0; i < reads; ++i) {
        if (pauseMs > 0)
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        QElapsedTimer clock;
        clock.start();
        if (!read()) {
            std::fprintf(stderr, "%s: the mail could not be read\n", what);
            return;
        }
        ms.append(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s median %6.2f ms   p90 %6.2f ms\n", what, ms.at(reads / 2),
                ms.at(reads * 9 / 10));
}

} // namespace

int main(int argc, char *argv[])
{
    lecture_bornee::demarrer_lecteur();
    QCoreApplication app(argc, argv);
    const QString mail =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(BENCH_DIR "/command-mail.eml");
    const auto inProcess = [&] { return read_mail_file(mail).has_value(); };
    measure("in the server's process, one a cycle", inProcess, 400, 40);
    measure("in the server's process, back to back", inProcess);
    const auto inChild = [&] { return lecture_bornee::lire(mail, {}).mail.has_value(); };
    measure("in a bounded child, one a cycle", inChild, 400, 40);
    measure("in a bounded child, back to back", inChild);
    return 0;
}
