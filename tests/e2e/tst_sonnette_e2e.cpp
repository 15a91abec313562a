// The doorbell against the real Dovecot, which speaks IMAP with IDLE on the
// mailboxes it serves by POP3: mails handled without waiting for a one-hour
// cycle, the IMAP side cut and back while POP3 goes on, a chain refused
// before any credential goes out.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/vmime/sonnette_imap.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/suite_avec_lecteur.h"
#include "tests/support/tls_mail_peer.h"

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {
const QString kKey1 = QStringLiteral("AAAAAAAAAAA1");
const QString kKey2 = QStringLiteral("BBBBBBBBBBB2");
} // namespace

// A relay to the IMAP port that can be unplugged: while cut, connections are
// refused and those open are dropped, as when the server is stopped.
class RelaisCoupable : public QTcpServer
{
public:
    explicit RelaisCoupable(quint16 upstream) : m_upstream(upstream)
    {
        listen(QHostAddress::LocalHost);
        m_port = serverPort();
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection()) {
                auto *amont = new QTcpSocket(client);
                amont->connectToHost(QHostAddress::LocalHost, m_upstream);
                connect(client, &QTcpSocket::readyRead, amont,
                        [client, amont] { amont->write(client->readAll()); });
                connect(amont, &QTcpSocket::readyRead, client,
                        [client, amont] { client->write(amont->readAll()); });
                connect(amont, &QTcpSocket::disconnected, client, &QTcpSocket::abort);
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return m_port; }
    void couper()
    {
        close();
        for (QTcpSocket *client : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly))
            client->abort();
    }
    bool retablir() { return listen(QHostAddress::LocalHost, m_port); }

private:
    quint16 m_upstream;
    quint16 m_port = 0;
};

