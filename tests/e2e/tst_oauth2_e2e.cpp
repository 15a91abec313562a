// OAuth 2.0 sign-in against the real Dovecot (oauth2 passdb), the XOAUTH2 SMTP
// server and the test identity service: the login command, the cycles that
// renew the token, and what a revoked grant or a silent endpoint do.
#include "platform/message_box.h"
#include "server/core/oauth/connexion_oauth2.h"
#include "server/core/oauth/oauth_jeton.h"
#include "server/core/oauth/oauth_serveur.h"
#include "server/core/serveur.h"
#include "server/frame/oauth_token_file.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

namespace {
// The server as the program puts it together for OAuth 2.0 sign-in, with what
// it writes to its message logs.
struct ServeurOAuth2 {
    explicit ServeurOAuth2(const QString &dossier) : source(dossier), serveur(avec(dossier, source))
    {
        arret_sur_revocation(serveur, source);
        QObject::connect(&serveur.affichage(), &Affichage::ajoute, &serveur,
                         [this](Champ, const QString &text) { logs += text; });
    }
    static Serveur avec(const QString &dossier, SourceJeton &source)
    {
        ComposantsMail mail = avec_oauth2(source, std::make_unique<VmimePop3Session>(),
                                          std::make_unique<VmimeSmtpSender>());
        return Serveur(dossier, std::move(mail.session), std::move(mail.smtp), [](int) {});
    }

    SourceJeton source;
    Serveur serveur;
    QString logs;
};
} // namespace

class TestOAuth2E2e : public QObject
{
    Q_OBJECT

    MailServers servers;
    QNetworkAccessManager http;
    int serial = 0;

