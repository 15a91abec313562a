// The command mail: what the preparation tool writes and what the server reads.
#include "common/command_mail.h"

#include <QTest>

class TestCommandMail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void composedBodyIsByteExact()
    {
        const QString body = compose_message_commande("run.bat", "ABCDEFGH1234");
        QCOMPARE(body, QString::fromUtf8("Bonjour,    \r\n\r\n"
                                         "Commande:run.bat;\r\n"
                                         "Code:ABCDEFGH1234;\r\n\r\n"
                                         "Au revoir \r\n\r\n"
                                         "Rappel : l'objet  du message doit être :  Actions"));
        QCOMPARE(body.split("\r\n").size(), 8);
        const ParametresCommande p = extract_param(body);
        QVERIFY(p.ok);
        QCOMPARE(p.commande, QString("run.bat"));
        QCOMPARE(p.code, QString("ABCDEFGH1234"));
    }

    void parsing_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("commande");
        QTest::addColumn<QString>("code");

        QTest::newRow("blanks around values")
            << "Commande:   run.bat  ;\nCode:  K1 ;" << true << "run.bat"
            << "K1";
        QTest::newRow("tabs and line ends stay")
            << "Commande:\trun.bat\r\n;Code:K1;" << true << "\trun.bat\r\n"
            << "K1";
        QTest::newRow("lower-case markers") << "commande:run.bat;code:K1;" << false << ""
                                            << "";
        QTest::newRow("capital markers") << "COMMANDE:run.bat;CODE:K1;" << false << ""
                                         << "";
        QTest::newRow("no ; after code") << "Commande:run.bat;\r\nCode:K1" << false << "run.bat"
                                         << "";
        QTest::newRow("no code field") << "Commande:run.bat;" << false << "run.bat"
                                       << "";
        QTest::newRow("no command field") << "Code:K1;" << false << ""
                                          << "";
        QTest::newRow("command without its ;")
            << "Commande:run.bat\r\nCode:K1;" << true << "run.bat\r\nCode:K1"
            << "K1";
        QTest::newRow("; right after the colon")
            << "Commande:;x\r\nCode:K1;" << true << ";x\r\nCode:K1"
            << "K1";
        QTest::newRow("code first") << "Code:K1;\r\nCommande:run.bat;" << true << "run.bat"
                                    << "K1";
        QTest::newRow("only the first fields count")
            << "Commande:a.bat;Code:K1;Commande:b.bat;Code:K2;" << true << "a.bat"
            << "K1";
        QTest::newRow("marker at the very end") << "text Commande:" << false << ""
                                                << "";
        QTest::newRow("empty body") << "" << false << ""
                                    << "";
        QTest::newRow("empty code value") << "Commande:a.bat;Code:;x;" << true << "a.bat"
                                          << ";x";
    }

    void parsing()
    {
        QFETCH(QString, body);
        QFETCH(bool, ok);
        QFETCH(QString, commande);
        QFETCH(QString, code);
        const ParametresCommande p = extract_param(body);
        QCOMPARE(p.ok, ok);
        QCOMPARE(p.commande, commande);
        QCOMPARE(p.code, code);
    }

    void subjectTest_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("command");
        QTest::newRow("exact") << "Actions" << true;
        QTest::newRow("blanks around") << " Actions " << true;
        QTest::newRow("lower case") << "actions" << false;
        QTest::newRow("reply prefix") << "Re: Actions" << false;
        QTest::newRow("tab is not a blank") << "\tActions" << false;
    }

    void subjectTest()
    {
        QFETCH(QString, subject);
        QFETCH(bool, command);
        QCOMPARE(est_objet_commande(subject), command);
    }
};

QTEST_GUILESS_MAIN(TestCommandMail)
#include "tst_command_mail.moc"
