// Who may command the server: the allowed senders' list, the receiving
// server's Authentication-Results read and judged, and the command text a
// reply may repeat.
#include "server/mail/commande_citee.h"
#include "server/mail/liste_expediteurs.h"
#include "server/mail/verdict_dmarc.h"

#include <QTest>

class TestSenderPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void list_data()
    {
        QTest::addColumn<QString>("autorises");
        QTest::addColumn<QString>("adresse");
        QTest::addColumn<bool>("autorise");
        QTest::newRow("exact, other case") << "Alice@Example.org"
                                           << "alice@example.ORG" << true;
        QTest::newRow("among others") << "a@x.org, bob@y.org ;<c@z.org>"
                                      << "c@z.org" << true;
        QTest::newRow("pattern is not for subdomains") << "*@x.org"
                                                       << "a@mail.x.org" << false;
        QTest::newRow("pattern is not a suffix") << "*@x.org"
                                                 << "a@badx.org" << false;
        QTest::newRow("unicode domain, ASCII address")
            << QString::fromUtf8("*@bücher.example") << "a@xn--bcher-kva.example" << true;
        QTest::newRow("an entry that is no address lets nobody in") << "x.org"
                                                                    << "a@x.org" << false;
    }
    void list()
    {
        QFETCH(QString, autorises);
        QFETCH(QString, adresse);
        QFETCH(bool, autorise);
        const ListeExpediteurs liste(autorises);
        QVERIFY(!liste.vide());
        QCOMPARE(liste.autorise(adresse), autorise);
    }

    // The detail names what decided, so each row also shows what was read.
    void verdict_data()
    {
        QTest::addColumn<QByteArray>("champ");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("serveur");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("authentifie");
        const QString mx = QStringLiteral("mx.example.net");
        const QString absent = QStringLiteral("dmarc=absent, ");
        QTest::newRow("dmarc pass for another From")
            << QByteArray("mx.example.net; dmarc=pass header.from=evil.example") << "x.org" << mx
            << "dmarc=pass pour evil.example" << false;
        QTest::newRow("dkim, header.d in capitals, version, quoted id")
            << QByteArray("\"mx.example.net\" 1; DKIM/1=Pass Header.D=X.org") << "x.org" << mx
            << "dkim=pass header.d=x.org" << true;
        QTest::newRow("dkim signed by a child of the From domain")
            << QByteArray("mx.example.net; dkim=pass header.d=mail.x.org") << "x.org" << mx
            << absent + "dkim=pass header.d=mail.x.org non aligné" << false;
        QTest::newRow("a top-level domain signs nothing")
            << QByteArray("mx.example.net; dkim=pass header.d=org") << "x.org" << mx
            << absent + "dkim=pass header.d=org non aligné" << false;
        QTest::newRow("a suffix is no parent")
            << QByteArray("mx.example.net; dkim=pass header.d=x.org") << "badx.org" << mx
            << absent + "dkim=pass header.d=x.org non aligné" << false;
        QTest::newRow("authserv-id and header.from: case ignored, none set takes any")
            << QByteArray("MX.Other.NET; dmarc=pass header.from=X.Org") << "x.org"
            << ""
            << "dmarc=pass" << true;
        QTest::newRow("dmarc pass without header.from")
            << QByteArray("mx.example.net; dmarc=pass; dkim=pass header.d=x.org") << "x.org" << mx
            << "dmarc=pass sans header.from" << false;
        // What a sender's first line, begun with a blank, adds to the field above it.
        QTest::newRow("a second dmarc result unfolded into the field")
            << QByteArray("mx.example.net; dmarc=none header.from=x.org\t; dmarc=pass "
                          "header.from=x.org")
            << "x.org" << mx
            << absent + "champ Authentication-Results ambigu (deux résultats dmarc)" << false;
        QTest::newRow("a second dkim result where dkim decides")
            << QByteArray("mx.example.net; dkim=none\t; dkim=pass header.d=x.org") << "x.org" << mx
            << absent + "champ Authentication-Results ambigu (deux résultats dkim)" << false;
        QTest::newRow("two signatures under one dmarc result")
            << QByteArray(
                   "mx.example.net; dkim=pass header.d=x.org; dkim=pass header.d=esp.example;"
                   " dmarc=pass header.from=x.org")
            << "x.org" << mx << "dmarc=pass" << true;
        QTest::newRow("nested comment, quoted value with a semicolon")
            << QByteArray("mx.example.net; dmarc=fail (a (b; dmarc=pass)) header.from=\"x;org\"")
            << "x.org" << mx << "dmarc=fail" << false;
        QTest::newRow("blanks and comments around the dot and equals")
            << QByteArray("mx.example.net; dmarc = pass header . from (c) = x.org") << "x.org" << mx
            << "dmarc=pass" << true;
        QTest::newRow("nothing checked") << QByteArray("mx.example.net; none") << "x.org" << mx
                                         << absent + "ni dmarc ni dkim" << false;
        const QString illisible = absent + "champ Authentication-Results illisible";
        QTest::newRow("comment never closed")
            << QByteArray("mx.example.net; dmarc=pass (a") << "x.org" << mx << illisible << false;
        QTest::newRow("quote never closed") << QByteArray("mx.example.net; dmarc=pass reason=\"a")
                                            << "x.org" << mx << illisible << false;
        QTest::newRow("result without a value")
            << QByteArray("mx.example.net; dmarc=; dkim=pass header.d=x.org") << "x.org" << mx
            << illisible << false;
        // Found by the fuzzer: the results read before a fault used to count.
        QTest::newRow("a pass before a broken result")
            << QByteArray("mx.example.net; dkim=pass header.d=x.org; spf=pass (a) smtp..org) "
                          "smtp.mailfrom=a@x.org; dmarc=pass hx.org")
            << "x.org" << mx << illisible << false;
        QTest::newRow("two ids") << QByteArray("mx.example.net other; dmarc=pass") << "x.org" << mx
                                 << illisible << false;
        QTest::newRow("no From domain") << QByteArray("mx.example.net; dmarc=pass") << "" << mx
                                        << absent + "aucun domaine From" << false;
    }
    void verdict()
    {
        QFETCH(QByteArray, champ);
        QFETCH(QString, from);
        QFETCH(QString, serveur);
        QFETCH(QString, detail);
        QFETCH(bool, authentifie);
        const VerdictDmarc v = juge_dmarc(champ, from, serveur);
        QCOMPARE(v.detail, detail);
        QCOMPARE(v.authentifie, authentifie);
    }

    void quotedCommand_data()
    {
        QTest::addColumn<QString>("commande");
        QTest::addColumn<QString>("citee");
        const QString a200(200, u'a');
        const QString coupe = QString::fromUtf8(" […]");
        QTest::newRow("short, unchanged") << "run.bat"
                                          << "run.bat";
        QTest::newRow("exactly 200") << a200 << a200;
        QTest::newRow("201 is cut") << a200 + "b" << a200 + coupe;
        QTest::newRow("controls go")
            << QString::fromUtf8("Buy\r\nnow\t!\x1b[31m\u2028x") << "Buynow![31mx";
        QTest::newRow("a surrogate pair is never split")
            << QString(199, u'a') + QString::fromUtf8("😀b") << QString(199, u'a') + coupe;
    }
    void quotedCommand()
    {
        QFETCH(QString, commande);
        QFETCH(QString, citee);
        QCOMPARE(commande_citee(commande), citee);
    }
};

QTEST_GUILESS_MAIN(TestSenderPolicy)
#include "tst_sender_policy.moc"