    QString idp() const { return "http://127.0.0.1:" + servers.value("IDENTITY_PORT"); }
    QJsonObject call(const QString &path, const QList<QPair<QString, QString>> &form = {})
    {
        QNetworkRequest request(QUrl(idp() + path));
        QNetworkReply *reply;
        if (form.isEmpty()) {
            reply = http.get(request);
        } else {
            QUrlQuery q;
            q.setQueryItems(form);
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              "application/x-www-form-urlencoded");
            reply = http.post(request, q.toString(QUrl::FullyEncoded).toUtf8());
        }
        QSignalSpy done(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            done.wait(10000);
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll()).object();
    }
    int stat(const QString &client, const char *key)
    {
        return call("/admin/stats?client_id=" + client).value(key).toInt(-1);
    }
    QString currentRefresh(const QString &client)
    {
        return call("/admin/stats?client_id=" + client).value("current_refresh").toString();
    }
    // A client of the identity service for this test alone.
    QString newClient(const QString &user, int lifetime, int pending, const QString &outcome)
    {
        const QString id =
            QStringLiteral("client-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
        call("/admin/client", {{"client_id", id},
                               {"username", user},
                               {"lifetime", QString::number(lifetime)},
                               {"pending", QString::number(pending)},
                               {"outcome", outcome}});
        return id;
    }
    void writeIni(const ServerFolder &folder, const QString &user, const QByteArray &mailLines,
                  const QByteArray &oauthLines)
    {
        folder.write("pop3.ini",
                     "[mail]\nserveur_pop=127.0.0.1:" + QByteArray::number(servers.pop3Port()) +
                         "\nrepondre=tramelon@example.org\nlogin=" + user.toLatin1() + "\n" +
                         mailLines + "[oauth2]\n" + oauthLines +
                         "[TIMER]\nrelance=60\n[PATH]\nrepertoire_commande=" +
                         QFile::encodeName(folder.actions()) + "\n");
    }
    // deadEndpoint: "device" or "token" points where nothing listens.
    QByteArray oauthSection(const QString &client, const QByteArray &fournisseur = "autre",
                            const QByteArray &deadEndpoint = {})
    {
        const QByteArray base = idp().toLatin1();
        const QByteArray dead = "http://127.0.0.1:" + QByteArray::number(MailServers::unusedPort());
        return "fournisseur=" + fournisseur + "\nclient_id=" + client.toLatin1() +
               "\nurl_appareil=" + (deadEndpoint == "device" ? dead : base) +
               "/device\nurl_jeton=" + (deadEndpoint == "token" ? dead : base) +
               "/token\nurl_autorisation=" + base + "/authorize\nportee=mail offline_access\n";
    }
    QByteArray oauthMail(quint16 smtpPort)
    {
        return "connexion=oauth2\nauthentification=on\nserveur_smtp=127.0.0.1:" +
               QByteArray::number(smtpPort) + "\n";
    }
    static QString refreshInFile(const ServerFolder &folder)
    {
        const auto jetons = fichier_jeton::lire(fichier_jeton::chemin(folder.path()));
        return jetons ? jetons->refresh_token : QString();
    }
    bool signIn(const ServerFolder &folder)
    {
        ConnexionOAuth2 connexion(folder.path());
        QSignalSpy done(&connexion, &ConnexionOAuth2::termine);
        connexion.demarrer();
        return (!done.isEmpty() || done.wait(20000)) && done.first().at(0).toBool();
    }
    static QString journal(const ServerFolder &folder)
    {
        QString all;
        for (const QString &name : QDir(folder.path()).entryList({"journal_*.txt"}))
            all += QString::fromLatin1(folder.read(name));
        return all;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        QVERIFY(!servers.value("IDENTITY_PORT").isEmpty());
        platform::installer_gestionnaire_messages([](const QString &) {});
    }

    void loginCommand_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("fournisseur");
        QTest::addColumn<bool>("endpointUp");
        QTest::addColumn<QString>("expected"); // on stdout when granted, else on stderr
        QTest::newRow("device: pending three times, then granted")
            << "grant" << QByteArray("autre") << true << "WDJB-MJHT";
        QTest::newRow("device: denied")
            << "access_denied" << QByteArray("autre") << true << "refusée";
        QTest::newRow("device: code expired")
            << "expired_token" << QByteArray("autre") << true << "expiré";
        QTest::newRow("device: endpoint unreachable")
            << "grant" << QByteArray("autre") << false << "ne répond pas";
        QTest::newRow("browser with PKCE (google)")
            << "grant" << QByteArray("google") << true << "/authorize?";
    }
    void loginCommand()
    {
        QFETCH(QString, outcome);
        QFETCH(QByteArray, fournisseur);
        QFETCH(bool, endpointUp);
        QFETCH(QString, expected);
        ServerFolder folder(servers, "o1", {"KKKKKKKKKKK1"});
        const QString client = newClient("o1", 3600, 3, outcome);
        writeIni(folder, "o1", oauthMail(servers.smtpPort()),
                 oauthSection(client, fournisseur, endpointUp ? "" : "device"));

        QProcess tramelon;
        tramelon.start(TRAMELON_BIN, {"--folder", folder.path(), "--connexion-oauth2"});
        QVERIFY(tramelon.waitForStarted());
        const bool granted = outcome == "grant" && endpointUp;
        if (fournisseur == "google") {
            // The test plays the operator's browser: it opens the address shown,
            // and the identity service sends it back to the program's loopback.
            QString shown;
            QTRY_VERIFY_WITH_TIMEOUT((shown += tramelon.readAllStandardOutput())
                                         .contains(QRegularExpression("http://\\S+\\n")),
                                     10000);
            const QString address =
                QRegularExpression("(http://\\S+/authorize\\?\\S+)").match(shown).captured(1);
            QVERIFY2(address.contains("code_challenge_method=S256"), qPrintable(shown));
            QNetworkReply *browser = http.get(QNetworkRequest(QUrl(address)));
            QSignalSpy back(browser, &QNetworkReply::finished);
            QVERIFY(back.wait(10000));
            QCOMPARE(browser->error(), QNetworkReply::NoError);
            expected = "jeton enregistré";
        }
        QVERIFY(tramelon.waitForFinished(30000));
        const QString out = QString::fromUtf8(tramelon.readAllStandardOutput());
        const QString err = QString::fromUtf8(tramelon.readAllStandardError());
        QCOMPARE(tramelon.exitCode() == 0, granted);
        QVERIFY2((granted ? out : err).contains(expected), qPrintable(out + err));
        const QString file = fichier_jeton::chemin(folder.path());
        QCOMPARE(QFile::exists(file), granted);
        if (!granted)
            return;
        QCOMPARE(QFile::permissions(file) &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
        QCOMPARE(refreshInFile(folder), currentRefresh(client));
        if (fournisseur != "google") {
            QVERIFY2(out.contains(idp() + "/device-login"), qPrintable(out));
            QCOMPARE(stat(client, "device_polls"), 4);
        }
        QVERIFY(!folder.read("pop3.ini").contains(refreshInFile(folder).toLatin1()));
    }

    void cyclesRenewTheTokenAndCarryOutCommands_data()
    {
        QTest::addColumn<bool>("oauth");
        QTest::newRow("OAuth 2.0: short-lived tokens, XOAUTH2 for POP3 and SMTP") << true;
        QTest::newRow("password sign-in, unchanged") << false;
    }
    void cyclesRenewTheTokenAndCarryOutCommands()
    {
        QFETCH(bool, oauth);
        const QString user = oauth ? "o2" : "u11";
        const QStringList keys{"CCCCCCCCCCC1", "CCCCCCCCCCC2", "CCCCCCCCCCC3"};
        ServerFolder folder(servers, user, keys);
        const QString sender = QStringLiteral("oauth-cycles-%1@example.org").arg(oauth);
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        // Tokens live 20 s: less than the minute a token must still have, so
        // every cycle renews it.
        const QString client = newClient(user, 20, 0, "grant");
        if (oauth) {
            writeIni(folder, user, oauthMail(servers.value("SMTP_OAUTH_PORT").toUShort()),
                     oauthSection(client));
            QVERIFY(signIn(folder));
        } else {
            writeIni(folder, user,
                     "pass=" + servers.pop3Password().toLatin1() +
                         "\nauthentification=off\nserveur_smtp=127.0.0.1:" +
                         QByteArray::number(servers.smtpPort()) + "\n",
                     oauthSection(client));
        }

        ServeurOAuth2 programme(folder.path());
        Serveur &serveur = programme.serveur;
        const QString &logs = programme.logs;
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().stop();

        for (int i = 0; i < keys.size(); ++i) {
            const QString body = "Commande:run.bat;\r\nCode:" + keys[i] + ";\r\n";
            QVERIFY(!servers.deliver(user, ServerFolder::commandMail(sender, "Actions", body))
                         .isEmpty());
            QFile::remove(folder.marker());
            for (int t = 0; t < 60; ++t)
                serveur.sequenceur().tick();
            QTRY_VERIFY(QFile::exists(folder.marker()));
            QTRY_VERIFY2(servers.receivedMails(sender).size() == i + 1,
                         qPrintable(logs.right(600)));
            QCOMPARE(servers.messageCount(user), 0);
            if (oauth) {
                // Renewed once in the cycle; the rotated refresh token replaced the old one.
                QCOMPARE(stat(client, "refreshes"), i + 1);
                QCOMPARE(refreshInFile(folder), currentRefresh(client));
            }
        }
        QCOMPARE(stat(client, "refreshes"), oauth ? 3 : 0);
        const auto jetons = fichier_jeton::lire(fichier_jeton::chemin(folder.path()));
        QCOMPARE(bool(jetons), oauth);
        if (oauth) {
            QVERIFY2(logs.contains("XOAUTH2"), qPrintable(logs));
            QVERIFY(!logs.contains(jetons->access_token));
            QVERIFY(!logs.contains(jetons->refresh_token));
        }
    }

    void refusedOrSilentTokenEndpoint_data()
    {
        QTest::addColumn<bool>("revoked");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("line");
        QTest::newRow("grant revoked: polling stops, journalled")
            << true << false << "--connexion-oauth2";
        QTest::newRow("endpoint silent: that cycle fails, polling goes on")
            << false << true << "ne répond pas";
    }
    void refusedOrSilentTokenEndpoint()
    {
        QFETCH(bool, revoked);
        QFETCH(bool, polling);
        QFETCH(QString, line);
        const QString user = "o3";
        ServerFolder folder(servers, user, {"DDDDDDDDDDD1"});
        servers.clearMailbox(user);
        const QString client = newClient(user, 20, 0, "grant");
        writeIni(folder, user, oauthMail(servers.value("SMTP_OAUTH_PORT").toUShort()),
                 oauthSection(client));
        QVERIFY(signIn(folder));
        if (revoked)
            call("/admin/revoke", {{"client_id", client}});
        else
            writeIni(folder, user, oauthMail(servers.value("SMTP_OAUTH_PORT").toUShort()),
                     oauthSection(client, "autre", "token"));
        QVERIFY(!servers
                     .deliver(user, ServerFolder::commandMail("x@example.org", "Actions",
                                                              "Commande:run.bat;\r\n"
                                                              "Code:DDDDDDDDDDD1;\r\n"))
                     .isEmpty());

        ServeurOAuth2 programme(folder.path());
        Serveur &serveur = programme.serveur;
        const QString &logs = programme.logs;
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().setInterval(3600 * 1000); // the test ticks
        QVERIFY(serveur.T_sequenceur().isActive());
        for (int t = 0; t < 60; ++t)
            serveur.sequenceur().tick();

        QCOMPARE(serveur.T_sequenceur().isActive(), polling);
        QCOMPARE(servers.messageCount(user), 1);
        QVERIFY(!QFile::exists(folder.marker()));
        QCOMPARE(stat(client, "refused_refreshes"), revoked ? 1 : 0);
        QVERIFY2(logs.contains(line), qPrintable(logs));
        QCOMPARE(journal(folder).contains(line), revoked);
    }
};

QTEST_GUILESS_MAIN(TestOAuth2E2e)
#include "tst_oauth2_e2e.moc"
