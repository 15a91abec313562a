// Where provisioning takes the preparation tool from: the one installed beside
// the running program first, else the server folder's own copy; and what it
// refuses to copy from a server folder someone else may have filled.
#include "server/keys/provisioning.h"
#include "tests/support/test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
        QTest::addColumn<QString>("piege"); // what replaces a file of the server folder
        QTest::addColumn<QByteArray>("clefs");

        const QByteArray clefs("ABCDEFGHIJKL\r\n");
        const QByteArray manquant("<missing>");
        QTest::newRow("installed one wins") << true << true << provisioning::Issue::Fait
                                            << QByteArray("installe") << QString() << clefs;
        QTest::newRow("own copy without an installed one")
            << true << false << provisioning::Issue::Fait << QByteArray("dossier") << QString()
            << clefs;
        QTest::newRow("installed one only") << false << true << provisioning::Issue::Fait
                                            << QByteArray("installe") << QString() << clefs;
        QTest::newRow("none anywhere")
            << false << false << provisioning::Issue::Echec << manquant << QString() << clefs;
        QTest::newRow("key file a link to another file")
            << false << true << provisioning::Issue::Echec << manquant << "clefs-lien" << manquant;
        QTest::newRow("key file a pipe")
            << false << true << provisioning::Issue::Echec << manquant << "clefs-fifo" << manquant;
        QTest::newRow("own tool a link to another file")
            << false << false << provisioning::Issue::Echec << manquant << "outil-lien" << clefs;
    }

    void executableSource()
    {
        QFETCH(bool, dansDossier);
        QFETCH(bool, aCote);
        QFETCH(provisioning::Issue, issue);
        QFETCH(QByteArray, copie);
        QFETCH(QString, piege);
        QFETCH(QByteArray, clefs);

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
        QVERIFY(ecrire(tmp.path() + "/secret", "SECRET"));
        if (piege == "clefs-lien" || piege == "clefs-fifo")
            QVERIFY(QFile::remove(serveur + "clefs.dat"));
        if (piege == "clefs-lien")
            QVERIFY(QFile::link(tmp.path() + "/secret", serveur + "clefs.dat"));
        if (piege == "clefs-fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(serveur + "clefs.dat").constData(), 0600), 0);
        if (piege == "outil-lien")
            QVERIFY(QFile::link(tmp.path() + "/secret", serveur + nom));

        provisioning::Demande demande;
        demande.rep_appli = serveur;
        demande.rep_actions = serveur + "actions/";
        demande.cible = client;
        demande.executable = nom;
        const provisioning::Issue obtenue = provisioning::preparer(demande);
        QFile::remove(installe);

        QCOMPARE(obtenue, issue);
        QCOMPARE(lire(client + nom), copie);
        QCOMPARE(lire(client + "clefs.dat"), clefs);
    }
};

QTEST_GUILESS_MAIN(TestProvisioningSource)
#include "tst_provisioning_source.moc"
