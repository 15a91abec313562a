// Measures the server's mail work against the local Dovecot and SMTP servers:
//  (a) one message from Open to the reply accepted, idle ticks not counted, median of 20;
//  (b) the longest time the user-interface thread was blocked during a cycle,
//      against a healthy server and against one that accepts and never answers;
//  (c) for a 20 MB text body and a 20 MB attachment: peak memory above idle
//      and the longest block of the user-interface thread during the cycle.
//      The memory is the sum of the server's and the reader's: the server's
//      peak above its idle size, plus the largest of the reader's own peak and
//      its mail's child's peak, above the reader's idle size.
// Usage: cycle_bench SERVERS_DIR [MAIL_FILE] (a folder started by
// scripts/mail-servers; for (a), the command mail to deliver, @CODE@ standing
// for its code, else a plain one).
#include "bench/bench_mail_file.h"
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/silent_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>

namespace {

const QString kUser = QStringLiteral("u9");
const QString kSender = QStringLiteral("bench@example.org");

std::unique_ptr<Serveur> makeServer(const ServerFolder &folder)
{
    auto session = std::make_unique<VmimePop3Session>();
    session->setTimeout(5000);
    auto smtp = std::make_unique<VmimeSmtpSender>();
    smtp->setTimeout(5000);
    auto serveur =
        std::make_unique<Serveur>(folder.path(), std::move(session), std::move(smtp), [](int) {});
    if (!serveur->demarrer())
        return nullptr;
    serveur->T_sequenceur().stop();
    return serveur;
}

// Runs one whole cycle with each tick queued on the event loop, as the timer
// would deliver it, while a 1 ms probe timer records the longest gap between
// two turns of the loop.
qint64 longestBlockDuringCycle(Serveur &serveur)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    int remaining = serveur.state().duree_cycle;
    QTimer driver;
    driver.setInterval(2);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        serveur.sequenceur().tick();
        if (--remaining == 0)
            loop.quit();
    });
    clock.start();
    probe.start();
    driver.start();
    loop.exec();
    return longest / 1000000;
}

qint64 statusKiB(const QByteArray &field, pid_t pid = 0)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid)
                     : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Linux sets the peak back to the current size on this request; what the
// allocator keeps from earlier work is handed back first, so that it does not
// count as idle.
void resetPeak()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    QFile reader(QStringLiteral("/proc/%1/clear_refs").arg(lecture_bornee::pid_lecteur()));
    if (reader.open(QIODevice::WriteOnly))
        reader.write("5");
    lecture_bornee::pic_memoire_enfants_kio();
}

QByteArray textMail(qint64 size)
{
    QByteArray mail =
        ServerFolder::commandMail(kSender, QStringLiteral("big text"), QStringLiteral("x"));
    const QByteArray line = QByteArray(76, 'a') + "\r\n";
    mail.reserve(size + line.size());
    while (mail.size() < size)
        mail += line;
    return mail;
}

QByteArray attachmentMail(qint64 size)
{
    QByteArray mail = "From: " + kSender.toUtf8() +
                      "\r\nSubject: big attachment\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"part\"\r\n\r\n"
                      "--part\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                      "--part\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Transfer-Encoding: base64\r\n"
                      "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n";
    const QByteArray line = QByteArray(76, 'Q') + "\r\n";
    mail.reserve(size + line.size());
    while (mail.size() < size)
        mail += line;
    return mail + "--part--\r\n";
}

} // namespace

