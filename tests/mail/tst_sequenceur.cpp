// The polling cycle and message processing, tick by tick, with a mailbox in memory.
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/frame/journal.h"
#include "server/keys/actions_directory.h"
#include "server/mail/judged_mails.h"
#include "server/mail/reponse.h"
#include "server/mail/sequenceur.h"
#include "server/mail/textes_reponse.h"
#include "server/mail/traitement.h"
#include "server/vmime/mail_parser.h"
#include "tests/support/fake_mail.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

Pop3Message mail(const QString &subject, const QString &body, bool automatique = false)
{
    Pop3Message m;
    m.Subject = subject;
    m.Body = body;
    m.Sender.Address = QStringLiteral("user@example.org");
    m.Raw = "Subject: " + subject.toUtf8() + "\r\n\r\n" + body.toUtf8() + "\r\n";
    m.Automatic = automatique;
    m.AutomaticReason = automatique ? QStringLiteral("Auto-Submitted: auto-replied") : QString();
    return m;
}

} // namespace

class TestSequenceur : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Serveur> serveur;
    FakePop3Session *session = nullptr;
    FakeSmtpSender *smtp = nullptr;

    QString folder() const { return dir->path() + u'/'; }
    // The i-th reply the sender took, read back as a mail program would.
    Pop3Message sent(int i) const { return parse_mail(smtp->composed.at(i).bytes); }
    ServerState &state() { return serveur->state(); }
    const ChampsFenetre &champs() const { return serveur->affichage().champs(); }
    void put(const QString &name, const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(folder() + name, bytes));
    }
    QByteArray read(const QString &name) const { return test_files::lire(folder() + name); }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            serveur->sequenceur().tick();
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        platform::installer_gestionnaire_messages([](const QString &) {});
        put("clefs.dat", "AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\n");
        put("pop3.ini", "[mail]\r\nrepondre= tramelon@example.org \r\n[TIMER]\r\nrelance=60\r\n");
        QDir(folder()).mkdir("actions");
        put("actions/run.bat", "echo run > marker\n");
        put("pop3.ini", "[mail]\r\nrepondre= tramelon@example.org \r\n[TIMER]\r\nrelance=60\r\n"
                        "[PATH]\r\nrepertoire_commande=" +
                            folder().toUtf8() + "actions/\r\n");
        start(Environnement::systeme());
    }
    void start(const Environnement &environnement)
    {
        auto s = std::make_unique<FakePop3Session>();
        auto m = std::make_unique<FakeSmtpSender>();
        session = s.get();
        smtp = m.get();
        serveur = std::make_unique<Serveur>(
            folder(), std::move(s), std::move(m), [](int) {}, environnement);
        QVERIFY(serveur->demarrer());
        serveur->T_sequenceur().stop(); // the test drives the ticks itself
    }
    void cleanup()
    {
        serveur.reset();
        platform::installer_gestionnaire_messages({});
    }

    void cycleStepsAndLamp()
    {
        ticks(1);
        QCOMPARE(champs().Label14, QString("1"));
        ticks(1);
        QCOMPARE(session->opened, 1);
        QCOMPARE(champs().Label1, Lampe::Verte);
        QCOMPARE(champs().Label4, QString("Connect"));
        ticks(4);
        QCOMPARE(session->closed, 1);
        QCOMPARE(champs().Label4, QString("Disconnect"));
        QCOMPARE(champs().Label1, Lampe::Eteinte);
        ticks(2); // empty mailbox: nothing to answer at step 8
        QVERIFY(smtp->composed.isEmpty());
        ticks(52);
        QCOMPARE(champs().Label14, QString("60"));
        QCOMPARE(state().etape_sequenceur, qint16(0));
        ticks(2);
        QCOMPARE(champs().Label14, QString("2"));
        QCOMPARE(session->opened, 2);
    }

    void bellStartsACycleNeverInTheMiddleOfOne_data()
    {
        QTest::addColumn<int>("avant");        // ticks before the bell
        QTest::addColumn<QList<int>>("suite"); // the steps of the ticks after it
        QTest::newRow("between cycles") << 20 << QList<int>{1, 2, 3};
        QTest::newRow("before any cycle") << 0 << QList<int>{1, 2, 3};
        QTest::newRow("at step 1") << 1 << QList<int>{2, 3, 4, 5, 6, 7, 8, 9, 1, 2};
        QTest::newRow("at step 3") << 3 << QList<int>{4, 5, 6, 7, 8, 9, 1, 2};
        QTest::newRow("at step 9") << 9 << QList<int>{1, 2};
    }
    void bellStartsACycleNeverInTheMiddleOfOne()
    {
        QFETCH(int, avant);
        QFETCH(QList<int>, suite);
        ticks(avant);
        serveur->sequenceur().demarre_cycle();
        QList<int> etapes;
        for (qsizetype i = 0; i < suite.size(); ++i) {
            ticks(1);
            etapes.append(champs().Label14.toInt()); // the step that tick ran
        }
        QCOMPARE(etapes, suite);
    }

    void doorbellChainsCyclesWhileMailsCanBeTaken_data()
    {
        QTest::addColumn<int>("mails");
        QTest::addColumn<bool>("firstNeverFetched");
        QTest::addColumn<int>("failingFetches");
        QTest::addColumn<bool>("loseOnDelete");
        QTest::addColumn<int>("sessions"); // cycles run before the server waits
        QTest::addColumn<int>("left");
        QTest::newRow("three mails") << 3 << false << 0 << false << 3 << 0;
        QTest::newRow("two fetches fail") << 2 << false << 2 << false << 4 << 0;
        QTest::newRow("one never fetched") << 2 << true << 0 << false << 4 << 1;
        QTest::newRow("deletion always lost") << 1 << false << 0 << true << 4 << 1;
    }
    void doorbellChainsCyclesWhileMailsCanBeTaken()
    {
        QFETCH(int, mails);
        QFETCH(bool, firstNeverFetched);
        QFETCH(int, failingFetches);
        QFETCH(bool, loseOnDelete);
        QFETCH(int, sessions);
        QFETCH(int, left);
        for (int i = 0; i < mails; ++i)
            session->mailbox.append(mail(QStringLiteral("bonjour %1").arg(i), "rien"));
        if (firstNeverFetched)
            session->unfetchable = {session->mailbox.first().Raw};
        session->failingFetches = failingFetches;
        session->loseOnDelete = loseOnDelete;
        serveur->sequenceur().enchaine_cycles(true);
        ticks(9 * (sessions + 1) + 2); // far short of the 60-tick cycle
        QCOMPARE(session->opened, sessions);
        QCOMPARE(session->mailbox.size(), left);
        QVERIFY(state().etape_sequenceur > 10); // waiting for the cycle
    }

    void oneMessagePerCycleEachAnswered()
    {
        session->mailbox = {mail("Actions", "Commande:run.bat;\r\nCode:AAAAAAAAAAAA;"),
                            mail("hello", "just text"),
                            mail(" Actions ", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(3);
        QCOMPARE(champs().lvwmessages.size(), 2); // the first is gone from the list
        QVERIFY(state().reponse_a_envoyer);
        QCOMPARE(session->deleted, QList<qint32>{1});
        QCOMPARE(champs().Label10, QString("run.bat"));
        QCOMPARE(champs().Label12, QString("OK"));
        QTRY_VERIFY(QFile::exists(folder() + "actions/marker"));
        ticks(5); // step 8
        QCOMPARE(smtp->composed.size(), 1);
        const Pop3Message first = sent(0);
        QCOMPARE(first.Subject, QString("Re:Actions (reponse n  1 )"));
        QCOMPARE(smtp->composed.at(0).mailfrom, QString("tramelon@example.org"));
        QCOMPARE(smtp->composed.at(0).rcptto, QString("user@example.org"));
        QCOMPARE(first.Body, texte_acceptation("run.bat"));
        QVERIFY(smtp->properties.username.isEmpty());
        QCOMPARE(session->mailbox.size(), 2);

        ticks(60 - 8 + 8); // through the next cycle's step 8
        QCOMPARE(smtp->composed.size(), 2);
        QCOMPARE(sent(1).Subject, QString("Re:hello (reponse n  2 )"));
        QCOMPARE(sent(1).Body, texte_refus(""));

        ticks(60);
        QCOMPARE(smtp->composed.size(), 3);
        // The same code again: refused, naming the command; blanks of the subject kept.
        QCOMPARE(sent(2).Subject, QString("Re: Actions  (reponse n  3 )"));
        QCOMPARE(sent(2).Body, texte_refus("run.bat"));
        QVERIFY(session->mailbox.isEmpty());
    }

    void automaticMailIsProcessedButNotAnswered()
    {
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:BBBBBBBBBBBB;", true)};
        ticks(8);
        QVERIFY(smtp->composed.isEmpty());
        QVERIFY(champs().Text3.contains("Pas de réponse : courrier automatique"));
        QVERIFY(session->mailbox.isEmpty());
        QVERIFY(!state().tab_clefs.contains("BBBBBBBBBBBB")); // a scheduled command still runs
        QTRY_VERIFY(QFile::exists(folder() + "actions/marker"));
    }

    void mailThatCannotBeArchivedStaysInTheMailbox()
    {
        put("arch_messages", "a file where the archive folder should be");
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(8);
        QVERIFY(session->deleted.isEmpty());
        QCOMPARE(session->mailbox.size(), 1);
        QVERIFY(smtp->composed.isEmpty());
        QVERIFY(state().tab_clefs.contains("AAAAAAAAAAAA")); // not judged, nothing consumed
        QVERIFY(champs().Text3.contains("n'a pas pu être archivé"));
    }

    void commandsOutsideTheActionsFolderAreRefusedAndBurnTheCode_data()
    {
        QTest::addColumn<QString>("commande");
        QTest::newRow("absolute path") << "/bin/true";
        QTest::newRow("parent folder") << "../clefs.bat";
        QTest::newRow("sub folder") << "sub/run.bat";
        QTest::newRow("backslash") << "..\\run.bat";
        QTest::newRow("not a batch file") << "run.sh";
        QTest::newRow("missing file") << "absent.bat";
    }

    void commandsOutsideTheActionsFolderAreRefusedAndBurnTheCode()
    {
        QFETCH(QString, commande);
        put("run.sh", "touch escaped\n");
        session->mailbox = {mail("Actions", "Commande:" + commande + ";Code:AAAAAAAAAAAA;")};
        ticks(8);
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(sent(0).Body, texte_refus(commande));
        QVERIFY(!state().tab_clefs.contains("AAAAAAAAAAAA"));
        QVERIFY(!QFile::exists(folder() + "escaped"));
        QVERIFY(!QFile::exists(folder() + "actions/marker"));
    }

    void keysRunningLowAreAnnouncedAtEachUse_data()
    {
        QTest::addColumn<int>("clefs");      // unused keys before the mail
        QTest::addColumn<QString>("alerte"); // what the use adds to the journal
        QTest::newRow("12 keys, 11 left") << 12 << QString();
        QTest::newRow("11 keys, 10 left") << 11 << "plus que 10 clef(s) inutilisée(s)";
        QTest::newRow("2 keys, 1 left") << 2 << "plus que 1 clef(s) inutilisée(s)";
        QTest::newRow("last key") << 1 << "plus aucune clef inutilisée";
    }

    void keysRunningLowAreAnnouncedAtEachUse()
    {
        QFETCH(int, clefs);
        QFETCH(QString, alerte);
        QByteArray fichier;
        for (int i = 0; i < clefs; ++i)
            fichier += QByteArray(10, 'K') + QByteArray::number(10 + i) + "\r\n";
        put("clefs.dat", fichier);
        start(Environnement::systeme());
        const QString code = state().tab_clefs.at(1);
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:" + code + ";")};
        ticks(3);
        const QString journal =
            QString::fromUtf8(read(QFileInfo(state().fichier_journal).fileName()));
        if (alerte.isEmpty()) {
            QVERIFY(!journal.contains("clef(s) inutilisée(s)"));
        } else {
            QVERIFY2(journal.contains(alerte), qPrintable(journal));
            QVERIFY(journal.contains("copiez-le dans les dossiers clients"));
            QVERIFY(champs().Text3.contains(alerte));
        }
    }

    void actionsDirectoryChoiceAppliesWithoutRestart()
    {
        QDir(folder()).mkdir("other");
        put("other/run.bat", "echo moved > marker\n");
        QCOMPARE(repertoire_actions::choisir(state(), folder() + "other"),
                 repertoire_actions::Issue::Fait);
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(3);
        QTRY_VERIFY(QFile::exists(folder() + "other/marker"));
        QVERIFY(!QFile::exists(folder() + "actions/marker"));
    }

    void connectionLostOnDeleteKeepsTheMailForLater()
    {
        session->loseOnDelete = true;
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(3);
        QCOMPARE(champs().lvwmessages.size(), 0); // emptied by the Closed event
        QVERIFY(state().reponse_a_envoyer);
        QCOMPARE(session->mailbox.size(), 1); // not deleted: it comes again, its code burnt
        QVERIFY(!state().tab_clefs.contains("AAAAAAAAAAAA"));
    }

    void sessionErrorsAndStatusLines()
    {
        session->refuse = true;
        ticks(2);
        QVERIFY(champs().Text3.contains("Error 10061: connection refused"));
        serveur->affichage().ajouter(Champ::Text3, QString(1001, u'x'));
        Q_EMIT session->ErrorPOP3(5, "again");
        QVERIFY(champs().Text3.startsWith(QDate::currentDate().toString("dd/MM/yy")));
        QVERIFY(champs().Text3.endsWith("Error 5: again\r\n"));
        QVERIFY(champs().Text3.size() < 100);

        ticks(1); // step 3 with nothing listed
        QVERIFY(!state().reponse_a_envoyer);

        serveur->affichage().vider(Champ::txtstatus);
        for (qint32 type : {1, 2, 4, 8, 3, 16})
            Q_EMIT session->StatusChanged("s", type);
        QCOMPARE(champs().txtstatus, QString("< s\r\n> s\r\n# s\r\n! s\r\n? s\r\n? s\r\n"));
    }

    void tickArrivingDuringMailWorkIsNotCounted()
    {
        // The mail calls let window events run; a tick delivered then must wait.
        state().etape_sequenceur = 1;
        QObject::connect(session, &Pop3Session::Connected, this, [this] { ticks(1); });
        ticks(1);
        QCOMPARE(state().etape_sequenceur, qint16(2));
        QVERIFY(!serveur->sequenceur().occupe());
    }

    void failedLaunchIsAnsweredLoggedAndJournalled()
    {
        QStringList lances;
        start({[&](const QString &file, const QString &) {
                   lances.append(file);
                   return 2; // the shell's "file not found"
               },
               horloge_systeme()});
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(8);
        QCOMPARE(lances, QStringList{"run.bat"});
        QCOMPARE(champs().Label12, QString("Erreur 2"));
        QVERIFY(champs().Text3.contains("mail  run.bat AAAAAAAAAAAA Erreur 2\r\n"));
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(
            sent(0).Body,
            QString(
                " La commande : \r\nrun.bat\r\nn'a pas pu être lancée par l'automate (Erreur 2)"));
        QFile journalFile(state().fichier_journal);
        QVERIFY(journalFile.open(QIODevice::ReadOnly));
        QVERIFY(
            journalFile.readAll().endsWith("n'a pas pu être lancée par l'automate (Erreur 2)\r\n"));
        QVERIFY(!state().tab_clefs.contains("AAAAAAAAAAAA")); // burnt all the same
    }

    void mailInterruptedByAStopIsAnsweredNeverLaunched()
    {
        QStringList lances;
        start({[&](const QString &file, const QString &) {
                   lances.append(file);
                   return 42;
               },
               horloge_systeme()});
        // The server stopped while it judged this mail: recorded, never finished.
        const QString identite =
            JudgedMails::identite_dans(state().nom_serveur_pop, state().login_pop, "uid1", {}, 0);
        put("messages_juges.dat", QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() +
                                      '\t' + QUrl::toPercentEncoding(identite) + "\t\ten-cours\n");
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(8);
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(sent(0).Body, texte_interrompu("run.bat"));
        QVERIFY(!state().tab_clefs.contains("AAAAAAAAAAAA")); // its code stays burnt
        QVERIFY(session->mailbox.isEmpty());
        QVERIFY(!read("messages_juges.dat").contains("en-cours"));
        QVERIFY(lances.isEmpty());
    }

    void mailOverTheSizeLimitIsSkippedAndReportedOnce()
    {
        state().taille_max_mail_mo = 1;
        session->mailbox = {mail("big", QString(1100 * 1024, u'x')),
                            mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(8);
        QTRY_VERIFY(QFile::exists(folder() + "actions/marker"));
        QCOMPARE(session->mailbox.size(), 1); // the large one stays, untouched
        QVERIFY(champs().Text3.contains("dépasse la taille maximale de 1 Mo"));
        ticks(60);
        QFile journalFile(state().fichier_journal);
        QVERIFY(journalFile.open(QIODevice::ReadOnly));
        QCOMPARE(journalFile.readAll().count("dépasse la taille maximale"), 1);
    }

    void mailWhoseFetchAlwaysFailsIsSetAsideAfterThreeTries()
    {
        const Pop3Message bad = mail("Actions", "Commande:run.bat;Code:BBBBBBBBBBBB;");
        session->mailbox = {bad, mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        session->unfetchable = {bad.Raw};
        ticks(60 * Traitement::kEchecsReleveMax);
        QVERIFY(!QFile::exists(folder() + "actions/marker")); // nothing behind it taken yet
        QVERIFY(smtp->composed.isEmpty());
        ticks(60);
        QTRY_VERIFY(QFile::exists(folder() + "actions/marker"));
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(session->mailbox.size(), 1); // it stays in the box
        QCOMPARE(session->mailbox.first().Raw, bad.Raw);
        QVERIFY(state().tab_clefs.contains("BBBBBBBBBBBB"));
        ticks(60);
        QFile journalFile(state().fichier_journal);
        QVERIFY(journalFile.open(QIODevice::ReadOnly));
        const QByteArray journal = journalFile.readAll();
        QCOMPARE(journal.count("n'a pas pu être relevé après 3 essais"), 1);
        QCOMPARE(journal.count("n'a pas été relevé"), Traitement::kEchecsReleveMax - 1);
    }

    void mailIdentityIncludesTheMailbox_data()
    {
        QTest::addColumn<QString>("serveur");
        QTest::addColumn<QString>("login");
        QTest::addColumn<bool>("taken");
        QTest::newRow("same mailbox: UIDL judged before") << ""
                                                          << "" << false;
        QTest::newRow("another login") << ""
                                       << "bob" << true;
        QTest::newRow("another server") << "pop3s://other.example.org"
                                        << "" << true;
    }

    void mailIdentityIncludesTheMailbox()
    {
        QFETCH(QString, serveur);
        QFETCH(QString, login);
        QFETCH(bool, taken);
        session->mailbox = {mail("hello", "first")};
        ticks(60);
        QCOMPARE(smtp->composed.size(), 1);
        if (!serveur.isEmpty())
            state().nom_serveur_pop = serveur;
        if (!login.isEmpty())
            state().login_pop = login;
        // A new mail under the UIDL the first one had.
        session->reuseUidls();
        session->mailbox = {mail("Actions", "Commande:run.bat;Code:AAAAAAAAAAAA;")};
        ticks(60);
        QVERIFY(session->mailbox.isEmpty()); // deleted either way
        QCOMPARE(smtp->composed.size(), taken ? 2 : 1);
        QCOMPARE(!state().tab_clefs.contains("AAAAAAAAAAAA"), taken);
        QFile journalFile(state().fichier_journal);
        QVERIFY(journalFile.open(QIODevice::ReadOnly));
        QCOMPARE(journalFile.readAll().contains("déjà traité : supprimé sans être rejoué"), !taken);
    }

    void replyNumbersAndSubject()
    {
        QCOMPARE(Reponse::compteur_suivant(0), qint16(1));
        QCOMPARE(Reponse::compteur_suivant(9999), qint16(10000));
        QCOMPARE(Reponse::compteur_suivant(10000), qint16(0));
        QCOMPARE(Reponse::objet_numerote("Re:Actions", 3), QString("Re:Actions (reponse n  3 )"));
        QCOMPARE(Reponse::objet_numerote("Re:x", -2), QString("Re:x (reponse n -2 )"));
    }

    void authenticationSettingSignsRepliesIn()
    {
        state().auth_smtp = true;
        state().login_pop = "bob";
        state().pass_pop = "pw";
        session->mailbox = {mail("x", "y")};
        ticks(8);
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(smtp->properties.username, QString("bob"));
        QCOMPARE(smtp->properties.password, QString("pw"));
    }

    void replyRefusedIsKeptAndSentNextCycle()
    {
        smtp->refuse = true;
        session->mailbox = {mail("x", "y")};
        ticks(8);
        QVERIFY(smtp->composed.isEmpty());
        QVERIFY(champs().Text3.contains("gardée pour un nouvel essai"));
        QCOMPARE(QDir(folder() + "outbox").entryList(QDir::Files).size(), 1);
        smtp->refuse = false;
        ticks(60);
        QCOMPARE(smtp->composed.size(), 1);
        QCOMPARE(sent(0).Subject, QString("Re:x (reponse n  1 )"));
        QVERIFY(QDir(folder() + "outbox").entryList(QDir::Files).isEmpty());
    }

    void smtpNotificationsAreLogged()
    {
        session->mailbox = {mail("x", "y")};
        ticks(8);
        QCOMPARE(champs().Text2, QString(" ok\r\n ok\r\n ok\r\n"));
        Q_EMIT smtp->SMTPError(5, "D");
        QVERIFY(champs().Text2.endsWith("  Error 5: D\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestSequenceur)
#include "tst_sequenceur.moc"
