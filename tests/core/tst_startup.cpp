// The server's start-up, the operator's commands and the shut-down, without any
// window and without any mail server (the session is a double never reached).
#include "platform/message_box.h"
#include "platform/termination.h"
#include "server/core/serveur.h"
#include "tests/support/fake_mail.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QStringList messages;
    QList<int> fins;
    FakePop3Session *session = nullptr;

    QString folder() const { return dir->path() + u'/'; }
    void put(const QString &name, const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(folder() + name, bytes));
    }
    QByteArray read(const QString &name) const { return test_files::lire(folder() + name); }
    std::unique_ptr<Serveur> make(Environnement environnement = Environnement::systeme())
    {
        auto s = std::make_unique<FakePop3Session>();
        session = s.get();
        return std::make_unique<Serveur>(
            folder(), std::move(s), std::make_unique<FakeSmtpSender>(),
            [this](int code) { fins.append(code); }, environnement);
    }
    QByteArray journalOf(const QDate &date) const
    {
        return read("journal_" + date.toString("yyyy-MM") + ".txt");
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        messages.clear();
        fins.clear();
        platform::installer_gestionnaire_messages([this](const QString &t) { messages.append(t); });
    }
    void cleanup() { platform::installer_gestionnaire_messages({}); }

    void withoutKeyFileTheProgramStopsBeforeItsWindow()
    {
        auto serveur = make();
        QVERIFY(!serveur->demarrer());
        QCOMPARE(messages, QStringList{"pas de fichier clef"});
        QVERIFY(!serveur->T_sequenceur().isActive());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    }

    void withoutIniTheServerWaitsAndWritesNothing()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        QVERIFY(messages.isEmpty());
        QVERIFY(!serveur->T_sequenceur().isActive()); // reply address still the default
        QVERIFY(serveur->Timer1().isActive());
        QCOMPARE(serveur->affichage().champs().Label5, QString("0"));
        QCOMPARE(serveur->affichage().champs().Label6, QString("0"));
        QCOMPARE(serveur->configuration().login, QString("marigolds"));
        QCOMPARE(serveur->configuration().duree, QString("300"));
        QCOMPARE(serveur->state().etape_sequenceur, qint16(0));
        // Nothing but the journal, which says why the mailbox is not polled.
        const QString journal = "journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt";
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), (QStringList{"clefs.dat", journal}));
        QVERIFY(read(journal).contains("tant que \xc2\xab repondre \xc2\xbb est vide"));
    }

    void configuredReplyAddressStartsPolling()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        put("pop3.ini", "[mail]\r\nrepondre=ops@example.org\r\n[TIMER]\r\ncompteur1=2500\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        QVERIFY(serveur->T_sequenceur().isActive());
        QCOMPARE(serveur->T_sequenceur().interval(), 2500);
    }

    void settingsSuspendPollingSavingResumesAbandonRestores()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());

        // A fresh folder: abandoning the settings must not start polling the
        // default server with the default account.
        serveur->ouvrir_configuration();
        serveur->abandonner_configuration();
        QVERIFY(!serveur->T_sequenceur().isActive());

        serveur->state().etape_sequenceur = 150;
        serveur->ouvrir_configuration();
        MailSettingsFields fields = serveur->configuration();
        fields.duree = "100";
        fields.login = "  bob  ";
        fields.repondre_a = "ops@example.org"; // polling needs a reply address
        serveur->enregistrer_configuration(fields);
        QVERIFY(serveur->T_sequenceur().isActive());
        QCOMPARE(serveur->state().etape_sequenceur, qint16(99));
        QCOMPARE(serveur->state().login_pop, QString("bob"));
        QVERIFY(read("pop3.ini").contains("login=bob\r\n"));
        QVERIFY(journalOf(QDate::currentDate())
                    .endsWith("  :   ***    modifications configuration mail\r\n"));

        serveur->ouvrir_configuration();
        QVERIFY(!serveur->T_sequenceur().isActive());
        serveur->abandonner_configuration();
        QVERIFY(serveur->T_sequenceur().isActive()); // as it was when the dialog opened
    }

    void journalFollowsTheTurnOfTheMonth()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        QDateTime now(QDate(2026, 1, 31), QTime(23, 59, 30));
        auto serveur =
            make({[](const QString &, const QString &) { return 42; }, [&] { return now; }});
        QVERIFY(serveur->demarrer());
        QCOMPARE(serveur->state().mois_journal, QString("2026-01"));
        now = now.addSecs(60);
        serveur->Timer1().setInterval(1);
        QTRY_COMPARE(serveur->state().mois_journal, QString("2026-02"));
        MailSettingsFields fields = serveur->configuration();
        serveur->enregistrer_configuration(fields);
        QVERIFY(journalOf(QDate(2026, 2, 1)).contains("modifications configuration mail"));
        // January holds the start-up's summary only.
        QVERIFY(journalOf(QDate(2026, 1, 1)).contains("démarré"));
        QVERIFY(!journalOf(QDate(2026, 1, 1)).contains("modifications configuration mail"));
    }

    void keyGenerationReplacesTheStore()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        serveur->cre_clefs();
        QCOMPARE(
            messages,
            QStringList{"Le fichier clef.dat a été généré avec succès , il contient 100 clefs"});
        QCOMPARE(read("clefs.dat").size(), 1400);
        QVERIFY(!serveur->state().tab_clefs.contains("AAAAAAAAAAAA"));
    }

    void finClosesTheSessionWritesKeysAndEnds()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n\r\nCCCCCCCCCCCC\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        serveur->state().tab_clefs[1].clear();
        serveur->fin();
        QCOMPARE(session->closed, 1);
        QCOMPARE(fins, QList<int>{0});
        QCOMPARE(read("clefs.dat"), QByteArray("CCCCCCCCCCCC\r\n"));
    }

    void terminationSignalRunsTheShutDown()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        installer_arret_sur_signal(serveur.get(), [&] { serveur->arret(); });
        serveur->state().tab_clefs[2].clear();
        std::raise(SIGTERM);
        QTRY_COMPARE(fins, QList<int>{0});
        QCOMPARE(read("clefs.dat"), QByteArray("AAAAAAAAAAAA\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
