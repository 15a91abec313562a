// The allowed senders' settings as pop3.ini gives them back (the dialog's
// test shows what a save writes).
#include "server/frame/config_expediteurs.h"
#include "tests/support/test_files.h"

#include <QTemporaryDir>
#include <QTest>

class TestConfigExpediteurs : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.path() + QStringLiteral("/pop3.ini"); }

private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("fichier");
        QTest::addColumn<QString>("autorises");
        QTest::addColumn<bool>("dmarc");
        QTest::addColumn<bool>("active");
        const QString longue = QStringList(20, QStringLiteral("someone@example.org")).join(u',');
        QTest::newRow("no section: off") << QByteArray("[mail]\r\n") << "" << false << false;
        QTest::newRow("a list longer than other settings, read whole")
            << "[expediteurs]\nautorises= " + longue.toLatin1() + " \n"
            << longue << false << true;
        QTest::newRow("a mistyped value fails closed")
            << QByteArray("[expediteurs]\nauthentification=dmark\n") << "" << true << true;
        QTest::newRow("a server alone is no policy")
            << QByteArray("[expediteurs]\nserveur_authentification=mx.google.com\n") << "" << false
            << false;
    }
    void read()
    {
        QFETCH(QByteArray, fichier);
        QFETCH(QString, autorises);
        QFETCH(bool, dmarc);
        QFETCH(bool, active);
        QVERIFY(test_files::ecrire(ini(), fichier));
        const ReglesExpediteurs r = config::charge_config_expediteurs(ini());
        QCOMPARE(r.autorises, autorises);
        QCOMPARE(r.dmarc_exige(), dmarc);
        QCOMPARE(r.active(), active);
    }
};

QTEST_GUILESS_MAIN(TestConfigExpediteurs)
#include "tst_config_expediteurs.moc"
