// The OAuth 2.0 settings of pop3.ini and the token file, on real files.
#include "server/frame/oauth_settings.h"
#include "server/frame/oauth_token_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestOAuthSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("pop3.ini")); }
    void writeIni(const QByteArray &text)
    {
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

private Q_SLOTS:
    void endpointAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("https") << "https://login.example.org/token" << true;
        QTest::newRow("http to 127.0.0.1") << "http://127.0.0.1:8080/token" << true;
        QTest::newRow("http to 127.3.2.1") << "http://127.3.2.1/token" << true;
        QTest::newRow("http to localhost") << "http://localhost:9/token" << true;
        QTest::newRow("http to ::1") << "http://[::1]:9/token" << true;
        QTest::newRow("http elsewhere") << "http://login.example.org/token" << false;
        QTest::newRow("http to a private address") << "http://192.168.1.10/token" << false;
        QTest::newRow("loopback-looking name") << "http://127.0.0.1.example.org/t" << false;
        QTest::newRow("no scheme") << "login.example.org/token" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1/token" << false;
        QTest::newRow("empty") << "" << false;
    }
    void endpointAddresses()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        QCOMPARE(oauth2::verifie_url(url).isEmpty(), accepted);
    }

    void providerPresetsAndOverrides_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<bool>("actif");
        QTest::addColumn<bool>("navigateur");
        QTest::addColumn<QString>("jeton");
        QTest::addColumn<QString>("portee");
        QTest::newRow("no key: password sign-in")
            << QByteArray("[mail]\nlogin=a@b.org\n") << false << false << ""
            << "";
        QTest::newRow("microsoft")
            << QByteArray("[mail]\nconnexion=oauth2\n[oauth2]\nfournisseur=microsoft\n") << true
            << false << "https://login.microsoftonline.com/common/oauth2/v2.0/token"
            << "https://outlook.office.com/POP.AccessAsUser.All "
               "https://outlook.office.com/SMTP.Send offline_access";
        QTest::newRow("google, browser sign-in")
            << QByteArray("[mail]\nconnexion=oauth2\n[oauth2]\nfournisseur=google\n") << true
            << true << "https://oauth2.googleapis.com/token"
            << "https://mail.google.com/";
        QTest::newRow("microsoft, endpoint overridden")
            << QByteArray("[mail]\nconnexion=oauth2\n[oauth2]\nfournisseur=microsoft\n"
                          "url_jeton=https://idp.example.org/t\nportee=a b\n")
            << true << false << "https://idp.example.org/t"
            << "a b";
        QTest::newRow("other connexion value")
            << QByteArray("[mail]\nconnexion=mot_de_passe\n") << false << false << ""
            << "";
    }
    void providerPresetsAndOverrides()
    {
        QFETCH(QByteArray, section);
        QFETCH(bool, actif);
        QFETCH(bool, navigateur);
        QFETCH(QString, jeton);
        QFETCH(QString, portee);
        writeIni(section);
        const oauth2::Reglages r = oauth2::lire_reglages(ini());
        QCOMPARE(r.actif, actif);
        QCOMPARE(r.par_navigateur(), navigateur);
        QCOMPARE(r.url_jeton, jeton);
        QCOMPARE(r.portee, portee);
    }

    void tokenFileIsOwnerOnlyAndRoundTrips()
    {
        const QString path = fichier_jeton::chemin(dir.path() + u'/');
        {
            // An operator's copy readable by all must not stay so.
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("refresh_token=old\n");
        }
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadOther | QFile::ReadGroup));
        JetonsOAuth2 jetons;
        jetons.refresh_token = QStringLiteral("rt-1");
        jetons.access_token = QStringLiteral("at-1");
        jetons.expiration = QDateTime::fromSecsSinceEpoch(2000000000, Qt::UTC);
        QVERIFY(fichier_jeton::ecrire(path, jetons));
        QCOMPARE(QFile::permissions(path) &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        const auto lu = fichier_jeton::lire(path);
        QVERIFY(lu);
        QCOMPARE(lu->refresh_token, jetons.refresh_token);
        QCOMPARE(lu->access_token, jetons.access_token);
        QCOMPARE(lu->expiration, jetons.expiration);
        const QDateTime avant = jetons.expiration.addSecs(-61);
        QVERIFY(lu->acces_valide(avant, 60));
        QVERIFY(!lu->acces_valide(jetons.expiration.addSecs(-59), 60));
    }

    void tokenFileWithoutRefreshTokenIsRefused()
    {
        const QString path = dir.filePath(QStringLiteral("vide.dat"));
        QString erreur;
        QVERIFY(!fichier_jeton::lire(path, &erreur));
        QVERIFY(erreur.contains(QStringLiteral("--connexion-oauth2")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("access_token=at\nexpiration=1\n");
        f.close();
        QVERIFY(!fichier_jeton::lire(path, &erreur));
    }
};

QTEST_GUILESS_MAIN(TestOAuthSettings)
#include "tst_oauth_settings.moc"
