// OAuth 2.0 sign-in against the real Dovecot (oauth2 passdb), the XOAUTH2 SMTP
// server and the test identity service: the login command, the cycles that
// renew the token, and what a revoked grant or a silent endpoint do.
#include "platform/message_box.h"
#include "server/core/oauth/connexion_oauth2.h"
#include "server/core/oauth/ecoute_retour.h"
#include "server/core/oauth/oauth_client.h"
#include "server/core/oauth/oauth_jeton.h"
#include "server/core/oauth/oauth_serveur.h"
#include "server/core/serveur.h"
#include "server/frame/oauth_token_file.h"
#include "server/mail/sequenceur.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

#include <optional>

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

class TestOAuth2E2e : public SuiteAvecLecteur
{
    Q_OBJECT

private:
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
    // Whether the provider saw the client hang up, asked with blocking calls
    // only: no event of this thread is handled meanwhile.
    bool hungUpNow(const QString &client)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, servers.value("IDENTITY_PORT").toUShort());
        if (!socket.waitForConnected(2000))
            return false;
        socket.write("GET /admin/stats?client_id=" + client.toUtf8() + " HTTP/1.0\r\n\r\n");
        QByteArray answer;
        while (socket.waitForReadyRead(2000))
            answer += socket.readAll();
        answer += socket.readAll();
        const QByteArray json = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        return QJsonDocument::fromJson(json).object().value("hung_up").toBool();
    }
    // A field of this process's /proc status, in KiB ("VmRSS", "VmHWM").
    static qint64 statusKiB(const QByteArray &field)
    {
        QFile status("/proc/self/status");
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &l : status.readAll().split('\n'))
            if (l.startsWith(field + ':'))
                return l.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
        return -1;
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
    QString newClient(const QString &user, int lifetime, int pending, const QString &outcome,
                      const QString &answer = {}, QString id = {})
    {
        if (id.isEmpty())
            id = QStringLiteral("client-%1-%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(++serial);
        call("/admin/client", {{"client_id", id},
                               {"username", user},
                               {"lifetime", QString::number(lifetime)},
                               {"pending", QString::number(pending)},
                               {"outcome", outcome},
                               {"answer", answer}});
        return id;
    }
    // The endless answer was cut short: the client hung up, having sent the
    // 64 KiB, what the program's transfer takes in at once and what the two
    // sockets' buffers hold (a few MB on loopback), no more.
    void checkEndlessCut(const QString &client)
    {
        QTRY_VERIFY_WITH_TIMEOUT(call("/admin/stats?client_id=" + client).value("hung_up").toBool(),
                                 10000);
        QVERIFY2(stat(client, "streamed") < 16 * 1024 * 1024,
                 qPrintable(QString::number(stat(client, "streamed"))));
    }
    // Plays the operator's browser: opens the address and follows the provider
    // back to the loopback (empty when that went well), or only tells where it
    // is sent back to (follow false).
    QString browse(const QString &address, bool follow = true)
    {
        QNetworkRequest request{QUrl(address)};
        if (!follow)
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(http.get(request));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !done.wait(10000))
            return "pas de réponse";
        if (!follow)
            return reply->header(QNetworkRequest::LocationHeader).toUrl().toString();
        return reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
    }
    // The loopback listener's status for raw bytes; 0 when it closed without one.
    static int statusFor(quint16 port, const QByteArray &request)
    {
        QTcpSocket socket;
        QSignalSpy closed(&socket, &QTcpSocket::disconnected);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
        if (!closed.wait(5000))
            return -1;
        const QByteArray answer = socket.readAll();
        return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
    }
    // A browser sign-in in this process, its address shown.
    struct Navigateur {
        std::unique_ptr<ConnexionOAuth2> connexion;
        std::unique_ptr<QSignalSpy> done;
        QString address;
        quint16 port = 0;
    };
    Navigateur startBrowserSignIn(const ServerFolder &folder, int totalMs = 60000,
                                  int readMs = 60000)
    {
        writeIni(folder, "o1", oauthMail(servers.smtpPort()),
                 oauthSection(newClient("o1", 3600, 0, "grant"), "google"));
        Navigateur n{std::make_unique<ConnexionOAuth2>(folder.path()), nullptr, {}, 0};
        n.done = std::make_unique<QSignalSpy>(n.connexion.get(), &ConnexionOAuth2::termine);
        QSignalSpy shown(n.connexion.get(), &ConnexionOAuth2::adresse_navigateur);
        n.connexion->set_delais(totalMs, readMs);
        n.connexion->demarrer();
        if (shown.isEmpty())
            return n;
        n.address = shown.first().at(0).toString();
        n.port = QUrl(QUrlQuery(QUrl(n.address)).queryItemValue("redirect_uri")).port();
        return n;
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

    // The cut does not wait for the program's thread: while it is busy the
    // answer is read and cut all the same, and never held whole.
    void endlessAnswerCutWhileCallerBusy()
    {
        const QString client = newClient("o1", 3600, 0, "grant", "endless");
        QFile clear("/proc/self/clear_refs"); // the peak counts from now
        QVERIFY(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1);
        clear.close();
        [[maybe_unused]] const qint64 avant = statusKiB("VmRSS");
        ClientOAuth2 oauth;
        std::optional<ReponseOAuth2> reponse;
        oauth.poster(QUrl(idp() + "/token"),
                     QUrlQuery({{"client_id", client}, {"grant_type", "refresh_token"}}),
                     [&](const ReponseOAuth2 &r) { reponse = r; });
        // This thread sleeps and asks without an event loop, up to 15 s.
        bool raccroche = false;
        for (int i = 0; i < 30 && !raccroche; ++i) {
            QThread::msleep(500);
            raccroche = hungUpNow(client);
        }
        QVERIFY(raccroche);
        QTRY_VERIFY(reponse.has_value());
        QVERIFY2(reponse->description.contains("plus de 64 Kio"), qPrintable(reponse->description));
        // The sanitizer keeps freed blocks in quarantine: its peak says nothing
        // of what was held at once.
#if !defined(__SANITIZE_ADDRESS__)
        const qint64 pic = statusKiB("VmHWM");
        QVERIFY2(pic - avant < 32 * 1024,
                 qPrintable(QString("%1 KiB, then %2").arg(avant).arg(pic)));
#endif
    }

    void loginCommand_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("fournisseur");
        QTest::addColumn<bool>("endpointUp");
        QTest::addColumn<QString>("expected"); // on stdout when granted, else on stderr
        QTest::addColumn<QString>("answer");
        QTest::newRow("device: pending three times, then granted")
            << "grant" << QByteArray("autre") << true << "WDJB-MJHT"
            << "";
        QTest::newRow("device: denied")
            << "access_denied" << QByteArray("autre") << true << "refusée"
            << "";
        QTest::newRow("device: code expired")
            << "expired_token" << QByteArray("autre") << true << "expiré"
            << "";
        QTest::newRow("device: endpoint unreachable")
            << "grant" << QByteArray("autre") << false << "ne répond pas"
            << "";
        QTest::newRow("device: endless answer, cut at 64 KiB")
            << "grant" << QByteArray("autre") << true << "plus de 64 Kio"
            << "endless";
        QTest::newRow("browser with PKCE (google)")
            << "grant" << QByteArray("google") << true << "/authorize?"
            << "";
    }
    void loginCommand()
    {
        QFETCH(QString, outcome);
        QFETCH(QByteArray, fournisseur);
        QFETCH(bool, endpointUp);
        QFETCH(QString, expected);
        QFETCH(QString, answer);
        ServerFolder folder(servers, "o1", {"KKKKKKKKKKK1"});
        const QString client = newClient("o1", 3600, 3, outcome, answer);
        writeIni(folder, "o1", oauthMail(servers.smtpPort()),
                 oauthSection(client, fournisseur, endpointUp ? "" : "device"));

        QProcess tramelon;
        tramelon.start(TRAMELON_BIN, {"--folder", folder.path(), "--connexion-oauth2"});
        QVERIFY(tramelon.waitForStarted());
        const bool granted = outcome == "grant" && endpointUp && answer.isEmpty();
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
        if (answer == "endless")
            checkEndlessCut(client);
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

    void requestsThatDoNotEndTheSignIn_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        const QByteArray end = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        QTest::newRow("code, no state") << "GET /?code=x" + end << 400;
        QTest::newRow("code, wrong state") << "GET /?code=x&state=autre" + end << 400;
        QTest::newRow("refusal, wrong state") << "GET /?error=access_denied&state=x" + end << 400;
        QTest::newRow("another page") << "GET /favicon.ico" + end << 404;
        QTest::newRow("not a GET") << "POST /?code=x" + end << 405;
        QTest::newRow("not HTTP") << QByteArray("bonjour\r\n\r\n") << 400;
        // One byte over, all of it read by the listener: its answer is not lost to a reset.
        QTest::newRow("headers over 8 KiB")
            << ("GET /?code=x" + end.left(end.size() - 2) + "X: ")
                   .leftJustified(EcouteRetour::kTailleRequeteMax + 1, 'a')
            << 431;
    }
    void requestsThatDoNotEndTheSignIn()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        ServerFolder folder(servers, "o1", {"EEEEEEEEEEE1"});
        Navigateur n = startBrowserSignIn(folder);
        QVERIFY(n.port != 0);
        QCOMPARE(statusFor(n.port, request), status);
        QCOMPARE(n.done->size(), 0);
        QCOMPARE(browse(n.address), QString());
        QTRY_COMPARE_WITH_TIMEOUT(n.done->size(), 1, 10000);
        QVERIFY2(n.done->first().at(0).toBool(), qPrintable(n.done->first().at(1).toString()));
    }

    void idleConnectionsPastTheCapArePushedOut()
    {
        ServerFolder folder(servers, "o1", {"EEEEEEEEEEE1"});
        Navigateur n = startBrowserSignIn(folder);
        QObject owner;
        QList<QTcpSocket *> idle;
        int closedCount = 0;
        for (int i = 0; i < EcouteRetour::kConnexionsMax + 8; ++i) {
            auto *socket = new QTcpSocket(&owner);
            connect(socket, &QTcpSocket::disconnected, this, [&closedCount] { ++closedCount; });
            socket->connectToHost(QHostAddress::LocalHost, n.port);
            idle << socket;
        }
        QTRY_COMPARE(closedCount, 8);
        for (int i = 0; i < idle.size(); ++i)
            QCOMPARE(idle[i]->state() == QAbstractSocket::ConnectedState, i >= 8);
        QCOMPARE(browse(n.address), QString());
        QTRY_COMPARE_WITH_TIMEOUT(n.done->size(), 1, 10000);
        QVERIFY(n.done->first().at(0).toBool());
    }

    void silentConnectionsAndTheSignInTimeOut()
    {
        ServerFolder folder(servers, "o1", {"EEEEEEEEEEE1"});
        Navigateur n = startBrowserSignIn(folder, 4000, 200);
        // Silent, or a request line that never ends: closed without an answer.
        QCOMPARE(statusFor(n.port, {}), 0);
        QCOMPARE(statusFor(n.port, "GET /?code=x&sta"), 0);
        QCOMPARE(n.done->size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(n.done->size(), 1, 10000);
        QCOMPARE(n.done->first().at(0).toBool(), false);
        QVERIFY2(n.done->first().at(1).toString().contains("délai"),
                 qPrintable(n.done->first().at(1).toString()));
    }

    void signInWithoutBrowser_data()
    {
        QTest::addColumn<QStringList>("args"); // PORT: a free port
        QTest::addColumn<QString>("back");     // how the browser's address comes back
        QTest::newRow("fixed port, as through a tunnel")
            << QStringList{"--port", "PORT"} << "browser";
        QTest::newRow("pasted, after a stray line and another sign-in's address")
            << QStringList{"--coller"} << "paste";
        QTest::newRow("pasted, fixed port") << QStringList{"--coller", "--port", "PORT"} << "paste";
        QTest::newRow("standard input closed first") << QStringList{"--coller"} << "close";
    }
    void signInWithoutBrowser()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, back);
        ServerFolder folder(servers, "o1", {"KKKKKKKKKKK1"});
        const QString client = newClient("o1", 3600, 0, "grant");
        writeIni(folder, "o1", oauthMail(servers.smtpPort()), oauthSection(client, "google"));
        const QString port = QString::number(MailServers::unusedPort());
        args.replaceInStrings("PORT", port);

        QProcess tramelon;
        tramelon.start(TRAMELON_BIN,
                       QStringList{"--folder", folder.path(), "--connexion-oauth2"} + args);
        QVERIFY(tramelon.waitForStarted());
        QString shown;
        QTRY_VERIFY_WITH_TIMEOUT(
            (shown += tramelon.readAllStandardOutput()).contains("/authorize?"), 10000);
        const QString address =
            QRegularExpression("(http://\\S+/authorize\\?\\S+)").match(shown).captured(1);
        if (args.contains("--port"))
            QVERIFY2(address.contains("redirect_uri=http://127.0.0.1:" + port + "/"),
                     qPrintable(address));
        if (back == "browser") {
            QCOMPARE(browse(address), QString());
        } else if (back == "paste") {
            const QString redirect = browse(address, false);
            QVERIFY2(redirect.contains("code="), qPrintable(redirect));
            const QString state = QUrlQuery(QUrl(redirect)).queryItemValue("state");
            tramelon.write("bonjour\n\n" + QString(redirect).replace(state, "autre").toUtf8() +
                           "\n" + redirect.toUtf8() + "\n");
        } else {
            tramelon.closeWriteChannel();
        }
        QVERIFY(tramelon.waitForFinished(20000));
        const QString err = QString::fromUtf8(tramelon.readAllStandardError());
        QCOMPARE(tramelon.exitCode() == 0, back != "close");
        QCOMPARE(QFile::exists(fichier_jeton::chemin(folder.path())), back != "close");
        if (back == "paste") {
            QVERIFY2(err.contains("adresse non reconnue"), qPrintable(err));
            QVERIFY2(err.contains("ne vient pas de la connexion en cours"), qPrintable(err));
        }
        if (back == "close")
            QVERIFY2(err.contains("entrée standard fermée"), qPrintable(err));
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
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("line");
        QTest::newRow("grant revoked: polling stops, journalled")
            << "revoked" << false << "--connexion-oauth2";
        QTest::newRow("endpoint silent: that cycle fails, polling goes on")
            << "silent" << true << "ne répond pas";
        QTest::newRow("endless answer: cut at 64 KiB, that cycle fails, polling goes on")
            << "endless" << true << "plus de 64 Kio";
    }
    void refusedOrSilentTokenEndpoint()
    {
        QFETCH(QString, fault);
        QFETCH(bool, polling);
        QFETCH(QString, line);
        const bool revoked = fault == "revoked";
        const QString user = "o3";
        ServerFolder folder(servers, user, {"DDDDDDDDDDD1"});
        servers.clearMailbox(user);
        const QString client = newClient(user, 20, 0, "grant");
        writeIni(folder, user, oauthMail(servers.value("SMTP_OAUTH_PORT").toUShort()),
                 oauthSection(client));
        QVERIFY(signIn(folder));
        if (revoked)
            call("/admin/revoke", {{"client_id", client}});
        else if (fault == "endless")
            newClient(user, 20, 0, "grant", "endless", client);
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
        if (fault == "endless")
            checkEndlessCut(client);
    }
};

QTEST_GUILESS_MAIN(TestOAuth2E2e)
#include "tst_oauth2_e2e.moc"
