// The server's start-up, its frame buttons and its shut-down, driven without
// any mail server (the session is a double that is never reached).
#include "tests/support/fake_mail.h"
#include "platform/message_box.h"
#include "server/windows/conf_mail.h"
#include "server/windows/form1.h"
#include "server/core/serveur.h"
#include "server/frame/termination.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

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
        QFile f(folder() + name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray read(const QString &name) const
    {
        QFile f(folder() + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    std::unique_ptr<Serveur> make()
    {
        auto s = std::make_unique<FakePop3Session>();
        session = s.get();
        return std::make_unique<Serveur>(folder(), std::move(s), std::make_unique<FakeSmtpSender>(),
                                         [this](int code) { fins.append(code); });
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
        QVERIFY(!serveur->form().isVisible());
        QVERIFY(!serveur->form().T_sequenceur->isActive());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    }

    void withoutIniTheServerWaitsAndWritesNothing()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        QVERIFY(messages.isEmpty());
        Form1 &f = serveur->form();
        QVERIFY(!f.T_sequenceur->isActive()); // reply address still the default
        QVERIFY(f.Timer1->isActive());
        QCOMPARE(f.windowTitle(), QString("Tramelon"));
        // A caption too wide for the system's font may go on two lines.
        auto caption = [](QPushButton *b) { return b->text().replace(u'\n', u' '); };
        QCOMPARE(caption(f.configuration_mail), QString("Configuration MAIL"));
        QCOMPARE(caption(f.repertoire), QString("Choix répertoire actions"));
        QCOMPARE(caption(f.cre_client), QString("Création répertoire preparation mails"));
        QCOMPARE(caption(f.cre_clefs), QString("Création d'un fichier clefs"));
        QCOMPARE(f.end->text(), QString("Fin"));
        QCOMPARE(f.Label5->text(), QString("0"));
        QCOMPARE(f.Label6->text(), QString("0"));
        // The working fields exist, outside the fixed client area.
        for (const char *name : {"Label4", "Text2", "Label7", "Label8", "Label9", "Label10",
                                 "Label11", "Label12", "Text3", "txtstatus", "Text5", "lvwmessages"}) {
            auto *w = f.findChild<QWidget *>(name);
            QVERIFY2(w, name);
            QVERIFY2(!f.rect().contains(w->geometry().topLeft()), name);
        }
        QCOMPARE(f.lvwmessages->headerItem()->text(2), QString("UIDL"));
        // Captions are shrunk rather than cut where the system's font is wider.
        for (QWidget *window : {static_cast<QWidget *>(&f), static_cast<QWidget *>(&serveur->dialogue())})
            for (QPushButton *b : window->findChildren<QPushButton *>())
                for (const QString &line : b->text().split(u'\n'))
                    QVERIFY2(b->fontMetrics().horizontalAdvance(line) < b->width(), qPrintable(line));
        QCOMPARE(serveur->dialogue().login->text(), QString("marigolds"));
        QCOMPARE(serveur->dialogue().duree->text(), QString("300"));
        QCOMPARE(serveur->state().etape_sequenceur, qint16(0));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"clefs.dat"});
    }

    void configuredReplyAddressStartsPolling()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        put("pop3.ini", "[mail]\r\nrepondre=ops@example.org\r\n[TIMER]\r\ncompteur1=2500\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        QVERIFY(serveur->form().T_sequenceur->isActive());
        QCOMPARE(serveur->form().T_sequenceur->interval(), 2500);
    }

    void settingsDialogSuspendsAndSavingResumes()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        Form1 &f = serveur->form();
        conf_mail &d = serveur->dialogue();
        serveur->state().etape_sequenceur = 150;

        QTest::mouseClick(f.configuration_mail, Qt::LeftButton);
        QVERIFY(!f.configuration_mail->isEnabled());
        QVERIFY(d.isVisible());
        QVERIFY(!d.isModal());
        QCOMPARE(d.windowTitle(), QString("Configuration Mail"));

        d.duree->setText("100");
        d.login->setText("  bob  ");
        QTest::mouseClick(d.enregistre, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QVERIFY(f.configuration_mail->isEnabled());
        QVERIFY(f.T_sequenceur->isActive()); // even with the default reply address
        QCOMPARE(serveur->state().etape_sequenceur, qint16(99));
        QCOMPARE(serveur->state().login_pop, QString("bob"));
        QVERIFY(read("pop3.ini").contains("login=bob\r\n"));
        QVERIFY(read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt")
                    .endsWith("  :   ***    modifications configuration mail\r\n"));

        // The close box saves nothing but gives the button and the polling back.
        QTest::mouseClick(f.configuration_mail, Qt::LeftButton);
        QVERIFY(!f.T_sequenceur->isActive());
        d.login->setText("mallory");
        d.close();
        QVERIFY(f.configuration_mail->isEnabled());
        QVERIFY(f.T_sequenceur->isActive());
        QCOMPARE(d.login->text(), QString("  bob  ")); // as typed at the last save
        QVERIFY(!read("pop3.ini").contains("mallory"));
    }

    void operatorButtonsOpenTheirWindowsModeless()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        Form1 &f = serveur->form();
        f.show();
        QTest::mouseClick(f.repertoire, Qt::LeftButton);
        QVERIFY(!f.repertoire->isEnabled());
        auto *chooser = f.findChild<QWidget *>("form_repertoire");
        QVERIFY(chooser);
        QVERIFY(chooser->isVisible());
        QTest::mouseClick(f.cre_client, Qt::LeftButton);
        QVERIFY(!f.cre_client->isEnabled());
        auto *client = f.findChild<QWidget *>("form_repertoire_2");
        QVERIFY(client);
        // The instructions, blanks and spelling as the operator has always read them.
        QCOMPARE(chooser->findChild<QLabel *>("Label1")->text(),
                 QString("Choississez le repertoire qui accueille les fichiers de commande"));
        QCOMPARE(client->findChild<QLabel *>("Label1")->text(),
                 QString("Choississez le repertoire qui accueillera  le logiciel de préparation des messages"));
        QVERIFY(client->findChild<QWidget *>("Drive1") && client->findChild<QWidget *>("Dir1"));
        QVERIFY(f.configuration_mail->isEnabled()); // the main window stays usable
    }

    void keyGenerationReplacesTheStore()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        QTest::mouseClick(serveur->form().cre_clefs, Qt::LeftButton);
        QCOMPARE(messages, QStringList{"Le fichier clef.dat a été généré avec succès , il contient 100 clefs"});
        QVERIFY(serveur->form().cre_clefs->isEnabled());
        QCOMPARE(read("clefs.dat").size(), 1400);
        QVERIFY(!serveur->state().tab_clefs.contains("AAAAAAAAAAAA"));
    }

    void finClosesTheSessionWritesKeysAndEnds()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n\r\nCCCCCCCCCCCC\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        serveur->state().tab_clefs[1].clear();
        QTest::mouseClick(serveur->form().end, Qt::LeftButton);
        QCOMPARE(session->closed, 1);
        QCOMPARE(fins, QList<int>{0});
        QCOMPARE(read("clefs.dat"), QByteArray("CCCCCCCCCCCC\r\n"));
    }

    void closingTheWindowOtherwiseWritesKeysWithoutClosingTheSession()
    {
        put("clefs.dat", "AAAAAAAAAAAA\r\n");
        auto serveur = make();
        QVERIFY(serveur->demarrer());
        serveur->form().show();
        serveur->form().close();
        QCOMPARE(session->closed, 0);
        QCOMPARE(fins, QList<int>{0});
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

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
