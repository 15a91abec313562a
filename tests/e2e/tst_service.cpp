// Tramelon as a service against the tests' Dovecot: its log levels, spaced
// logins, what it tells systemd (NOTIFY_SOCKET) and the terminal (--etat).
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/core/sortie_console.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"
#include "tests/support/test_files.h"

#include <QDate>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kKey = QStringLiteral("AAAAAAAAAAA1");

// A server folder whose pop3.ini carries this password, and a server on it
// whose ticks come from the test.
struct Banc {
    std::unique_ptr<ServerFolder> folder;
    std::unique_ptr<Serveur> serveur;

    Banc(const MailServers &servers, const QString &user, const QString &password)
        : folder(std::make_unique<ServerFolder>(servers, user, QStringList{kKey}))
    {
        // Enough keys that no warning about the keys left joins the lines counted.
        QByteArray clefs = kKey.toLatin1() + "\r\n";
        for (char c = 'A'; c < 'M'; ++c)
            clefs += QByteArray(11, 'B') + c + "\r\n";
        folder->write("clefs.dat", clefs);
        QByteArray ini = folder->read("pop3.ini");
        ini.replace("pass=" + servers.pop3Password().toLatin1(), "pass=" + password.toLatin1());
        folder->write("pop3.ini", ini);
    }
    void demarrer()
    {
        serveur = std::make_unique<Serveur>(folder->path(), std::make_unique<VmimePop3Session>(),
                                            std::make_unique<VmimeSmtpSender>(), [](int) {});
        if (serveur->demarrer())
            serveur->T_sequenceur().stop();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            serveur->sequenceur().tick();
    }
};

// Logins Dovecot refused for the user, as its log says.
qsizetype refusedLogins(const MailServers &servers, const QString &user)
{
    return QString::fromUtf8(test_files::lire(servers.root() + "/dovecot.log"))
        .count(QRegularExpression("auth failed.*user=<" + user + ">"));
}

} // namespace