int main(int argc, char *argv[])
{
    lecture_bornee::demarrer_lecteur();
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cycle_bench SERVERS_DIR [MAIL_FILE]\n");
        return 2;
    }
    platform::installer_gestionnaire_messages([](const QString &) {});
    MailServers servers(QString::fromLocal8Bit(argv[1]));
    if (!servers.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(servers.error()));
        return 2;
    }
    servers.clearMailbox(kUser);
    QByteArray commandMail;
    if (argc > 2) {
        const std::optional<QByteArray> given = read_bench_mail(argv[2]);
        if (!given)
            return 2;
        commandMail = *given;
    }

    // (a) mail work of one message, steps 2 to 8.
    QStringList keys;
    for (int i = 0; i < 20; ++i)
        keys.append(QStringLiteral("BENCHKEY%1").arg(i, 4, 10, QLatin1Char('0')));
    ServerFolder folder(servers, kUser, keys);
    auto serveur = makeServer(folder);
    if (!serveur)
        return 1;
    QList<qint64> work;
    for (int i = 0; i < 20; ++i) {
        servers.deliver(kUser,
                        commandMail.isEmpty()
                            ? ServerFolder::commandMail(
                                  kSender, QStringLiteral("Actions"),
                                  compose_message_commande(QStringLiteral("run.bat"), keys.at(i)))
                            : QByteArray(commandMail).replace("@CODE@", keys.at(i).toUtf8()));
        qint64 busy = 0;
        for (int t = 0; t < 60; ++t) {
            QElapsedTimer tick;
            tick.start();
            serveur->sequenceur().tick();
            const qint16 step = serveur->state().etape_sequenceur;
            if (step >= 2 && step <= 8)
                busy += tick.nsecsElapsed();
        }
        work.append(busy / 1000);
    }
    std::sort(work.begin(), work.end());
    std::printf(
        "(a) one message, Open to reply accepted: median %.1f ms (min %.1f, max %.1f) over 20\n",
        double(work.at(10)) / 1000, double(work.first()) / 1000, double(work.last()) / 1000);

    // (b) the window's longest wait during a cycle.
    servers.deliver(
        kUser, ServerFolder::commandMail(kSender, QStringLiteral("hello"), QStringLiteral("text")));
    std::printf("(b) longest block of the UI thread, healthy server: %lld ms\n",
                longestBlockDuringCycle(*serveur));
    SilentServer silent;
    folder.write(QStringLiteral("pop3.ini"),
                 folder.read(QStringLiteral("pop3.ini"))
                     .replace("serveur_pop=127.0.0.1:" + QByteArray::number(servers.pop3Port()),
                              "serveur_pop=127.0.0.1:" + QByteArray::number(silent.port())));
    auto mute = makeServer(folder);
    if (!mute)
        return 1;
    QElapsedTimer cycle;
    cycle.start();
    const qint64 block = longestBlockDuringCycle(*mute);
    std::printf("(b) longest block of the UI thread, server that never answers: %lld ms "
                "(cycle took %lld ms with a 5 s timeout)\n",
                block, cycle.elapsed());
    mute.reset();

    // (c) 20 MB mails: memory and the window's longest wait.
    const qint64 size = 20 * 1024 * 1024;
    const struct {
        const char *name;
        QByteArray (*make)(qint64);
    } bigMails[] = {{"text body", textMail}, {"attachment", attachmentMail}};
    for (const auto &big : bigMails) {
        servers.deliver(kUser, big.make(size));
        resetPeak();
        const pid_t reader = lecture_bornee::pid_lecteur();
        const qint64 idle = statusKiB("VmRSS:");
        const qint64 readerIdle = statusKiB("VmRSS:", reader);
        const qint64 longest = longestBlockDuringCycle(*serveur);
        const qint64 server = statusKiB("VmHWM:") - idle;
        const qint64 readerPeak =
            std::max(statusKiB("VmHWM:", reader), lecture_bornee::pic_memoire_enfants_kio()) -
            readerIdle;
        std::printf("(c) 20 MB %s: peak memory %lld KiB above idle, server %lld + reader %lld "
                    "(3 x size = %lld KiB), longest block of the UI thread %lld ms, %d mail(s) "
                    "left in the box\n",
                    big.name, server + readerPeak, server, readerPeak, 3 * size / 1024, longest,
                    servers.messageCount(kUser));
    }
    servers.clearMailbox(kUser);
    return 0;
}
