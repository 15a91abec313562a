// Where provisioning takes the preparation tool from: the server folder's own
// copy first, else the one installed beside the running program.
#include "server/keys/provisioning.h"
#include "tests/support/test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using test_files::ecrire;
using test_files::lire;

class TestProvisioningSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void executableSource_data()
    {
        QTest::addColumn<bool>("dansDossier");
        QTest::addColumn<bool>("aCote");
        QTest::addColumn<provisioning::Issue>("issue");
        QTest::addColumn<QByteArray>("copie");

        QTest::newRow("own copy wins")
            << true << true << provisioning::Issue::Fait << QByteArray("dossier");
        QTest::newRow("installed one")
            << false << true << provisioning::Issue::Fait << QByteArray("installe");
        QTest::newRow("none anywhere")
            << false << false << provisioning::Issue::Echec << QByteArray("<missing>");
    }

    void executableSource()
    {
        QFETCH(bool, dansDossier);
        QFETCH(bool, aCote);
        QFETCH(provisioning::Issue, issue);
        QFETCH(QByteArray, copie);

        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString serveur = tmp.path() + "/serveur/";
        const QString client = tmp.path() + "/client/";
        QVERIFY(QDir().mkpath(serveur + "actions") && QDir().mkpath(client));
        QVERIFY(ecrire(serveur + "clefs.dat", "ABCDEFGHIJKL\r\n"));
        QVERIFY(ecrire(serveur + "actions/go.bat", "true\n"));
        // A name of this test's own, so that the real kestrine of the build,
        // which lies beside this program too, plays no part.
        const QString nom =
            QStringLiteral("kestrine-source-%1").arg(QCoreApplication::applicationPid());
        const QString installe = QCoreApplication::applicationDirPath() + u'/' + nom;
        if (dansDossier)
            QVERIFY(ecrire(serveur + nom, "dossier"));
        if (aCote)
            QVERIFY(ecrire(installe, "installe"));

        provisioning::Demande demande;
        demande.rep_appli = serveur;
        demande.rep_actions = serveur + "actions/";
        demande.cible = client;
        demande.executable = nom;
        const provisioning::Issue obtenue = provisioning::preparer(demande);
        QFile::remove(installe);

        QCOMPARE(obtenue, issue);
        QCOMPARE(lire(client + nom), copie);
    }
};

QTEST_GUILESS_MAIN(TestProvisioningSource)
#include "tst_provisioning_source.moc"
