// Tramelon as a service against the tests' Dovecot: what one cycle writes to
// standard error at each level, the logins spaced out after a refused
// password, and what the program tells systemd (NOTIFY_SOCKET) and a person
// at the terminal (--etat).
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/core/sortie_console.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"

#include <QDate>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kKey = QStringLiteral("AAAAAAAAAAA1");

// A server folder whose pop3.ini carries this password.
std::unique_ptr<ServerFolder> folderFor(const MailServers &servers, const QString &user,
                                        const QString &password)
{
    auto folder = std::make_unique<ServerFolder>(servers, user, QStringList{kKey, "BBBBBBBBBBB2"});
    QByteArray ini = folder->read("pop3.ini");
    ini.replace("pass=" + servers.pop3Password().toLatin1(), "pass=" + password.toLatin1());
    folder->write("pop3.ini", ini);
    return folder;
}

std::unique_ptr<Serveur> serverOn(const ServerFolder &folder)
{
    auto session = std::make_unique<VmimePop3Session>();
    session->setTimeout(20000);
    auto serveur = std::make_unique<Serveur>(folder.path(), std::move(session),
                                             std::make_unique<VmimeSmtpSender>(), [](int) {});
    if (serveur->demarrer())
        serveur->T_sequenceur().stop(); // the test gives the ticks
    return serveur;
}

void ticks(Serveur &serveur, int n)
{
    for (int i = 0; i < n; ++i)
        serveur.sequenceur().tick();
}

