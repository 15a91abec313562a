// Reading and saving pop3.ini: defaults, limits, rounding, and what a save writes.
#include "server/frame/config.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    ServerState state;

    void putIni(const QByteArray &bytes)
    {
        QFile f(state.fichier_ini);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray ini() const
    {
        QFile f(state.fichier_ini);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private Q_SLOTS:
    void init()
    {
        state = ServerState();
        state.rep_appli = dir.path() + u'/';
        state.fichier_ini = state.rep_appli + "pop3.ini";
        QFile::remove(state.fichier_ini);
    }

    void withoutIniTheDefaultsHoldAndNothingIsWritten()
    {
        MailSettingsFields f;
        QVERIFY(!config::charge_config_mail(state, f)); // no polling with the default address
        const int tick = config::charge_config_timer(state, f);
        QCOMPARE(tick, 1000);
        QCOMPARE(state.duree_cycle, qint16(300));
        QCOMPARE(f.duree, QString("300"));
        QCOMPARE(f.login, QString("marigolds"));
        QCOMPARE(f.Password, QString("marigolds"));
        QCOMPARE(state.nom_serveur_pop, QString("192.168.1.10"));
        QVERIFY(!f.auth_smtp);
        QCOMPARE(state.rep_actions, state.rep_appli);
        QCOMPARE(state.rep_archives, state.rep_appli + "arch_messages/");
        QCOMPARE(state.fichier_clefs, state.rep_appli + "clefs.dat");
        QVERIFY(!QFile::exists(state.fichier_ini));
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("expected");
        QTest::newRow("tick below") << "500" << 1000 << 60000 << 1000;
        QTest::newRow("tick above") << "90000" << 1000 << 60000 << 60000;
        QTest::newRow("no digits") << "abc" << 1000 << 60000 << 1000;
        QTest::newRow("cycle below") << "10" << 60 << 3600 << 60;
        QTest::newRow("cycle huge") << "99999999999999999999" << 60 << 3600 << 3600;
        QTest::newRow("half down to even") << "120.5" << 60 << 3600 << 120;
        QTest::newRow("half up to even") << "121.5" << 60 << 3600 << 122;
        QTest::newRow("leading blanks, trailing text") << "  250sec" << 60 << 3600 << 250;
        QTest::newRow("negative") << "-400" << 60 << 3600 << 60;
    }

    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, expected);
        QCOMPARE(config::lire_nombre(text, {min, max}), expected);
    }

    void valuesFromTheFile()
    {
        const QByteArray longServer(70, 's');
        const QByteArray longPath = "/" + QByteArray(140, 'p');
        putIni("[mail]\r\nserveur_pop=" + longServer +
               "\r\nrepondre=ops@example.org\r\n"
               "authentification=ON\r\n[TIMER]\r\ncompteur1=500\r\nrelance=121.5\r\n"
               "[PATH]\r\nrepertoire_commande=" +
               longPath + "\r\n");
        MailSettingsFields f;
        QVERIFY(config::charge_config_mail(state, f));
        QCOMPARE(state.nom_serveur_pop.size(), 63);
        QCOMPARE(state.adresse_reponse, QString("ops@example.org"));
        QVERIFY(!f.auth_smtp); // only "on" exactly ticks the box
        QCOMPARE(config::charge_config_timer(state, f), 1000);
        QCOMPARE(state.duree_cycle, qint16(122));
        QCOMPARE(state.rep_actions.size(), 127);
        QCOMPARE(state.rep_actions, QString::fromLatin1(longPath.left(127))); // no separator added
    }

    void correctionsAreRecorded_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("as written")
            << QByteArray("[mail]\r\nauthentification=on\r\nconnexion=oauth2\r\n"
                          "taille_max_mo=20\r\n[TIMER]\r\nrelance=120\r\ncompteur1=1000\r\n")
            << QStringList();
        QTest::newRow("absent keys are defaults, not corrections") << QByteArray() << QStringList();
        QTest::newRow("cycle of zero") << QByteArray("[TIMER]\r\nrelance=0\r\n")
                                       << QStringList{"relance=0 lu comme 60 (de 60 à 3600)"};
        QTest::newRow("rounded, and text after the number")
            << QByteArray("[TIMER]\r\nrelance=121.5\r\ncompteur1=2000ms\r\n")
            << QStringList{"compteur1=2000ms lu comme 2000 (de 1000 à 60000)",
                           "relance=121.5 lu comme 122 (de 60 à 3600)"};
        QTest::newRow("words of neither choice")
            << QByteArray("[mail]\r\nauthentification=ON\r\nconnexion=OAuth2\r\n"
                          "taille_max_mo=5000\r\n")
            << QStringList{"authentification=ON lu comme off (off ou on)",
                           "connexion=OAuth2 lu comme mot_de_passe (mot_de_passe ou oauth2)",
                           "taille_max_mo=5000 lu comme 2000 (de 1 à 2000)"};
    }

    // Said once at start-up and by --verifier: a value the server does not take as written.
    void correctionsAreRecorded()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        if (!file.isEmpty())
            putIni(file);
        state.reglages_corriges = QStringList{"from an earlier reading"};
        MailSettingsFields f;
        config::charge_config_mail(state, f);
        config::charge_config_timer(state, f);
        QCOMPARE(state.reglages_corriges, expected);
    }

    void saveIntoNewFile()
    {
        MailSettingsFields f;
        f.serveur_mail = " smtp.example.org ";
        f.serveur_pop = "pop.example.org";
        f.repondre_a = " tramelon@example.org";
        f.auth_smtp = true;
        f.login = "  bob ";
        f.Password = " secret ";
        f.duree = " 45 ";
        config::sauve_config_mail(state, f);

        QCOMPARE(ini(), QByteArray("[mail]\r\nserveur_smtp= smtp.example.org \r\n"
                                   "serveur_pop=pop.example.org\r\n"
                                   "repondre= tramelon@example.org\r\n"
                                   "authentification=on\r\nlogin=bob\r\npass=secret\r\n"
                                   "[TIMER]\r\nrelance=60\r\n"));
        QCOMPARE(f.duree, QString("60"));
        QCOMPARE(state.duree_cycle, qint16(60));
        QCOMPARE(state.nom_serveur_smtp, QString("smtp.example.org")); // used trimmed
        QCOMPARE(state.adresse_reponse, QString("tramelon@example.org"));
        QCOMPARE(state.login_pop, QString("bob"));
        QCOMPARE(state.pass_pop, QString("secret"));
        QVERIFY(state.auth_smtp);

        // The next start reads back what was saved.
        ServerState next;
        next.rep_appli = state.rep_appli;
        next.fichier_ini = state.fichier_ini;
        MailSettingsFields g;
        QVERIFY(config::charge_config_mail(next, g));
        config::charge_config_timer(next, g);
        QCOMPARE(next.duree_cycle, qint16(60));
        QVERIFY(g.auth_smtp);
        QCOMPARE(g.serveur_mail, QString("smtp.example.org")); // the reader trims the blanks away
    }

    void shorterCycleEndsTheCurrentOne_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("duree");
        QTest::addColumn<int>("expectedStep");
        QTest::newRow("beyond") << 200 << "100" << 99;
        QTest::newRow("at") << 100 << "100" << 99;
        QTest::newRow("below") << 50 << "100" << 50;
    }

    void shorterCycleEndsTheCurrentOne()
    {
        QFETCH(int, step);
        QFETCH(QString, duree);
        QFETCH(int, expectedStep);
        state.etape_sequenceur = qint16(step);
        MailSettingsFields f;
        f.duree = duree;
        config::sauve_config_mail(state, f);
        QCOMPARE(int(state.etape_sequenceur), expectedStep);
    }

    void textBeforeNul()
    {
        QCOMPARE(config::texte_avant_nul(QString("abc") + QChar(0) + "def"), QString("abc"));
        QCOMPARE(config::texte_avant_nul("abc"), QString("abc"));
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
