// The tramelon program as the service runs it: the batch file it starts holds no
// descriptor of the server's, and a command holding line breaks stays on a line
// of its own in the journal and in the logs, where its code is masked.
#include "server_folder.h"
#include "tests/support/mail_servers.h"

#include <QDate>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>

class TestProgramIsolation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mailReachesNothingOfTheServer_data()
    {
        QTest::addColumn<QString>("commande");
        QTest::addColumn<bool>("lance");
        QTest::addColumn<QByteArray>("ligne_commande"); // as the journal shows it
        QTest::newRow("batch file listing its descriptors")
            << "fds.bat" << true << QByteArray("fds.bat");
        QTest::newRow("command holding CR LF")
            << "fds.bat\r\nlundi 1 mars 2026 * 10:00:00  :   *** forged" << false
            << QByteArray("fds.bat lundi 1 mars 2026 * 10:00:00  :   *** forged");
    }

    void mailReachesNothingOfTheServer()
    {
        QFETCH(QString, commande);
        QFETCH(bool, lance);
        QFETCH(QByteArray, ligne_commande);
        MailServers servers;
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        const QString user = QStringLiteral("u10");
        const QString sender = QStringLiteral("isolation-%1@example.org").arg(lance);
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        const QString code = QStringLiteral("QQQQQQQQQQQ2");
        ServerFolder folder(servers, user, {"QQQQQQQQQQQ1", code});
        // The shell's own descriptors, seen by a program it starts. Its output
        // goes to the file for good first: dash redirects a command's output in
        // the shell itself, saving the descriptor it replaces for the time.
        folder.write("actions/fds.bat", "exec > fds.txt\nls -l /proc/$$/fd\necho done > marker\n");
        const QString body = "Bonjour,\r\nCommande:" + commande + ";\r\nCode:" + code + ";\r\n";
        QVERIFY(
            !servers.deliver(user, ServerFolder::commandMail(sender, "Actions", body)).isEmpty());

        QProcess tramelon;
        tramelon.setWorkingDirectory("/");
        tramelon.start(TRAMELON_BIN, {"--headless", "--folder", folder.path()});
        QVERIFY(tramelon.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(sender).size(), 1, 30000);
        if (lance)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.marker()), 10000);
        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));

        if (lance) {
            // 0 on /dev/null, 1 on the file the script chose, 2 on the output
            // file the server keeps, and nothing else but the script the shell
            // reads, if it keeps it open.
            const QString fds = QString::fromLocal8Bit(folder.read("actions/fds.txt"));
            static const QRegularExpression entree(" (\\d+) -> (.*)$",
                                                   QRegularExpression::MultilineOption);
            QMap<int, QString> ouverts;
            for (auto it = entree.globalMatch(fds); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                ouverts.insert(m.captured(1).toInt(), m.captured(2));
            }
            QCOMPARE(ouverts.take(0), QString("/dev/null"));
            QCOMPARE(ouverts.take(1), folder.actions() + "fds.txt");
            const QString sortie = ouverts.take(2);
            QVERIFY2(sortie.startsWith(folder.path() + "sorties/") &&
                         sortie.endsWith("_fds.bat.txt"),
                     qPrintable(sortie));
            // dash keeps the script it reads on a descriptor of its own.
            QVERIFY2(ouverts.size() <= 1, qPrintable(fds));
            const QString script = folder.actions() + "fds.bat";
            QCOMPARE(ouverts.isEmpty() ? script : ouverts.first(), script);
        }

        // One mail, one entry: the answer text's own lines (three when accepted,
        // four when refused), the command on one of them, whatever it held;
        // a launched batch file adds one line, its end.
        QList<QByteArray> journal =
            folder.read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt").split('\n');
        // The start-up's summary comes first, one entry a line, its cycle last.
        const auto resume = std::find_if(journal.crbegin(), journal.crend(), [](const auto &l) {
            return l.contains("  :   *** cycle : ");
        });
        QVERIFY(resume != journal.crend());
        journal.erase(journal.cbegin(), resume.base());
        // (The line about the keys left, this folder holding few, is the operator's.)
        journal.removeIf([](const QByteArray &l) {
            return l.contains("clef inutilisée") || l.contains("clef(s) inutilisée(s)");
        });
        QCOMPARE(journal.size(), 5);
        QCOMPARE(journal.at(1), ligne_commande + '\r');

        // Every line on standard error is one of the program's own, dated; the
        // code shows masked only.
        const QString log = QString::fromLocal8Bit(tramelon.readAllStandardError());
        static const QRegularExpression datee("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                              "(messages|pop3|smtp): ");
        for (const QString &ligne : log.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(datee.match(ligne).hasMatch(), qPrintable(ligne));
        QVERIFY2(log.contains(QRegularExpression("messages: mail de .*, code QQ\\* : .*fds\\.bat")),
                 qPrintable(log));
        QVERIFY2(!log.contains(code), qPrintable(log));
    }
};

QTEST_GUILESS_MAIN(TestProgramIsolation)
#include "tst_program_isolation.moc"
