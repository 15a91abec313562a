// The mail dialogue alone of one message, as the server runs it: POP3 open,
// list, fetch, delete and quit, then the reply sent and accepted. The same
// work as the in-process Python reference of run-reply-bench, without the
// archive, the key file, the journal and the launch that cycle_bench counts.
// Usage: reply_bench SERVERS_DIR MAIL_FILE [--paced] (a folder started by
// scripts/mail-servers; the command mail to deliver, @CODE@ standing for its
// code). With --paced, one round per line read on standard input.
#include "bench/bench_mail_file.h"
#include "platform/message_box.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "tests/support/mail_servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

// Between two rounds, for the server here and every reference alike.
constexpr int kPauseMs = 500;

int main(int argc, char *argv[])
{
    lecture_bornee::demarrer_lecteur();
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: reply_bench SERVERS_DIR MAIL_FILE\n");
        return 2;
    }
    std::optional<QByteArray> mail = read_bench_mail(argv[2]);
    if (!mail)
        return 2;
    mail->replace("@CODE@", "BENCH");
    platform::installer_gestionnaire_messages([](const QString &) {});
    const MailServers servers(QString::fromLocal8Bit(argv[1]));
    if (!servers.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(servers.error()));
        return 2;
    }
    const QString user = QStringLiteral("u7");
    servers.clearMailbox(user);
    VmimePop3Session pop3;
    pop3.setTimeout(5000);
    VmimeSmtpSender smtp;
    smtp.setTimeout(5000);
    smtp.properties.server = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
    smtp.properties.mailfrom = QStringLiteral("<tramelon@example.net>");
    smtp.properties.sendto = QStringLiteral("bench-reply@example.org");
    smtp.properties.messagesubject = QStringLiteral("Re:Actions (reponse n  1 )");
    smtp.properties.messagetext = QStringLiteral("La commande a bien été lancée.");
    smtp.properties.messagehtml = smtp.properties.messagetext;

    QTemporaryDir archives; // the fetch writes the mail to its archive, as the server does
    // Each step's time too, to see where the dialogue's time goes.
    const QStringList steps = {"open", "list", "fetch", "delete", "quit", "send"};
    QList<qint64> stepTimes(steps.size());
    // One mail delivered and taken, its total in microseconds; -1 when it failed.
    const auto round = [&](int i) -> qint64 {
        servers.deliver(user, *mail);
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        int step = 0;
        const auto stepDone = [&] {
            const qint64 now = clock.nsecsElapsed() / 1000;
            stepTimes[step++] = now - last;
            last = now;
        };
        pop3.Open(QStringLiteral("127.0.0.1"), servers.pop3Port(), user, servers.pop3Password());
        stepDone();
        pop3.RefreshList();
        stepDone();
        const bool fetched = pop3.FetchMessage(1, archives.filePath("message.eml")).has_value();
        stepDone();
        pop3.DeleteMessage(1);
        stepDone();
        pop3.Close();
        stepDone();
        bool sent = false;
        const auto connection =
            QObject::connect(&smtp, &SmtpSender::MessageSent, &app, [&sent] { sent = true; });
        smtp.sendmessage();
        QObject::disconnect(connection);
        stepDone();
        if (!fetched || !sent) {
            std::fprintf(stderr, "round %d failed: %s\n", i, qPrintable(smtp.statustext()));
            return -1;
        }
        return clock.nsecsElapsed() / 1000;
    };

    if (argc > 3 && qstrcmp(argv[3], "--paced") == 0) {
        // Paced by the caller, a round per line read, so that its own rounds
        // run in between, at the same moments: "round TOTAL STEP..." (µs).
        char line[64];
        for (int i = 0; std::fgets(line, sizeof line, stdin) != nullptr; ++i) {
            const qint64 total = round(i);
            if (total < 0)
                return 1;
            std::printf("round %lld", static_cast<long long>(total));
            for (const qint64 t : stepTimes)
                std::printf(" %lld", static_cast<long long>(t));
            std::printf("\n");
            std::fflush(stdout);
        }
        return 0;
    }

    QList<qint64> samples;
    QList<QList<qint64>> stepSamples(steps.size());
    for (int i = 0; i < 20; ++i) {
        // The server takes one mail a cycle, its steps a second apart: what it
        // does between two mails (its reader's next child warming up) is done
        // by then, as it is here.
        QEventLoop pause;
        QTimer::singleShot(kPauseMs, &pause, &QEventLoop::quit);
        pause.exec();
        const qint64 total = round(i);
        if (total < 0)
            return 1;
        samples.append(total);
        for (int k = 0; k < steps.size(); ++k)
            stepSamples[k].append(stepTimes.at(k));
    }
    std::sort(samples.begin(), samples.end());
    std::printf("mail dialogue of one message: median %.1f ms (min %.1f, max %.1f) over 20\n",
                double(samples.at(10)) / 1000, double(samples.first()) / 1000,
                double(samples.last()) / 1000);
    std::printf("steps (median ms):");
    for (int k = 0; k < steps.size(); ++k) {
        std::sort(stepSamples[k].begin(), stepSamples[k].end());
        std::printf(" %s %.1f", qPrintable(steps.at(k)), double(stepSamples[k].at(10)) / 1000);
    }
    std::printf("\n");
    return 0;
}
