// What an operator meets when starting the built tramelon on a folder: the
// start-up summary, the folder's lock, --verifier against the real servers,
// no display, and files the service's account cannot reach.
#include "server_folder.h"
#include "tests/support/mail_servers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

#include <unistd.h>

namespace {

const QString kUser = QStringLiteral("op1");

struct Issue {
    int code = -1;
    QString sortie;
    QString erreur;
    qint64 ms = 0;
};

QProcessEnvironment environnementSansEcran()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

// The program run to its end, as an operator's shell would (at most 60 s).
Issue lancer(const QStringList &commande, const QProcessEnvironment &env = environnementSansEcran())
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer chrono;
    chrono.start();
    p.start(commande.first(), commande.mid(1));
    Issue issue;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return issue;
    }
    issue.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    issue.sortie = QString::fromLocal8Bit(p.readAllStandardOutput());
    issue.erreur = QString::fromLocal8Bit(p.readAllStandardError());
    issue.ms = chrono.elapsed();
    return issue;
}

void ecrireIni(const ServerFolder &folder, const QString &pop, const QString &smtp,
               const QString &pass, const QString &auth, const QString &extra = {})
{
    folder.write("pop3.ini", QStringLiteral("[mail]\r\nserveur_pop=%1\r\nserveur_smtp=%2\r\n"
                                            "repondre=operateur@example.org\r\nlogin=%3\r\n"
                                            "pass=%4\r\nauthentification=%5\r\n%6[PATH]\r\n"
                                            "repertoire_commande=%7\r\n")
                                 .arg(pop, smtp, kUser, pass, auth, extra, folder.actions())
                                 .toUtf8());
}

QString local(quint16 port) { return QStringLiteral("127.0.0.1:") + QString::number(port); }

} // namespace

