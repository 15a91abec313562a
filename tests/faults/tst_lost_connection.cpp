// A connection lost at DELE or at QUIT, through real Dovecot: the deletion
// never reaches the server, the mail comes back at the next session under the
// same identity, and the judged-mail record written before it was acted on
// recognises it, even from a new process reading the file.
#include "server/mail/judged_mails.h"
#include "server/vmime/vmime_pop3_session.h"
#include "tests/support/cutting_proxy.h"
#include "tests/support/mail_servers.h"

#include <QTemporaryDir>
#include <QTest>

class TestLostConnection : public QObject
{
    Q_OBJECT

    MailServers servers;
    QTemporaryDir dir;
    const QString user = QStringLiteral("u9");

    // The identity of the first listed mail, as the processing forms it.
    static QString firstIdentity(VmimePop3Session &session)
    {
        if (session.RefreshList() != 0)
            return {};
        const QList<Pop3MessageInfo> list = session.MessageList();
        if (list.isEmpty())
            return {};
        const std::optional<Pop3Message> mail = session.FetchMessage(list.first().MsgNumber, false);
        return mail ? JudgedMails::identite(list.first().Uidl, mail->raw, list.first().MsgSize)
                    : QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }

    void judgedMailIsKnownAfterACut_data()
    {
        QTest::addColumn<QByteArray>("cutAt");
        QTest::newRow("DELE") << QByteArray("DELE");
        QTest::newRow("QUIT") << QByteArray("QUIT");
    }
    void judgedMailIsKnownAfterACut()
    {
        QFETCH(QByteArray, cutAt);
        servers.clearMailbox(user);
        QVERIFY(!servers
                     .deliver(user, "From: a@example.org\r\nSubject: Actions\r\n"
                                    "Message-ID: <cut@example.org>\r\n\r\nCode:X;\r\n")
                     .isEmpty());
        const QString path = dir.filePath(QString::fromLatin1(cutAt) + ".txt");

        CuttingProxy proxy(servers.pop3Port(), cutAt);
        {
            VmimePop3Session session;
            session.setTimeout(5000);
            QCOMPARE(session.Open(proxy.address(), 110, user, servers.pop3Password()), 0);
            const QString identity = firstIdentity(session);
            QVERIFY(identity.startsWith("uidl "));
            JudgedMails record(path);
            QVERIFY(record.enregistrer(identity, "cut@example.org", QDateTime::currentDateTime()));
            session.DeleteMessage(1);
            session.Close();
            QTRY_COMPARE(proxy.cuts(), 1);
        }
        QCOMPARE(servers.messageCount(user), 1); // the deletion was lost with the connection

        VmimePop3Session again;
        again.setTimeout(5000);
        QCOMPARE(again.Open(QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), 110, user,
                            servers.pop3Password()),
                 0);
        JudgedMails reread(path);
        QVERIFY(reread.charger());
        QVERIFY(reread.contient(firstIdentity(again)));
        again.DeleteMessage(1);
        again.Close();
        QCOMPARE(servers.messageCount(user), 0);
    }
};

QTEST_GUILESS_MAIN(TestLostConnection)
#include "tst_lost_connection.moc"
