// Token sign-in against real servers whatever they offer: Dovecot (oauth2
// passdb) and aiosmtpd offering XOAUTH2 alone, OAUTHBEARER alone, both, both
// with PLAIN, and an SMTP server offering passwords only; the tokens come from
// the test identity service.
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "tests/support/mail_servers.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

class TestSaslJetonServeurs : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    QNetworkAccessManager http;

    QJsonObject post(const QString &path, const QList<QPair<QString, QString>> &form)
    {
        QNetworkRequest request(QUrl("http://127.0.0.1:" + servers.value("IDENTITY_PORT") + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QUrlQuery q;
        q.setQueryItems(form);
        QNetworkReply *reply = http.post(request, q.toString(QUrl::FullyEncoded).toUtf8());
        QSignalSpy done(reply, &QNetworkReply::finished);
        done.wait(10000);
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll()).object();
    }
    // A live access token for user, through the device grant.
    QString jeton(const QString &user)
    {
        const QString client = "jetons-" + user;
        post("/admin/client", {{"client_id", client}, {"username", user}});
        const QString code =
            post("/device", {{"client_id", client}}).value("device_code").toString();
        return post("/token", {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                               {"client_id", client},
                               {"device_code", code}})
            .value("access_token")
            .toString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }

    // offer: the servers' keys TOKEN_POP3_<offer>_PORT and TOKEN_SMTP_<offer>_PORT
    // (the main Dovecot for BOTH_PLAIN); none: no POP3, the password-only SMTP.
    void signInWhateverTheServerOffers_data()
    {
        QTest::addColumn<QString>("offer");
        QTest::addColumn<QString>("used");    // the POP3 server's mechanism
        QTest::addColumn<QString>("refusal"); // the SMTP failure expected, empty: sent
        QTest::newRow("XOAUTH2 alone") << "XOAUTH2"
                                       << "XOAUTH2"
                                       << "";
        QTest::newRow("OAUTHBEARER alone") << "OAUTHBEARER"
                                           << "OAUTHBEARER"
                                           << "";
        QTest::newRow("both") << "BOTH"
                              << "XOAUTH2"
                              << "";
        QTest::newRow("both with PLAIN") << "BOTH_PLAIN"
                                         << "XOAUTH2"
                                         << "";
        QTest::newRow("passwords only")
            << ""
            << ""
            << "Le serveur SMTP ne prend pas la connexion par jeton OAuth 2.0 (ni XOAUTH2 ni "
               "OAUTHBEARER) : il propose LOGIN PLAIN : réponse non envoyée";
    }
    void signInWhateverTheServerOffers()
    {
        QFETCH(QString, offer);
        QFETCH(QString, used);
        QFETCH(QString, refusal);
        const QString user =
            QStringLiteral("jeton-%1").arg(QTest::currentDataTag()).replace(' ', '-');
        const QString token = jeton(user);
        QVERIFY(!token.isEmpty());

        if (!offer.isEmpty()) {
            VmimePop3Session session;
            session.setTimeout(10000);
            session.SetAuthMethod(Authentification::JetonOAuth2);
            QStringList trace;
            connect(&session, &Pop3Session::StatusChanged, this,
                    [&trace](const QString &line, qint32) { trace += line; });
            const QString port = servers.value(
                offer == "BOTH_PLAIN" ? "POP3_PORT" : "TOKEN_POP3_" + offer + "_PORT");
            QCOMPARE(session.Open("127.0.0.1:" + port, 110, user, token), 0);
            QVERIFY2(trace.join(' ').contains("AUTH " + used + " "), qPrintable(trace.join('\n')));
            QVERIFY(!trace.join(' ').contains(token));
            session.Close();
        }

        const QString recipient = user + "@example.org";
        servers.clearReceived(recipient);
        VmimeSmtpSender sender;
        sender.setTimeout(10000);
        QSignalSpy errors(&sender, &SmtpSender::SMTPError);
        sender.properties.server =
            "127.0.0.1:" +
            servers.value(offer.isEmpty() ? "SMTP_AUTH_PORT" : "TOKEN_SMTP_" + offer + "_PORT");
        sender.properties.username = user;
        sender.properties.password = token;
        sender.properties.authentification = Authentification::JetonOAuth2;
        sender.properties.mailfrom = "<tramelon@example.net>";
        sender.properties.sendto = recipient;
        sender.sendmessage();
        QCOMPARE(servers.receivedMails(recipient).size(), refusal.isEmpty() ? 1 : 0);
        QCOMPARE(errors.isEmpty() ? QString() : errors.first().at(1).toString(), refusal);
    }
};

QTEST_GUILESS_MAIN(TestSaslJetonServeurs)
#include "tst_sasl_jeton_serveurs.moc"