class TestOperatorStart : public QObject
{
    Q_OBJECT

private:
    MailServers m_servers;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_servers.isValid(), qPrintable(m_servers.error())); }

    // A fresh folder without a reply address used to start in silence.
    void summaryAndWhyPollingIsOff()
    {
        ServerFolder folder(m_servers, kUser, {"SSSSSSSSSSS1", "SSSSSSSSSSS2"});
        folder.write("pop3.ini", "[mail]\r\nserveur_pop=pop3s://127.0.0.1\r\n"
                                 "serveur_smtp=smtp://127.0.0.1:587\r\nauthentification=oui\r\n"
                                 "[TIMER]\r\nrelance=0\r\n[PATH]\r\nrepertoire_commande=" +
                                     folder.actions().toUtf8() + "\r\n");
        QProcess tramelon;
        tramelon.setProcessEnvironment(environnementSansEcran());
        // With the trace, a polling cycle would show its POP3 dialogue.
        tramelon.start(TRAMELON_BIN, {"--headless", "--trace", "--folder", folder.path()});
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromLocal8Bit(tramelon.readAllStandardError()))
                                     .contains("tant que « repondre » est vide"),
                                 10000);
        QTest::qWait(2500); // the first cycle opens the mailbox at its second second
        log += QString::fromLocal8Bit(tramelon.readAllStandardError());
        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));
        const QString journal = QString::fromUtf8(
            folder.read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt"));
        const QStringList expected{
            QStringLiteral("Tramelon %1 démarré, dossier %2").arg(PROJECT_VERSION, folder.path()),
            "clefs inutilisées : 2",
            "dossier des actions : " + folder.actions() + " (2 fichier(s) .bat)",
            "serveur POP3 : pop3s://127.0.0.1 (TLS dès la connexion), compte marigolds, "
            "connexion par mot de passe",
            "serveur SMTP : smtp://127.0.0.1:587 (STARTTLS exigé), authentification SMTP non",
            "cycle : 60 s",
            "réglage corrigé dans pop3.ini : authentification=oui lu comme off (off ou on)",
            "réglage corrigé dans pop3.ini : relance=0 lu comme 60 (de 60 à 3600)",
            "aucune adresse de réponse : la boite n'est pas relevée tant que « repondre » est "
            "vide"};
        for (const QString &line : expected) {
            QVERIFY2(log.count(line) == 1, qPrintable(line + "\n---\n" + log));
            QVERIFY2(journal.contains(line), qPrintable(line + "\n---\n" + journal));
        }
        QVERIFY2(!log.contains(" pop3: "), qPrintable(log)); // nothing polled
    }

    // The second server on a folder is refused with the holder's id; a batch
    // file's child still running does not hold the lock once the server ended.
    void oneServerPerFolder()
    {
        m_servers.clearMailbox(kUser);
        ServerFolder folder(m_servers, kUser, {"LLLLLLLLLLL1", "LLLLLLLLLLL2"});
        ecrireIni(folder, local(m_servers.pop3Port()), local(m_servers.smtpPort()),
                  m_servers.pop3Password(), "off");
        folder.write("actions/run.bat", "sleep 120 >/dev/null 2>&1 &\necho $! > child\n"
                                        "echo launched > marker\n");
        QVERIFY(!m_servers
                     .deliver(kUser, ServerFolder::commandMail(
                                         "verrou@example.org", "Actions",
                                         "Commande:run.bat;\r\nCode:LLLLLLLLLLL2;\r\n"))
                     .isEmpty());
        QProcess premier;
        premier.setProcessEnvironment(environnementSansEcran());
        premier.start(TRAMELON_BIN, {"--headless", "--folder", folder.path()});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.marker()), 15000);

        const Issue second = lancer({TRAMELON_BIN, "--headless", "--folder", folder.path()});
        QCOMPARE(second.code, 1);
        QVERIFY2(second.erreur.contains(QStringLiteral("utilise déjà le dossier %1 (processus %2)")
                                            .arg(folder.path())
                                            .arg(premier.processId())),
                 qPrintable(second.erreur));

        ::kill(pid_t(premier.processId()), SIGTERM);
        QVERIFY(premier.waitForFinished(10000));
        const pid_t enfant = pid_t(folder.read("actions/child").trimmed().toInt());
        QVERIFY(enfant > 0 && ::kill(enfant, 0) == 0); // still running
        QProcess troisieme;
        troisieme.setProcessEnvironment(environnementSansEcran());
        troisieme.start(TRAMELON_BIN, {"--headless", "--folder", folder.path()});
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += QString::fromLocal8Bit(troisieme.readAllStandardError())).contains("démarré"),
            10000);
        ::kill(pid_t(troisieme.processId()), SIGTERM);
        QVERIFY(troisieme.waitForFinished(10000));
        ::kill(enfant, SIGKILL);
    }

    void verifier_data()
    {
        QTest::addColumn<QString>("pop");
        QTest::addColumn<QString>("smtp");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("auth");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("attendu");
        const QString pop = local(m_servers.pop3Port());
        const QString smtp = local(m_servers.smtpPort());
        const QString secret = m_servers.pop3Password();
        QTest::newRow("bonne configuration")
            << pop << smtp << secret << "off" << 0
            << "OK    POP3 " + pop + " (en clair) : connecté en tant que op1, 2 mail(s)";
        QTest::newRow("mot de passe POP3 faux")
            << pop << smtp << "faux"
            << "off" << 1
            << "ÉCHEC POP3 " + pop +
                   " (en clair) : connexion du compte op1 impossible : "
                   "Authentification refusée";
        QTest::newRow("authentification SMTP refusée")
            << pop << local(m_servers.smtpAuthPort()) << secret << "on" << 1
            << "ÉCHEC SMTP " + local(m_servers.smtpAuthPort()) + " (en clair) : Authentification";
        const QString personne = local(MailServers::unusedPort());
        QTest::newRow("serveur POP3 injoignable")
            << personne << smtp << secret << "off" << 1
            << "ÉCHEC POP3 " + personne +
                   " (en clair) : connexion du compte op1 impossible : "
                   "Connexion refusée";
        const QString tls = local(m_servers.pop3sPort());
        QTest::newRow("en clair sur le port TLS")
            << tls << smtp << secret << "off" << 1
            << "attend TLS dès la connexion, il ne parle pas en clair : écrivez pop3s://" + tls;
    }

    // Each check on a line of its own; the mailbox, keys and journal untouched.
    void verifier()
    {
        QFETCH(QString, pop);
        QFETCH(QString, smtp);
        QFETCH(QString, pass);
        QFETCH(QString, auth);
        QFETCH(int, code);
        QFETCH(QString, attendu);
        m_servers.clearMailbox(kUser);
        for (int i = 0; i < 2; ++i)
            QVERIFY(!m_servers
                         .deliver(kUser, ServerFolder::commandMail("v@example.org", "Actions",
                                                                   "Commande:run.bat;\r\n"))
                         .isEmpty());
        ServerFolder folder(m_servers, kUser, {"VVVVVVVVVVV1"});
        ecrireIni(folder, pop, smtp, pass, auth);
        const Issue issue = lancer({TRAMELON_BIN, "--verifier", "--folder", folder.path()});
        QVERIFY2(issue.sortie.contains(attendu), qPrintable(issue.sortie + issue.erreur));
        QCOMPARE(issue.code, code);
        for (const QString &line : issue.sortie.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(code == 0 ? "OK    " : "") &&
                         (line.startsWith("OK    ") || line.startsWith("ÉCHEC ")),
                     qPrintable(line));
        // A silent TLS port is found out within seconds, not at the 30 s time-out.
        QVERIFY2(issue.ms < 15000, qPrintable(QString::number(issue.ms)));
        QCOMPARE(m_servers.messageCount(kUser), 2);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("VVVVVVVVVVV1\r\n"));
        QVERIFY(QDir(folder.path()).entryList({"journal_*"}).isEmpty());
        QVERIFY(m_servers.receivedMails("operateur@example.org").isEmpty());
    }

    void sansEcran_data()
    {
        QTest::addColumn<QStringList>("commande");
        QTest::addColumn<QString>("plateforme");
        QTest::addColumn<QString>("attendu");
        QTest::newRow("tramelon") << QStringList{TRAMELON_BIN, "--folder", "/tmp"} << QString()
                                  << "lancez-le sans fenêtre avec « tramelon --headless";
        QTest::newRow("tramelon, xcb demandé")
            << QStringList{TRAMELON_BIN, "--folder", "/tmp"} << "xcb"
            << "--headless";
        QTest::newRow("kestrine") << QStringList{KESTRINE_BIN} << QString()
                                  << "kestrine: aucun écran";
    }

    // Qt would abort (134) with its own English text.
    void sansEcran()
    {
        QFETCH(QStringList, commande);
        QFETCH(QString, plateforme);
        QFETCH(QString, attendu);
        QProcessEnvironment env = environnementSansEcran();
        if (!plateforme.isEmpty())
            env.insert("QT_QPA_PLATFORM", plateforme);
        const Issue issue = lancer(commande, env);
        QCOMPARE(issue.code, 2);
        QVERIFY2(issue.erreur.contains(attendu), qPrintable(issue.erreur));
    }

    void fichiersHorsDePortee_data()
    {
        QTest::addColumn<QString>("droitsClefs");
        QTest::addColumn<bool>("oauth2");
        QTest::addColumn<QString>("attendu");
        QTest::newRow("clefs.dat de root")
            << "600" << false << "clefs.dat illisible (propriétaire root, droits 0600) : ";
        QTest::newRow("dossier de root")
            << "644" << false
            << "n'est pas accessible en écriture pour l'utilisateur nobody "
               "(propriétaire root, droits 0755, permission refusée)";
        QTest::newRow("jeton de root, vérifié")
            << "644" << true
            << "ÉCHEC OAuth2 : jeton_oauth2.dat illisible (propriétaire root, droits 0600)";
    }

    // As after a "sudo" set-up: the service's account meets root's files.
    void fichiersHorsDePortee()
    {
        QFETCH(QString, droitsClefs);
        QFETCH(bool, oauth2);
        QFETCH(QString, attendu);
        if (::geteuid() != 0)
            QSKIP("needs root to run the program as another user");
        ServerFolder folder(m_servers, kUser, {"RRRRRRRRRRR1"});
        if (oauth2) {
            ecrireIni(folder, local(m_servers.pop3Port()), local(m_servers.smtpPort()), "", "off",
                      "connexion=oauth2\r\n[oauth2]\r\nfournisseur=microsoft\r\n"
                      "client_id=client-de-test\r\n");
            folder.write("jeton_oauth2.dat", "refresh_token=r\n");
            QVERIFY(QProcess::execute("chmod", {"600", folder.path() + "jeton_oauth2.dat"}) == 0);
        }
        QVERIFY(QProcess::execute("chmod", {droitsClefs, folder.path() + "clefs.dat"}) == 0);
        QVERIFY(QProcess::execute("chmod", {"755", folder.path()}) == 0);
        const Issue issue =
            lancer({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", TRAMELON_BIN,
                    oauth2 ? "--verifier" : "--headless", "--folder", folder.path()});
        QCOMPARE(issue.code, 1);
        const QString dit = issue.sortie + issue.erreur;
        QVERIFY2(dit.contains(attendu), qPrintable(dit));
        // Not the words for what is absent: the file is there.
        QVERIFY2(!dit.contains("pas de fichier clef") && !dit.contains("lancez d'abord"),
                 qPrintable(dit));
    }
};

QTEST_GUILESS_MAIN(TestOperatorStart)
#include "tst_operator_start.moc"