class TestSonnetteE2e : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    QString user;
    std::unique_ptr<ServerFolder> folder;
    std::unique_ptr<Serveur> serveur;
    QString sender;
    int serial = 0;

    SonnetteImap::Reglages rapide() const
    {
        SonnetteImap::Reglages reglages;
        reglages.premier_essai = 100ms;
        reglages.dernier_essai = 400ms;
        reglages.delai = 5s;
        reglages.autorites = {servers.caCert()};
        return reglages;
    }
    quint16 port(const char *key) const { return quint16(servers.value(key).toUInt()); }

    // The whole server with its doorbell; the steps come every 50 ms, so a
    // cycle of relance seconds lasts relance / 20 seconds.
    void start(const QString &imap, int relance)
    {
        QByteArray ini = folder->read("pop3.ini");
        ini.replace("[mail]\r\n", "[mail]\r\nserveur_imap=" + imap.toUtf8() + "\r\n");
        ini.replace("relance=60", "relance=" + QByteArray::number(relance));
        folder->write("pop3.ini", ini);
        auto session = std::make_unique<VmimePop3Session>();
        session->setTimeout(5000);
        auto smtp = std::make_unique<VmimeSmtpSender>();
        smtp->setTimeout(5000);
        serveur = std::make_unique<Serveur>(folder->path(), std::move(session), std::move(smtp),
                                            [](int) {});
        serveur->installer_sonnette(std::make_unique<SonnetteImap>(rapide()));
        QVERIFY(serveur->demarrer());
        serveur->T_sequenceur().setInterval(50);
    }
    QString etat() const { return serveur->affichage().champs().sonnette; }
    qint16 etape() const { return serveur->state().etape_sequenceur; }
    QByteArray journal() const
    {
        return folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt");
    }
    void deliver(const QString &subject, const QString &body)
    {
        QVERIFY(!servers.deliver(user, ServerFolder::commandMail(sender, subject, body)).isEmpty());
    }
    qsizetype replies() const { return servers.receivedMails(sender).size(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        QVERIFY2(port("IMAP_PORT") && port("IMAPS_PORT"), "the mail servers speak no IMAP");
    }

    void init()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        user = servers.value("DOORBELL_USERS").split(' ').value(0);
        servers.clearMailbox(user);
        sender = QStringLiteral("sonnette%1@example.org").arg(++serial);
        servers.clearReceived(sender);
        folder = std::make_unique<ServerFolder>(servers, user, QStringList{kKey1, kKey2});
    }
    void cleanup()
    {
        serveur.reset();
        folder.reset();
        platform::installer_gestionnaire_messages({});
    }

    void mailsAreHandledWithoutWaitingForTheCycle()
    {
        // A box that already holds several mails, the command last: cycle
        // after cycle until it is empty, no bell needed.
        for (int i = 0; i < 4; ++i)
            deliver(QStringLiteral("bonjour %1").arg(i), "pas de commande");
        deliver("Actions", compose_message_commande("run.bat", kKey1));
        // One hour between cycles: 180 s at this pace, far beyond every wait below.
        start(QStringLiteral("imaps://127.0.0.1:%1").arg(port("IMAPS_PORT")), 3600);
        // The message log says why, should a mail stay.
        QTRY_VERIFY2_WITH_TIMEOUT(servers.messageCount(user) == 0,
                                  qPrintable(serveur->affichage().champs().Text3), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder->marker()), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(replies(), 5, 5000); // each mail is answered
        QTRY_VERIFY_WITH_TIMEOUT(etat().contains("connectée"), 10000);
        QFile::remove(folder->marker());

        // A mail that comes is answered at once, the box having been empty.
        QTRY_VERIFY_WITH_TIMEOUT(etape() > 9, 10000);
        int cycles = 0;
        connect(&serveur->affichage(), &Affichage::modifie, this, [this, &cycles](Champ champ) {
            cycles += champ == Champ::Label14 && etape() == 1;
        });
        deliver("Actions", compose_message_commande("run.bat", kKey2));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder->marker()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(replies(), 6, 10000);
        // What the POP3 session did to the box rings no bell: the server then
        // waits, counting towards the hour.
        QTRY_VERIFY_WITH_TIMEOUT(etape() >= 200, 20000);
        QCOMPARE(cycles, 1);
        QVERIFY(!journal().contains("sonnette IMAP :"));
    }

    void imapSideCutAndBack()
    {
        RelaisCoupable relais(port("IMAP_PORT"));
        QVERIFY(relais.isListening());
        start(QStringLiteral("imap://127.0.0.1:%1").arg(relais.port()), 60); // STARTTLS; 3 s cycles
        QTRY_VERIFY_WITH_TIMEOUT(etat().contains("connectée"), 10000);
        // On a busy machine the first sign-in may already have failed once:
        // the lines are counted from the cut on.
        const qsizetype pannes = journal().count("sonnette IMAP :");
        const qsizetype retours = journal().count("sonnette IMAP de nouveau connectée");

        relais.couper();
        QTRY_VERIFY_WITH_TIMEOUT(etat().contains("hors service"), 10000);
        // Polling goes on without it, at the configured cycle.
        deliver("Actions", compose_message_commande("run.bat", kKey1));
        QTRY_COMPARE_WITH_TIMEOUT(replies(), 1, 15000);
        QVERIFY(QFile::exists(folder->marker()));
        // Tried again many times meanwhile, said once.
        QCOMPARE(journal().count("sonnette IMAP :"), pannes + 1);

        QVERIFY(relais.retablir());
        QTRY_VERIFY_WITH_TIMEOUT(etat().contains("connectée"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(journal().count("sonnette IMAP de nouveau connectée"),
                                  retours + 1, 5000);
        QCOMPARE(journal().count("sonnette IMAP :"), pannes + 1);
    }

    void signIn_data()
    {
        QTest::addColumn<QString>("secret"); // "jeton": a live token of the identity service
        QTest::addColumn<bool>("jeton");
        QTest::addColumn<bool>("connectee");
        QTest::newRow("password") << "secret" << false << true;
        QTest::newRow("wrong password") << "faux" << false << false;
        QTest::newRow("XOAUTH2 token") << "jeton" << true << true;
        QTest::newRow("dead token") << "at-mort" << true << false;
    }
    void signIn()
    {
        QFETCH(QString, secret);
        QFETCH(bool, jeton);
        QFETCH(bool, connectee);
        const QString compte = servers.value("DOORBELL_USERS").split(' ').value(2);
        if (secret == "jeton") {
            // The identity service grants a token for that mailbox at once.
            QProcess python;
            python.start("/usr/bin/python3",
                         {"-c",
                          "import json, sys, urllib.parse, urllib.request\n"
                          "base, user = sys.argv[1], sys.argv[2]\n"
                          "def post(path, **form):\n"
                          "    data = urllib.parse.urlencode(form).encode()\n"
                          "    return json.load(urllib.request.urlopen(base + path, data))\n"
                          "post('/admin/client', client_id='sonnette', username=user)\n"
                          "code = post('/device', client_id='sonnette')['device_code']\n"
                          "print(post('/token', client_id='sonnette', device_code=code,\n"
                          "    grant_type='urn:ietf:params:oauth:grant-type:device_code')"
                          "['access_token'])\n",
                          "http://127.0.0.1:" + servers.value("IDENTITY_PORT"), compte});
            QVERIFY(python.waitForFinished(10000));
            secret = QString::fromLatin1(python.readAllStandardOutput().trimmed());
            QVERIFY2(secret.startsWith("at-"), python.readAllStandardError().constData());
        }
        // A token is checked by Dovecot with the identity service: on a loaded
        // machine that alone took longer than the usual 5 s a call.
        SonnetteImap::Reglages reglages = rapide();
        reglages.delai = 20s;
        SonnetteImap sonnette(reglages);
        QSignalSpy ok(&sonnette, &Sonnette::connectee);
        QSignalSpy panne(&sonnette, &Sonnette::en_panne);
        sonnette.demarrer(
            {QStringLiteral("imap://127.0.0.1:%1").arg(port("IMAP_PORT")), compte, secret, jeton});
        QTRY_VERIFY_WITH_TIMEOUT(ok.size() + panne.size() > 0, 30000);
        QVERIFY2(ok.size() == (connectee ? 1 : 0),
                 qPrintable(panne.isEmpty() ? QString() : panne.at(0).at(0).toString()));
        if (!connectee)
            QVERIFY2(panne.at(0).at(0).toString().contains("a refusé la connexion de"),
                     qPrintable(panne.at(0).at(0).toString()));
    }

    void refusedChainGetsNoCredential_data()
    {
        QTest::addColumn<QString>("chain");
        QTest::addColumn<QString>("reason");
        QTest::newRow("self-signed") << "self-signed"
                                     << "issuer is unknown";
        QTest::newRow("other host") << "other-host"
                                    << "does not match";
        QTest::newRow("expired") << "expired"
                                 << "expired";
    }
    void refusedChainGetsNoCredential()
    {
        QFETCH(QString, chain);
        QFETCH(QString, reason);
        static QTemporaryDir certificates;
        static const bool made =
            QProcess::execute(QStringLiteral(CERTIFICATE_SCRIPT), {certificates.path()}) == 0;
        QVERIFY(made);
        TlsMailPeer peer(TlsMailPeer::Protocol::Pop3, true, certificates.filePath(chain + ".pem"),
                         certificates.filePath("leaf.key"));
        QVERIFY(peer.isValid());

        SonnetteImap::Reglages reglages = rapide();
        reglages.autorites = {certificates.filePath("root.pem")};
        SonnetteImap sonnette(reglages);
        QSignalSpy panne(&sonnette, &Sonnette::en_panne);
        sonnette.demarrer({QStringLiteral("imaps://127.0.0.1:%1").arg(peer.serverPort()),
                           QStringLiteral("d2"), QStringLiteral("secret"), false});
        QVERIFY(panne.wait(10000));
        const QString texte = panne.at(0).at(0).toString();
        QVERIFY2(texte.contains("certificat du serveur IMAP") && texte.contains(reason),
                 qPrintable(texte));
        QCOMPARE(peer.received(), QByteArray());
        sonnette.arreter();
    }
};

QTEST_GUILESS_MAIN(TestSonnetteE2e)
#include "tst_sonnette_e2e.moc"
