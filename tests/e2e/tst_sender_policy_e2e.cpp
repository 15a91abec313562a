// The allowed senders and the receiving server's authentication results, on
// real mails through Dovecot: who commands, who is answered, which code burns.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/mail_parser.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QDate>
#include <QDir>
#include <QTest>

namespace {
const QString kUser = QStringLiteral("u12");
const QString kKey1 = QStringLiteral("AAAAAAAAAAA1");
const QString kKey2 = QStringLiteral("BBBBBBBBBBB2");
const QByteArray kMx = "mx.example.net";

// The receiving server's own lines, above the mail as the sender wrote it.
QByteArray recu(const QByteArray &resultats)
{
    QByteArray top = "Return-Path: <bounce@policy.example>\r\n";
    if (!resultats.isEmpty())
        top += "Authentication-Results: " + resultats + "\r\n";
    return top + "Received: from mail.policy.example by " + kMx + " with ESMTPS; " +
           "Mon, 7 Dec 2026 10:00:00 +0000\r\n";
}
} // namespace

class TestSenderPolicyE2e : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    std::unique_ptr<ServerFolder> folder;
    std::unique_ptr<Serveur> serveur;

    void start(const QByteArray &expediteurs)
    {
        if (!expediteurs.isEmpty())
            folder->write("pop3.ini", folder->read("pop3.ini") + "[expediteurs]\r\n" + expediteurs);
        auto session = std::make_unique<VmimePop3Session>();
        session->setTimeout(5000);
        auto smtp = std::make_unique<VmimeSmtpSender>();
        smtp->setTimeout(5000);
        serveur = std::make_unique<Serveur>(folder->path(), std::move(session), std::move(smtp),
                                            [](int) {});
        QVERIFY(serveur->demarrer());
        serveur->T_sequenceur().stop(); // ticks come from the test
    }
    void cycle()
    {
        for (int i = 0; i < 60; ++i)
            serveur->sequenceur().tick();
    }
    void deliver(const QByteArray &top, const QString &from, const QString &body)
    {
        servers.clearReceived(from);
        QVERIFY(!servers.deliver(kUser, top + ServerFolder::commandMail(from, "Actions", body))
                     .isEmpty());
    }
    QByteArray journal() const
    {
        return folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt");
    }
    bool keyBurnt(const QString &key) const
    {
        return !folder->read("clefs.dat").contains(key.toLatin1());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }
    void init()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        servers.clearMailbox(kUser);
        folder = std::make_unique<ServerFolder>(servers, kUser, QStringList{kKey1, kKey2});
    }
    void cleanup()
    {
        serveur.reset();
        folder.reset();
        platform::installer_gestionnaire_messages({});
    }

    void oneCommandMail_data()
    {
        QTest::addColumn<QByteArray>("expediteurs"); // lines of the pop3.ini section
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("top"); // the receiving server's lines, then the sender's
        QTest::addColumn<QString>("refus");  // journalled; empty: launched and answered

        const QString boss = QStringLiteral("boss@policy.example");
        const QByteArray dmarc = "authentification=dmarc\r\n";
        const QByteArray mx = dmarc + "serveur_authentification=" + kMx + "\r\n";
        const QString nonAuthentifie = QString::fromUtf8("non authentifié (");

        QTest::newRow("no policy: anyone commands")
            << QByteArray() << "stranger@elsewhere.example" << recu({}) << "";
        QTest::newRow("not listed")
            << QByteArray("autorises=boss@policy.example\r\n") << "mallory@policy.example"
            << recu({}) << QString::fromUtf8("non autorisé : mallory@policy.example");
        QTest::newRow("domain pattern") << QByteArray("autorises=*@policy.example\r\n")
                                        << "anyone@policy.example" << recu({}) << "";
        QTest::newRow("listed, dmarc fail")
            << "autorises=*@policy.example\r\n" + mx << boss
            << recu(kMx + "; dkim=pass header.d=policy.example; dmarc=fail")
            << nonAuthentifie + "dmarc=fail) : " + boss;
        QTest::newRow("no results at all")
            << dmarc << boss << recu({})
            << nonAuthentifie + "dmarc=absent, aucun champ Authentication-Results) : " + boss;
        QTest::newRow("dkim only, aligned on a parent")
            << mx << "boss@mail.policy.example"
            << recu(kMx + "; spf=fail; dkim=pass header.i=@policy.example") << "";
        QTest::newRow("dkim only, not aligned")
            << mx << boss << recu(kMx + "; dkim=pass header.d=bulk.example")
            << nonAuthentifie +
                   "dmarc=absent, dkim=pass header.d=bulk.example non aligné) : " + boss;
        QTest::newRow("forged pass below the server's fail")
            << mx << boss
            << recu(kMx + "; dmarc=fail") + "Authentication-Results: " + kMx + "; dmarc=pass\r\n"
            << nonAuthentifie + "dmarc=fail) : " + boss;
        QTest::newRow("the sender's first line, begun with a blank, joins the server's field")
            << mx << boss
            << "Received: from mail.policy.example by " + kMx +
                   "\r\nAuthentication-Results: " + kMx +
                   "; dmarc=none header.from=policy.example\r\n"
                   "\t; dmarc=pass header.from=policy.example\r\n"
            << nonAuthentifie +
                   "dmarc=absent, champ Authentication-Results ambigu (deux résultats dmarc)) : " +
                   boss;
        QTest::newRow("another authserv-id on top")
            << mx << boss << recu("mx.evil.example; dmarc=pass")
            << nonAuthentifie +
                   "dmarc=absent, résultats de mx.evil.example, non de mx.example.net) : " + boss;
        QTest::newRow("microsoft 365 form")
            << dmarc << boss
            << recu("spf=pass (sender IP is 192.0.2.7) smtp.mailfrom=policy.example; dkim=pass "
                    "(signature was verified) header.d=policy.example;dmarc=pass action=none "
                    "header.from=policy.example;compauth=pass reason=100")
            << "";
        QTest::newRow("comments and quoting")
            << mx << boss
            << recu("\"mx.example.net\" 1; dkim=fail (dmarc=pass; \\( a) header.d=x.example; "
                    "dmarc=pass (p=REJECT (strict)) header.from=\"policy.example\"")
            << "";
    }
    void oneCommandMail()
    {
        QFETCH(QByteArray, expediteurs);
        QFETCH(QString, from);
        QFETCH(QByteArray, top);
        QFETCH(QString, refus);
        start(expediteurs);
        deliver(top, from, compose_message_commande("run.bat", kKey1));
        cycle();

        QCOMPARE(servers.messageCount(kUser), 0); // taken and deleted either way
        QCOMPARE(QDir(folder->path() + "arch_messages").entryList(QDir::Files).size(), 1);
        const bool accepte = refus.isEmpty();
        QTRY_COMPARE(QFile::exists(folder->marker()), accepte); // the shell runs it on its own
        QCOMPARE(keyBurnt(kKey1), accepte);
        QCOMPARE(serveur->state().compteur_reponses, qint16(accepte ? 1 : 0));
        QCOMPARE(servers.receivedMails(from).size(), accepte ? 1 : 0);
        if (accepte) {
            QVERIFY(parse_mail(servers.receivedMails(from).at(0).raw)
                        .Body.contains("a bien été lancée"));
        } else {
            const QString line = QString::fromUtf8("expéditeur ") + refus +
                                 QString::fromUtf8(", rien n'est lancé ni répondu");
            QVERIFY2(QString::fromUtf8(journal()).contains(line + "\r\n"), qPrintable(journal()));
            QVERIFY(serveur->affichage().champs().Text3.contains(line));
        }
    }

    void refusedSendersCodeStillWorksForAnAllowedOne()
    {
        // Mallory's command, then a mail that is no command, then the same
        // command from the boss: only the boss is answered, and it runs.
        start("autorises=boss@policy.example\r\n");
        const QString body = compose_message_commande("run.bat", kKey1);
        deliver(recu({}), "mallory@policy.example", body);
        deliver(recu({}), "spam@elsewhere.example", "buy now");
        deliver(recu({}), "boss@policy.example", body);
        cycle();
        cycle();
        QVERIFY(!QFile::exists(folder->marker()));
        QVERIFY(!keyBurnt(kKey1));
        cycle();
        QTRY_VERIFY(QFile::exists(folder->marker()));
        QVERIFY(keyBurnt(kKey1));
        QCOMPARE(servers.receivedMails("boss@policy.example").size(), 1);
        QVERIFY(servers.receivedMails("mallory@policy.example").isEmpty());
        QVERIFY(servers.receivedMails("spam@elsewhere.example").isEmpty());
    }

    void aReplyRepeatsAShortCleanCommandOnly()
    {
        // Anyone is answered without a policy, but never with more than 200
        // characters of the command, on one line.
        start({});
        const QString spam = "VISIT\r\nhttp://spam.example/" + QString(3000, u'x');
        deliver(recu({}), "victim@policy.example", "Commande:" + spam + ";Code:" + kKey1 + ";");
        cycle();
        const auto replies = servers.receivedMails("victim@policy.example");
        QCOMPARE(replies.size(), 1);
        const QString cited = "VISIT http://spam.example/" + QString(174, u'x') + " […]";
        QCOMPARE(parse_mail(replies.at(0).raw).Body.split("\r\n").value(1), cited);
    }
};

QTEST_GUILESS_MAIN(TestSenderPolicyE2e)
#include "tst_sender_policy_e2e.moc"
