// Tramelon's windows over a started server: captions, the working fields, the
// settings dialog and the operator's buttons, clicked as an operator would.
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/windows/conf_expediteurs.h"
#include "server/windows/conf_mail.h"
#include "server/windows/fenetre_serveur.h"
#include "server/windows/form1.h"
#include "tests/support/fake_mail.h"
#include "tests/support/test_files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QList<int> fins;
    FakePop3Session *session = nullptr;
    std::unique_ptr<Serveur> serveur;
    std::unique_ptr<FenetreServeur> fenetres;

    QString folder() const { return dir->path() + u'/'; }
    QByteArray read(const QString &name) const { return test_files::lire(folder() + name); }
    Form1 &form() { return fenetres->form(); }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        fins.clear();
        platform::installer_gestionnaire_messages([](const QString &) {});
        QFile keys(folder() + "clefs.dat");
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write("AAAAAAAAAAAA\r\n");
        keys.close();
        auto s = std::make_unique<FakePop3Session>();
        session = s.get();
        serveur =
            std::make_unique<Serveur>(folder(), std::move(s), std::make_unique<FakeSmtpSender>(),
                                      [this](int code) { fins.append(code); });
        QVERIFY(serveur->demarrer());
        fenetres = std::make_unique<FenetreServeur>(*serveur);
    }
    void cleanup()
    {
        fenetres.reset();
        serveur.reset();
        platform::installer_gestionnaire_messages({});
    }

    void captionsAndWorkingFields()
    {
        Form1 &f = form();
        QCOMPARE(f.windowTitle(), QString("Tramelon"));
        // A caption too wide for the system's font may go on two lines.
        auto caption = [](QPushButton *b) { return b->text().replace(u'\n', u' '); };
        QCOMPARE(caption(f.configuration_mail), QString("Configuration MAIL"));
        QCOMPARE(caption(f.repertoire), QString("Choix répertoire actions"));
        QCOMPARE(caption(f.cre_client), QString("Création répertoire preparation mails"));
        QCOMPARE(caption(f.cre_clefs), QString("Création d'un fichier clefs"));
        QCOMPARE(f.end->text(), QString("Fin"));
        QCOMPARE(f.Label5->text(), QString("0"));
        // The working fields exist, outside the fixed client area.
        for (const char *name :
             {"Label4", "Text2", "Label7", "Label8", "Label9", "Label10", "Label11", "Label12",
              "Text3", "txtstatus", "Text5", "lvwmessages"}) {
            auto *w = f.findChild<QWidget *>(name);
            QVERIFY2(w, name);
            QVERIFY2(!f.rect().contains(w->geometry().topLeft()), name);
        }
        QCOMPARE(f.lvwmessages->headerItem()->text(2), QString("UIDL"));
        // Captions are shrunk rather than cut where the system's font is wider.
        for (QWidget *window :
             {static_cast<QWidget *>(&f), static_cast<QWidget *>(&fenetres->dialogue())})
            for (QPushButton *b : window->findChildren<QPushButton *>())
                for (const QString &line : b->text().split(u'\n'))
                    QVERIFY2(b->fontMetrics().horizontalAdvance(line) < b->width(),
                             qPrintable(line));
        QCOMPARE(fenetres->dialogue().login->text(), QString("marigolds"));
        QCOMPARE(fenetres->dialogue().duree->text(), QString("300"));
    }

    void windowShowsTheServersFields()
    {
        Affichage &a = serveur->affichage();
        a.fixer(Champ::Label8, "user@example.org");
        a.ajouter(Champ::Text3, "one\r\n");
        a.ajouter(Champ::Text3, "two\r\n");
        a.fixer_liste({{1, 10, "u1"}, {2, 20, "u2"}});
        a.allumer(Lampe::Verte);
        QCOMPARE(form().Label8->text(), QString("user@example.org"));
        QVERIFY(form().Text3->toPlainText().endsWith("one\ntwo\n"));
        QCOMPARE(form().lvwmessages->topLevelItemCount(), 2);
        QCOMPARE(form().lvwmessages->currentItem()->text(2), QString("u1"));
        QCOMPARE(form().Label1->palette().color(QPalette::Window), QColor(0, 255, 0));
        QCOMPARE(form().Label1->toolTip(), QString()); // no doorbell
        a.fixer(Champ::sonnette, "Sonnette IMAP : connectée à imaps://mail.example.org");
        QCOMPARE(form().Label1->toolTip(),
                 QString("Sonnette IMAP : connectée à imaps://mail.example.org"));
        a.fixer(Champ::releve, "relève suspendue : mot de passe refusé à 13:40");
        QCOMPARE(form().Label1->toolTip(),
                 QString("relève suspendue : mot de passe refusé à 13:40\n"
                         "Sonnette IMAP : connectée à imaps://mail.example.org"));
    }

    void settingsDialogSuspendsAndSavingResumes()
    {
        Form1 &f = form();
        conf_mail &d = fenetres->dialogue();
        QTest::mouseClick(f.configuration_mail, Qt::LeftButton);
        QVERIFY(!f.configuration_mail->isEnabled());
        QVERIFY(d.isVisible());
        QVERIFY(!d.isModal());
        QCOMPARE(d.windowTitle(), QString("Configuration Mail"));

        d.login->setText("  bob  ");
        d.repondre_a->setText("ops@example.org"); // polling needs a reply address
        QTest::mouseClick(d.enregistre, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QVERIFY(f.configuration_mail->isEnabled());
        QVERIFY(serveur->T_sequenceur().isActive());
        QVERIFY(read("pop3.ini").contains("login=bob\r\n"));

        // The close box saves nothing but gives the button and the polling back.
        QTest::mouseClick(f.configuration_mail, Qt::LeftButton);
        QVERIFY(!serveur->T_sequenceur().isActive());
        d.login->setText("mallory");
        d.close();
        QVERIFY(f.configuration_mail->isEnabled());
        QVERIFY(serveur->T_sequenceur().isActive());
        QCOMPARE(d.login->text(), QString("  bob  ")); // as typed at the last save
        QVERIFY(!read("pop3.ini").contains("mallory"));
    }

    void oauthSignInFromTheSettingsDialog_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("said");
        QTest::newRow("no client registered") << QByteArray() << "client_id manquant";
        QTest::newRow("token endpoint in clear to another host")
            << QByteArray("[oauth2]\r\nclient_id=c\r\nurl_jeton=http://idp.example.org/t\r\n")
            << "https:// exigé";
    }
    void oauthSignInFromTheSettingsDialog()
    {
        QFETCH(QByteArray, section);
        QFETCH(QString, said);
        QStringList messages;
        platform::installer_gestionnaire_messages(
            [&messages](const QString &text) { messages.append(text); });
        QFile ini(folder() + "pop3.ini");
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("[mail]\r\nlogin=box@example.org\r\n" + section);
        ini.close();
        conf_mail &d = fenetres->dialogue();
        QTest::mouseClick(form().configuration_mail, Qt::LeftButton);
        QVERIFY(!d.connexion_oauth2->isEnabled());
        d.connexion->setCurrentIndex(1);
        QVERIFY(d.connexion_oauth2->isEnabled());
        QVERIFY(!d.Password->isEnabled());
        QTest::mouseClick(d.connexion_oauth2, Qt::LeftButton);
        QTRY_COMPARE(messages.size(), 1);
        QVERIFY2(messages.first().contains(said), qPrintable(messages.first()));
        QCOMPARE(d.etat_oauth2->text(), messages.first());
        QVERIFY(d.connexion_oauth2->isEnabled());
        QTest::mouseClick(d.enregistre, Qt::LeftButton);
        QVERIFY(read("pop3.ini").contains("connexion=oauth2\r\n"));
    }

    void escapeOnAFreshFolderDoesNotStartPolling()
    {
        QTest::mouseClick(form().configuration_mail, Qt::LeftButton);
        QTest::keyClick(&fenetres->dialogue(), Qt::Key_Escape);
        QVERIFY(!fenetres->dialogue().isVisible());
        QVERIFY(form().configuration_mail->isEnabled());
        QVERIFY(!serveur->T_sequenceur().isActive());
        QCOMPARE(session->opened, 0);
    }

    void operatorButtonsOpenTheirWindowsModeless()
    {
        Form1 &f = form();
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
                 QString("Choississez le repertoire qui accueillera  le logiciel de préparation "
                         "des messages"));
        QVERIFY(client->findChild<QWidget *>("Drive1") && client->findChild<QWidget *>("Dir1"));
        QVERIFY(f.configuration_mail->isEnabled()); // the main window stays usable
    }

    void buttonsReachTheServer()
    {
        QTest::mouseClick(form().cre_clefs, Qt::LeftButton);
        QVERIFY(form().cre_clefs->isEnabled());
        QCOMPARE(read("clefs.dat").size(), 1400);
        QTest::mouseClick(form().end, Qt::LeftButton);
        QCOMPARE(session->closed, 1);
        QCOMPARE(fins, QList<int>{0});
    }

    void closingTheWindowOtherwiseWritesKeysWithoutClosingTheSession()
    {
        form().show();
        form().close();
        QCOMPARE(session->closed, 0);
        QCOMPARE(fins, QList<int>{0});
    }

    void allowedSendersAreEditedFromTheMailSettings()
    {
        QTest::mouseClick(form().configuration_mail, Qt::LeftButton);
        conf_mail &d = fenetres->dialogue();
        conf_expediteurs &e = fenetres->dialogue_expediteurs();
        QTest::mouseClick(d.expediteurs, Qt::LeftButton);
        QVERIFY(e.isVisible() && e.autorises->text().isEmpty() && !e.dmarc->isChecked());
        e.autorises->setText(" *@x.org, a@y.org ");
        QTest::mouseClick(e.dmarc, Qt::LeftButton);
        e.serveur_authentification->setText("mx.google.com");
        QTest::mouseClick(e.enregistre, Qt::LeftButton);
        QVERIFY(!e.isVisible());
        QVERIFY(d.isVisible()); // back to the mail settings, still open
        const QByteArray ini = read("pop3.ini");
        QVERIFY(
            ini.contains("[expediteurs]\r\nautorises=*@x.org, a@y.org\r\n"
                         "authentification=dmarc\r\nserveur_authentification=mx.google.com\r\n"));
        QVERIFY(serveur->state().expediteurs.dmarc_exige());

        // Closed without saving: the next opening shows the settings in force.
        QTest::mouseClick(d.expediteurs, Qt::LeftButton);
        e.autorises->clear();
        e.reject();
        QTest::mouseClick(d.expediteurs, Qt::LeftButton);
        QCOMPARE(e.autorises->text(), QString("*@x.org, a@y.org"));
        QCOMPARE(read("pop3.ini"), ini);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
