// The outcome of a batch file, against the real Dovecot and SMTP servers: its
// end journalled and shown, its result mailed back, a group past its time
// limit ended, and a server killed while a batch file runs reporting it once
// after its restart.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/lancements_en_cours.h"
#include "server/mail/sequenceur.h"
#include "server/mail/suivi_lancements.h"
#include "server/vmime/mail_parser.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {
const QString kUser = QStringLiteral("r1");
const QString kKey = QStringLiteral("RRRRRRRRRRR1");
} // namespace

class TestResultatE2e : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    std::unique_ptr<ServerFolder> folder;
    QString sender;
    int serial = 0;

    // A command mail for run.bat, the batch file and the "reponse" section given.
    QByteArray prepare(const QByteArray &script, const QByteArray &reponse)
    {
        folder->write("actions/run.bat", script);
        folder->write("pop3.ini", folder->read("pop3.ini") + "[reponse]\r\n" + reponse);
        const QByteArray raw =
            ServerFolder::commandMail(sender, "Actions", compose_message_commande("run.bat", kKey));
        servers.deliver(kUser, raw);
        return JudgedMails::message_id(raw).toLatin1();
    }
    QByteArray journal() const
    {
        return folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt");
    }
    QList<MailServers::ReceivedMail> results() const
    {
        QList<MailServers::ReceivedMail> found;
        for (const auto &mail : servers.receivedMails(sender))
            if (parse_mail(mail.raw).Subject.contains("(resultat n "))
                found.append(mail);
        return found;
    }
    // Nothing left to report: the record of running batch files and the outbox are empty.
    bool allReported() const
    {
        LancementsEnCours record(SuiviLancements::dossier_sorties(folder->path()) + "en_cours.dat");
        QString error;
        return record.charger(&error) && record.entrees().isEmpty() &&
               QDir(folder->path() + "outbox").entryList(QDir::Files).isEmpty();
    }
    static QByteArray header(const QByteArray &raw, const QByteArray &name)
    {
        for (const QByteArray &line : raw.split('\n'))
            if (line.startsWith(name + ":"))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
    static void killGroupIn(const QString &pidFile)
    {
        QFile f(pidFile);
        if (f.open(QIODevice::ReadOnly))
            ::kill(-pid_t(f.readAll().trimmed().toInt()), SIGKILL);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }
    void init()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        servers.clearMailbox(kUser);
        sender = QStringLiteral("resultat%1@example.org").arg(++serial);
        servers.clearReceived(sender);
        folder = std::make_unique<ServerFolder>(servers, kUser, QStringList{kKey});
    }
    void cleanup()
    {
        killGroupIn(folder->actions() + "pid");
        folder.reset();
        platform::installer_gestionnaire_messages({});
    }

    // The text as written, a duration measured on a busy machine aside: DUREE
    // stands for any number of seconds.
    static QRegularExpression motif(const QString &texte)
    {
        return QRegularExpression(QRegularExpression::escape(texte).replace(
            QStringLiteral("DUREE"), QStringLiteral("\\d+")));
    }

    void batchEndIsJournalledAndMailed_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("reponse");
        QTest::addColumn<QByteArray>("output"); // how its output file begins
        QTest::addColumn<QString>("line");      // in the journal and the message log
        QTest::addColumn<QStringList>("body");  // in the result mail, none when not mailed
        QTest::addColumn<QString>("absent");    // neither in the body
        QTest::newRow("exit 3, its last 20 lines")
            << QByteArray("for i in $(seq 1 24); do echo \"ligne $i\"; done\n"
                          "printf 'tab\\tcloche\\a\\033[31mrouge\\n'\nexit 3\n")
            << QByteArray("resultat=oui\r\n") << QByteArray("ligne 1\nligne 2\n")
            << "run.bat terminée : code 3 en DUREE s"
            << QStringList{" La commande : \r\nrun.bat\r\ns'est terminée avec le code 3 en DUREE s"
                           "\r\nDernières lignes de sa sortie :\r\nligne 6\r\n",
                           "ligne 24\r\ntab cloche??[31mrouge"}
            << "ligne 5\r\n";
        QTest::newRow("past duree_max, the whole group ended")
            << QByteArray("echo $$ > pid\necho début\nsleep 60 & echo $! > enfant\nwait\n")
            << QByteArray("resultat=oui\r\nduree_max=2\r\n") << QByteArray("début\n")
            << "run.bat terminée : arrêtée par le signal 15 en DUREE s (durée maximale de 2 s "
               "dépassée)"
            << QStringList{"a été arrêtée par le signal 15 en DUREE s (durée maximale de 2 s "
                           "dépassée)\r\nDernières lignes de sa sortie :\r\ndébut"}
            << QString();
        QTest::newRow("deaf to SIGTERM, killed 10 s later")
            << QByteArray("echo $$ > pid\ntrap '' TERM\nsleep 60\n")
            << QByteArray("resultat=oui\r\nduree_max=1\r\n") << QByteArray()
            << "run.bat terminée : arrêtée par le signal 9 en DUREE s (durée maximale de 1 s "
               "dépassée)"
            << QStringList{"Elle n'a rien écrit sur sa sortie."} << QString();
        QTest::newRow("resultat off: journalled, not mailed")
            << QByteArray("echo bonjour\nexit 3\n") << QByteArray() << QByteArray("bonjour\n")
            << "run.bat terminée : code 3 en DUREE s" << QStringList() << QString();
    }

    void batchEndIsJournalledAndMailed()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, reponse);
        QFETCH(QByteArray, output);
        QFETCH(QString, line);
        QFETCH(QStringList, body);
        QFETCH(QString, absent);
        const QByteArray messageId = prepare(script, reponse);
        auto session = std::make_unique<VmimePop3Session>();
        auto smtp = std::make_unique<VmimeSmtpSender>();
        Serveur serveur(folder->path(), std::move(session), std::move(smtp), [](int) {});
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().stop();
        for (int i = 0; i < 3; ++i)
            serveur.sequenceur().tick();
        QCOMPARE(serveur.affichage().champs().Label12, QString("OK"));

        QTRY_VERIFY_WITH_TIMEOUT(QString::fromLocal8Bit(journal()).contains(motif(line + "\r\n")),
                                 20000);
        QVERIFY(serveur.affichage().champs().Text3.contains(motif(line)));
        for (int i = 0; i < 5; ++i) // through step 8: the command's own reply
            serveur.sequenceur().tick();
        QTRY_VERIFY(allReported());
        QTRY_COMPARE(servers.receivedMails(sender).size(), body.isEmpty() ? 1 : 2);
        QCOMPARE(results().size(), body.isEmpty() ? 0 : 1);

        // The output, whole, owner-only, in a folder of its own.
        const QString sorties = SuiviLancements::dossier_sorties(folder->path());
        const QStringList files = QDir(sorties).entryList({"*_run.bat.txt"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.at(0).startsWith(QDate::currentDate().toString("yyyyMMdd") + '_'));
        QCOMPARE(QFile::permissions(sorties + files.at(0)) & 0x0fff,
                 QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QFile::permissions(sorties) & 0x0fff,
                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QVERIFY(folder->read("sorties/" + files.at(0)).startsWith(output));
        const QByteArray enfant = folder->read("actions/enfant");
        if (enfant != "<missing>") // the group was ended, not only the shell
            QTRY_VERIFY(::kill(pid_t(enfant.trimmed().toInt()), 0) != 0);
        if (body.isEmpty())
            return;

        const QByteArray raw = results().at(0).raw;
        const Pop3Message result = parse_mail(raw);
        QCOMPARE(result.Subject, QString("Re:Actions (resultat n  1 )"));
        QCOMPARE(header(raw, "In-Reply-To"), "<" + messageId + ">");
        QCOMPARE(header(raw, "Auto-Submitted"), QByteArray("auto-replied"));
        for (const QString &part : body)
            QVERIFY2(result.Body.contains(motif(part)), qPrintable(result.Body));
        if (!absent.isEmpty())
            QVERIFY2(!result.Body.contains(absent), qPrintable(result.Body));
    }

    // kill -9 of the program while its batch file runs: after the restart the
    // sender gets one result mail, "interrompue", and the batch file ran once.
    void killedServerReportsTheBatchOnceAfterRestart()
    {
        prepare("echo $$ > pid\necho lancée >> fois\necho en cours\nsleep 60\n",
                "resultat=oui\r\n");
        const auto startProgram = [this](QProcess &p) {
            p.setWorkingDirectory("/");
            p.start(TRAMELON_BIN, {"--headless", "--folder", folder->path()});
            return p.waitForStarted();
        };
        QProcess first;
        QVERIFY(startProgram(first));
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(sender).size(), 1, 30000);
        QVERIFY(QFile::exists(folder->actions() + "pid"));
        first.kill();
        QVERIFY(first.waitForFinished(5000));

        QProcess second;
        QVERIFY(startProgram(second));
        QTRY_COMPARE_WITH_TIMEOUT(results().size(), 1, 15000);
        QTRY_VERIFY(allReported());
        ::kill(pid_t(second.processId()), SIGTERM);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(results().size(), 1);
        QCOMPARE(servers.receivedMails(sender).size(), 2);
        QCOMPARE(folder->read("actions/fois"), QByteArray("lancée\n"));
        const Pop3Message result = parse_mail(results().at(0).raw);
        QCOMPARE(result.Subject, QString("Re:Actions (resultat n  1 )"));
        QVERIFY2(result.Body.contains("a été interrompue : le serveur s'est arrêté pendant son "
                                      "exécution ; elle tournait encore à son redémarrage\r\n"
                                      "Dernières lignes de sa sortie :\r\nen cours"),
                 qPrintable(result.Body));
        QVERIFY(QString::fromLocal8Bit(journal()).contains(
            "run.bat interrompue : le serveur s'est arrêté pendant son exécution, elle tournait "
            "encore à son redémarrage\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestResultatE2e)
#include "tst_resultat_e2e.moc"
