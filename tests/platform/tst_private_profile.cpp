// The initialisation-file layer, checked against the Windows behaviour the
// programs were written for.
#include "platform/app_folder.h"
#include "platform/private_profile.h"
#include "tests/support/test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

class TestPrivateProfile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.filePath("pop3.ini"); }

    void put(const QByteArray &bytes) { QVERIFY(test_files::ecrire(ini(), bytes)); }
    QByteArray content() const { return test_files::lire(ini()); }

private Q_SLOTS:
    void init() { QFile::remove(ini()); }

    void missingFileSectionOrKeyGivesDefault()
    {
        QCOMPARE(GetPrivateProfileString("mail", "login", "dflt", 64, ini()), QString("dflt"));
        QVERIFY(!QFile::exists(ini())); // reading creates nothing
        put("[mail]\r\nlogin=bob\r\n");
        QCOMPARE(GetPrivateProfileString("TIMER", "login", "d", 64, ini()), QString("d"));
        QCOMPARE(GetPrivateProfileString("mail", "pass", "d", 64, ini()), QString("d"));
    }

    void namesIgnoreCaseValuesLoseBlanks()
    {
        put("; comment\r\n[Mail]\r\n  LOGIN =  bob smith \t\r\n[TIMER]\nrelance=120\n");
        QCOMPARE(GetPrivateProfileString("mail", "login", "", 64, ini()), QString("bob smith"));
        QCOMPARE(GetPrivateProfileString("timer", "RELANCE", "", 64, ini()), QString("120"));
    }

    void readIsCutToSizeMinusOne()
    {
        const QString longValue(200, u'x');
        put("[mail]\r\nrepondre=" + longValue.toLatin1() + "\r\n");
        QCOMPARE(GetPrivateProfileString("mail", "repondre", "", 64, ini()).size(), 63);
        QCOMPARE(GetPrivateProfileString("mail", "repondre", "", 128, ini()).size(), 127);
        QCOMPARE(GetPrivateProfileString("mail", "none", longValue, 64, ini()).size(), 63);
    }

    void writeIntoNewFileKeepsOrderAndIsPrivate()
    {
        QVERIFY(WritePrivateProfileString("mail", "serveur_smtp", " smtp.example ", ini()));
        QVERIFY(WritePrivateProfileString("mail", "serveur_pop", "pop", ini()));
        QVERIFY(WritePrivateProfileString("TIMER", "relance", "60", ini()));
        QVERIFY(WritePrivateProfileString("PATH", "repertoire_commande", "/a/b/", ini()));
        QCOMPARE(content(),
                 QByteArray("[mail]\r\nserveur_smtp= smtp.example \r\nserveur_pop=pop\r\n"
                            "[TIMER]\r\nrelance=60\r\n"
                            "[PATH]\r\nrepertoire_commande=/a/b/\r\n"));
        QCOMPARE(QFile::permissions(ini()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
    }

    void writeKeepsOtherLinesAndAddsMissingKeyAtEndOfSection()
    {
        put("; kept\r\n[mail]\r\nlogin=old\r\nother=1\r\n\r\n[TIMER]\r\nrelance=300\r\n");
        QFile::setPermissions(ini(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ReadOther);
        QVERIFY(WritePrivateProfileString("MAIL", "LOGIN", "new", ini()));
        QVERIFY(WritePrivateProfileString("mail", "pass", "p", ini()));
        QCOMPARE(content(), QByteArray("; kept\r\n[mail]\r\nLOGIN=new\r\nother=1\r\npass=p\r\n\r\n"
                                       "[TIMER]\r\nrelance=300\r\n"));
        // A file the operator made keeps the modes he gave it.
        QVERIFY(QFile::permissions(ini()) & QFileDevice::ReadOther);
    }

    void folderHasItsSeparatorOnce()
    {
        QCOMPARE(platform::avec_separateur("/"), QString("/"));
        QCOMPARE(platform::avec_separateur("/srv/tramelon"), QString("/srv/tramelon/"));
        QCOMPARE(platform::avec_separateur("C:\\"), QString("C:\\"));
        QVERIFY(platform::dossier_application().endsWith(u'/'));
    }
};

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_private_profile.moc"
