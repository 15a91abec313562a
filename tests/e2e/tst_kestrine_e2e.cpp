// From the preparation tool to the batch file: a folder provisioned by the
// server, the mail composed and copied in Kestrine, sent as a mail program sends
// it, fetched from Dovecot and carried out by the server.
#include "platform/file_copy.h"
#include "platform/message_box.h"
#include "prep/form1.h"
#include "server/core/serveur.h"
#include "server/keys/provisioning.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestKestrineE2e : public SuiteAvecLecteur
{
    Q_OBJECT

private Q_SLOTS:
    // Asked from a terminal with no display at all, it still answers.
    void answersWithoutDisplay_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("answer");
        QTest::newRow("--help") << "--help"
                                << "--folder DIR";
        QTest::newRow("--version") << "--version"
                                   << "kestrine ";
    }
    void answersWithoutDisplay()
    {
        QFETCH(QString, option);
        QFETCH(QString, answer);
        QProcess kestrine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        kestrine.setProcessEnvironment(env);
        kestrine.start(KESTRINE_BIN, {option});
        QVERIFY(kestrine.waitForFinished(10000));
        QCOMPARE(kestrine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kestrine.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(kestrine.readAllStandardOutput()).contains(answer),
                 kestrine.readAllStandardError().constData());
    }

    void composedMailIsAcceptedEndToEnd()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        MailServers servers;
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        const QString user = QStringLiteral("u7");
        const QString sender = QStringLiteral("kestrine-user@example.org");
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        const QStringList keys{"KKKKKKKKKKK1", "KKKKKKKKKKK2", "KKKKKKKKKKK3"};
        ServerFolder server(servers, user, keys);
        QVERIFY(platform::copier_remplacer(KESTRINE_BIN, server.path() + "kestrine"));

        // The operator prepares the client folder.
        provisioning::Demande demande;
        demande.rep_appli = server.path();
        demande.rep_actions = server.actions();
        demande.cible = server.path() + "client/Kestrine/";
        demande.creer_cible = true;
        demande.executable = "kestrine";
        QCOMPARE(provisioning::preparer(demande), provisioning::Issue::Fait);

        // The user composes and copies the mail for run.bat with the first key.
        int fins = 0;
        kestrine::Form1 prep(demande.cible);
        prep.setFinProgramme([&fins] { ++fins; });
        auto *ComboCommande = prep.findChild<QComboBox *>("ComboCommande");
        auto *Combo_clef = prep.findChild<QComboBox *>("Combo_clef");
        QVERIFY(ComboCommande && Combo_clef);
        QCOMPARE(ComboCommande->count(), 2);
        QCOMPARE(Combo_clef->count(), 3);
        QCOMPARE(Combo_clef->currentText(), keys.at(0));
        ComboCommande->setCurrentIndex(ComboCommande->findText("run.bat"));
        QTest::mouseClick(prep.findChild<QPushButton *>("c_valid"), Qt::LeftButton);
        QTest::mouseClick(prep.findChild<QPushButton *>("copy_press"), Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        QVERIFY(text.contains("Commande:run.bat;"));

        // Pasted into a mail program and sent to the server's mailbox.
        QVERIFY(
            !servers.deliver(user, ServerFolder::commandMail(sender, "Actions", text)).isEmpty());

        auto session = std::make_unique<VmimePop3Session>();
        session->setTimeout(5000);
        Serveur serveur(server.path(), std::move(session), std::make_unique<VmimeSmtpSender>(),
                        [](int) {});
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().stop();
        for (int i = 0; i < 60; ++i)
            serveur.sequenceur().tick();

        QTRY_VERIFY(QFile::exists(server.marker()));
        QCOMPARE(server.read("clefs.dat"), QByteArray("KKKKKKKKKKK2\r\nKKKKKKKKKKK3\r\n"));
        QTRY_COMPARE(servers.receivedMails(sender).size(), 1);
        QVERIFY(servers.receivedMails(sender).at(0).raw.contains("a bien"));

        // Leaving Kestrine by "Quitter" strikes the key on the user's side too.
        QTest::mouseClick(prep.findChild<QPushButton *>("quitter"), Qt::LeftButton);
        QCOMPARE(fins, 1);
        QCOMPARE(server.read("client/Kestrine/clefs.dat"),
                 QByteArray("KKKKKKKKKKK2\r\nKKKKKKKKKKK3\r\n"));
        platform::installer_gestionnaire_messages({});
    }
};

QTEST_MAIN(TestKestrineE2e)
#include "tst_kestrine_e2e.moc"