class TestService : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        platform::installer_gestionnaire_messages([](const QString &) {});
    }

    void oneCycleOnStandardError_data()
    {
        QTest::addColumn<bool>("trace");
        QTest::addColumn<bool>("journal"); // standard error is the system journal
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("mail");
        QTest::addColumn<QStringList>("messages"); // the lines besides the trace, in order
        QTest::newRow("idle") << false << false << "secret" << false << QStringList{};
        QTest::newRow("idle, --trace") << true << false << "secret" << false << QStringList{};
        QTest::newRow("a judged mail, journal")
            << false << true << "secret" << true
            << QStringList{"<6>.* messages: mail de service@example.org, code AA\\* : La commande "
                           ": run.bat a bien été lancée par l'automate$"};
        QTest::newRow("password refused, journal, --trace")
            << true << true << "wrong" << false
            << QStringList{"<3>.* messages: Erreur POP3 9 : Authentification refusée : .*\\(",
                           "<4>.* messages: relève suspendue : mot de passe refusé, nouvel essai "
                           "à \\d\\d:\\d\\d, .* une heure$"};
    }

    void oneCycleOnStandardError()
    {
        QFETCH(bool, trace);
        QFETCH(bool, journal);
        QFETCH(QString, password);
        QFETCH(bool, mail);
        QFETCH(QStringList, messages);
        servers.clearMailbox("s1");
        Banc banc(servers, "s1", password);
        const QByteArray raw = ServerFolder::commandMail("service@example.org", "Actions",
                                                         compose_message_commande("run.bat", kKey));
        QVERIFY(!mail || !servers.deliver("s1", raw).isEmpty());
        // The console writes to a file; JOURNAL_STREAM names that file or nothing.
        QTemporaryFile out;
        QVERIFY(out.open());
        struct stat file {
        };
        QCOMPARE(::fstat(out.handle(), &file), 0);
        qputenv("JOURNAL_STREAM", journal ? QByteArray::number(quint64(file.st_dev)) + ':' +
                                                QByteArray::number(quint64(file.st_ino))
                                          : QByteArray("0:0"));
        std::FILE *stream = ::fdopen(::fcntl(out.handle(), F_DUPFD_CLOEXEC, 0), "w");
        banc.demarrer();
        auto console = std::make_unique<SortieConsole>(banc.serveur->affichage(), trace, stream);
        qunsetenv("JOURNAL_STREAM");
        banc.ticks(60);
        console.reset();
        std::fclose(stream);
        out.seek(0); // the descriptors share one offset
        const QStringList tout =
            QString::fromLocal8Bit(out.readAll()).split(u'\n', Qt::SkipEmptyParts);
        qInfo("%lld lines in one cycle:\n%s", qlonglong(tout.size()), qPrintable(tout.join('\n')));

        // (The batch file's own end is a line of its own, whenever it comes.)
        QStringList lines = tout;
        lines.removeIf([](const QString &l) { return l.contains(" terminée : "); });
        const QStringList said = lines.filter(" messages: ");
        QCOMPARE(said.size(), messages.size());
        for (qsizetype i = 0; i < messages.size(); ++i)
            QVERIFY2(said.at(i).contains(QRegularExpression("^" + messages.at(i))),
                     qPrintable(said.at(i)));
        // The dialogue with its byte counts and the library's English: only on
        // request, at the lowest priority.
        const QStringList traced = lines.filter(QRegularExpression(" (pop3|smtp): "));
        QCOMPARE(traced.isEmpty(), !trace);
        QCOMPARE(said.size() + traced.size(), lines.size());
        QCOMPARE(traced.filter(QRegularExpression("^<7>")).size(), journal ? traced.size() : 0);
        // Each fault once: the status log's copy of it stays out of the trace.
        QCOMPARE(traced.filter(" pop3: ! ").size(), 0);
    }

    // A refused password: Dovecot sees a login at cycles 1, 3 and 7 instead of
    // every cycle; new settings try at once.
    void refusedPasswordIsTriedLessAndLess()
    {
        Banc banc(servers, "s2", "wrong");
        banc.demarrer();
        const qsizetype before = refusedLogins(servers, "s2");
        for (const int expected : {1, 1, 2, 2, 2, 2, 3}) {
            banc.ticks(60);
            QTRY_COMPARE(refusedLogins(servers, "s2") - before, expected);
        }
        Serveur &serveur = *banc.serveur;
        QVERIFY2(serveur.etat_courant().texte().contains(QRegularExpression(
                     "^relève suspendue : mot de passe refusé à \\d\\d:\\d\\d, nouvel essai à ")),
                 qPrintable(serveur.etat_courant().texte()));
        QVERIFY(serveur.affichage().champs().Text3.contains("relève suspendue"));
        QCOMPARE(banc.folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt")
                     .count("relève suspendue"),
                 1);

        MailSettingsFields fields = serveur.configuration();
        fields.Password = servers.pop3Password();
        serveur.enregistrer_configuration(fields);
        serveur.T_sequenceur().stop();
        banc.ticks(2);
        QCOMPARE(serveur.oSession().State(), Pop3Session::kStateTransaction);
        QVERIFY(serveur.etat_courant().texte().startsWith("dernière relève "));
        QCOMPARE(refusedLogins(servers, "s2") - before, 3);
    }

    // The built program under a service manager of the test's own, and --etat.
    void programTellsTheServiceManager()
    {
        Banc banc(servers, "s3", "wrong");
        const QString dir = banc.folder->path();
        const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%snotify", qPrintable(dir));
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QStringList received;
        const auto receive = [&] {
            char datagram[4096];
            for (ssize_t n; (n = ::recv(listener, datagram, sizeof datagram, 0)) > 0;)
                received.append(QString::fromUtf8(datagram, n));
            return received;
        };

        QProcess tramelon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NOTIFY_SOCKET", address.sun_path);
        tramelon.setProcessEnvironment(env);
        // As systemd does: JOURNAL_STREAM names the device and inode of standard error.
        tramelon.start("/bin/sh", {"-c",
                                   "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$0\" "
                                   "--headless --folder \"$1\"",
                                   TRAMELON_BIN, dir});
        QTRY_VERIFY_WITH_TIMEOUT(!receive().isEmpty(), 10000);
        QCOMPARE(received.first(),
                 "READY=1\nSTATUS=aucune relève encore, 13 clefs, 0 réponse en attente");
        QTRY_VERIFY_WITH_TIMEOUT(!receive().filter("STATUS=relève suspendue").isEmpty(), 30000);
        QVERIFY(received.contains("WATCHDOG=1"));
        const QString status = received.filter("STATUS=relève suspendue").first().mid(7);

        const auto etat = [](const QString &folder) {
            QProcess p;
            p.start(TRAMELON_BIN, {"--etat", "--folder", folder});
            p.waitForFinished(10000);
            return std::make_pair(p.exitCode(), QString::fromLocal8Bit(p.readAll()));
        };
        auto [code, text] = etat(dir);
        QCOMPARE(std::make_pair(code, text.section(u'\n', 0, 0)), std::make_pair(0, status));
        QVERIFY2(!text.contains("ne tourne plus"), qPrintable(text));
        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));
        ::close(listener);
        std::tie(code, text) = etat(dir);
        QVERIFY2(code == 0 && text.contains("ce processus ne tourne plus"), qPrintable(text));
        QDir(dir).mkdir("empty");
        QCOMPARE(etat(dir + "empty").first, 1);

        const QStringList log = QString::fromLocal8Bit(tramelon.readAllStandardError())
                                    .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(log.filter(QRegularExpression("^<3>.*Erreur POP3 9 : ")).size(), 1);
        QCOMPARE(log.filter(QRegularExpression("^<4>.*relève suspendue")).size(), 1);
        QCOMPARE(log.filter(QRegularExpression("^<[346]>")).size(), log.size());
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