// Logins Dovecot refused for the user, as its log says.
int refusedLogins(const MailServers &servers, const QString &user)
{
    QFile log(servers.root() + "/dovecot.log");
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray who = "user=<" + user.toLatin1() + ">";
    int n = 0;
    for (const QByteArray &line : log.readAll().split('\n'))
        n += line.contains("auth failed") && line.contains(who);
    return n;
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT

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
        QTest::addColumn<bool>("journal"); // JOURNAL_STREAM set
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("mail");
        QTest::addColumn<QStringList>("messages"); // the lines besides the trace, in order
        QTest::newRow("idle") << false << false << "secret" << false << QStringList{};
        QTest::newRow("idle, --trace") << true << false << "secret" << false << QStringList{};
        QTest::newRow("a judged mail, journal")
            << false << true << "secret" << true
            << QStringList{"<6>.* messages: mail de service@example.org, code AA\\* : La commande "
                           ": run.bat "
                           "a bien été lancée par l'automate$"};
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
        const QString user = QStringLiteral("s1");
        servers.clearMailbox(user);
        const auto folder = folderFor(servers, user, password);
        if (mail)
            QVERIFY(!servers
                         .deliver(user, ServerFolder::commandMail(
                                            "service@example.org", "Actions",
                                            compose_message_commande("run.bat", kKey)))
                         .isEmpty());
        char *buffer = nullptr;
        size_t size = 0;
        std::FILE *stream = open_memstream(&buffer, &size);
        QVERIFY(stream);
        if (journal)
            qputenv("JOURNAL_STREAM", "8:1234");
        else
            qunsetenv("JOURNAL_STREAM");
        {
            const auto serveur = serverOn(*folder);
            SortieConsole console(serveur->affichage(), trace, stream);
            ticks(*serveur, 60);
        }
        qunsetenv("JOURNAL_STREAM");
        std::fclose(stream);
        const QStringList lines =
            QString::fromLocal8Bit(buffer, qsizetype(size)).split(u'\n', Qt::SkipEmptyParts);
        std::free(buffer);
        qInfo("%lld lines in one cycle:\n%s", qlonglong(lines.size()),
              qPrintable(lines.join(u'\n')));

        const QStringList traced = lines.filter(QRegularExpression(" (pop3|smtp): "));
        QStringList said = lines;
        for (const QString &line : traced)
            said.removeOne(line);
        QCOMPARE(said.size(), messages.size());
        for (qsizetype i = 0; i < messages.size(); ++i)
            QVERIFY2(said.at(i).contains(QRegularExpression("^" + messages.at(i))),
                     qPrintable(said.at(i)));
        // The dialogue with its byte counts and the library's English: only on request.
        QCOMPARE(traced.isEmpty(), !trace);
        if (trace)
            QVERIFY(traced.filter(QRegularExpression(journal ? "^<7>" : "^\\d{4}-")).size() ==
                    traced.size());
        // Each fault once: the status log's copy of it stays out of the trace.
        QCOMPARE(traced.filter(" pop3: ! ").size(), 0);
    }

    // A refused password: Dovecot sees a login at cycles 1, 3 and 7 instead of
    // every cycle; new settings try at once.
    void refusedPasswordIsTriedLessAndLess()
    {
        const QString user = QStringLiteral("s2");
        const auto folder = folderFor(servers, user, "wrong");
        const auto serveur = serverOn(*folder);
        const int before = refusedLogins(servers, user);
        for (const int expected : {1, 1, 2, 2, 2, 2, 3}) {
            ticks(*serveur, 60);
            QTRY_COMPARE(refusedLogins(servers, user) - before, expected);
        }
        QVERIFY2(serveur->etat_courant().texte().contains(QRegularExpression(
                     "^relève suspendue : mot de passe refusé à \\d\\d:\\d\\d, nouvel essai à ")),
                 qPrintable(serveur->etat_courant().texte()));
        QVERIFY(serveur->affichage().champs().Text3.contains("relève suspendue"));
        const QString journal = QString::fromLocal8Bit(
            folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt"));
        QCOMPARE(journal.count("relève suspendue"), 1);

        MailSettingsFields fields = serveur->configuration();
        fields.Password = servers.pop3Password();
        serveur->enregistrer_configuration(fields);
        serveur->T_sequenceur().stop();
        ticks(*serveur, 2);
        QCOMPARE(serveur->oSession().State(), Pop3Session::kStateTransaction);
        QVERIFY(serveur->etat_courant().texte().startsWith("dernière relève "));
        QCOMPARE(refusedLogins(servers, user) - before, 3);
    }

    // The built program under a service manager of the test's own: READY=1,
    // then STATUS= as the state changes, the watchdog at each tick, the lines
    // with their priorities; --etat prints what it last wrote.
    void programTellsTheServiceManager()
    {
        const QString user = QStringLiteral("s3");
        const auto folder = folderFor(servers, user, "wrong");
        const QString path = folder->path() + "notify";
        const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        QVERIFY(listener >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(path));
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
        env.insert("NOTIFY_SOCKET", path);
        env.insert("JOURNAL_STREAM", "8:1234");
        tramelon.setProcessEnvironment(env);
        tramelon.start(TRAMELON_BIN, {"--headless", "--folder", folder->path()});
        QTRY_VERIFY_WITH_TIMEOUT(!receive().isEmpty(), 10000);
        QCOMPARE(received.first(), "READY=1\nSTATUS=aucune relève encore, 2 clefs, 0 réponse en "
                                   "attente");
        QTRY_VERIFY_WITH_TIMEOUT(!receive().filter("STATUS=relève suspendue").isEmpty(), 30000);
        QVERIFY(received.contains("WATCHDOG=1"));
        const QString status = received.filter("STATUS=relève suspendue").first().mid(7);

        const auto etat = [](const QString &dir) {
            QProcess p;
            p.start(TRAMELON_BIN, {"--etat", "--folder", dir});
            p.waitForFinished(10000);
            return std::make_pair(p.exitCode(), QString::fromLocal8Bit(p.readAll()));
        };
        auto [code, text] = etat(folder->path());
        QCOMPARE(code, 0);
        QCOMPARE(text.section(u'\n', 0, 0), status);
        QVERIFY2(!text.contains("ne tourne plus"), qPrintable(text));

        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));
        ::close(listener);
        std::tie(code, text) = etat(folder->path());
        QVERIFY2(code == 0 && text.contains("ce processus ne tourne plus"), qPrintable(text));
        QDir(folder->path()).mkdir("empty");
        QCOMPARE(etat(folder->path() + "empty").first, 1);

        const QStringList log = QString::fromLocal8Bit(tramelon.readAllStandardError())
                                    .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(log.filter(QRegularExpression("^<3>.*Erreur POP3 9 : ")).size(), 1);
        QCOMPARE(log.filter(QRegularExpression("^<4>.*relève suspendue")).size(), 1);
        QCOMPARE(log.filter(QRegularExpression("^<[346]>")).size(), log.size());
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
