// The pop3.ini that "tramelon-dossier serveur" writes: its commented lines set
// nothing, each one holds the true default of its key, and the settings
// window's save keeps them all.
#include "server/frame/config.h"
#include "server/frame/config_expediteurs.h"
#include "server/frame/oauth_settings.h"
#include "tests/support/test_files.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestIniCommente : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString folder() const { return dir.path() + QStringLiteral("/serveur/"); }
    QString ini() const { return folder() + QStringLiteral("pop3.ini"); }

    // Every value the server takes from pop3.ini, as one list to compare.
    QStringList reglages() const
    {
        ServerState s;
        s.rep_appli = folder();
        s.fichier_ini = ini();
        MailSettingsFields f;
        config::charge_config_mail(s, f);
        const int tick = config::charge_config_timer(s, f);
        const ReglesExpediteurs e = config::charge_config_expediteurs(ini());
        const oauth2::Reglages o = oauth2::lire_reglages(ini());
        const auto n = [](auto v) { return QString::number(v); };
        return {s.nom_serveur_pop,
                s.nom_serveur_smtp,
                s.adresse_reponse,
                s.login_pop,
                s.pass_pop,
                n(s.auth_smtp),
                n(f.connexion_oauth2),
                n(s.taille_max_mail_mo),
                n(s.duree_cycle),
                n(tick),
                s.rep_actions,
                e.autorises,
                e.authentification,
                e.serveur_authentification,
                n(o.actif),
                n(int(o.fournisseur)),
                o.client_id,
                o.client_secret,
                o.url_appareil,
                o.url_jeton,
                o.url_autorisation,
                o.portee};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QProcess script;
        script.start(QStringLiteral(PACKAGING_DIR "/tramelon-dossier"),
                     {QStringLiteral("serveur"), folder()});
        QVERIFY(script.waitForFinished(30000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
    }

    void commentsSetNothingAndHoldTheDefaults()
    {
        const QByteArray ecrit = test_files::lire(ini());
        const QStringList lu = reglages();
        QCOMPARE(lu.at(10), folder() + QStringLiteral("actions/"));

        // The same as a file with the [PATH] line alone.
        QVERIFY(test_files::ecrire(ini(), "[PATH]\r\nrepertoire_commande=" + folder().toUtf8() +
                                              "actions/\r\n"));
        QCOMPARE(reglages(), lu);

        // Every commented key made a setting: nothing the server takes
        // changes, so each comment names the true default.
        QString texte = QString::fromUtf8(ecrit);
        texte.replace(QRegularExpression(QStringLiteral("(?m)^;([a-z_0-9]+=)")),
                      QStringLiteral("\\1"));
        // [mail] 8, [TIMER] 2, [PATH] 1, [expediteurs] 3, [oauth2] 7.
        QCOMPARE(texte.count(QRegularExpression(QStringLiteral("(?m)^[a-z_0-9]+="))), 21);
        QVERIFY(test_files::ecrire(ini(), texte.toUtf8()));
        QCOMPARE(reglages(), lu);
        QVERIFY(test_files::ecrire(ini(), ecrit));
    }

    void windowSaveKeepsEveryComment()
    {
        const QByteArray avant = test_files::lire(ini());
        ServerState state;
        state.rep_appli = folder();
        state.fichier_ini = ini();
        MailSettingsFields fields;
        config::charge_config_mail(state, fields);
        fields.serveur_pop = QStringLiteral("pop3s://pop.example.org");
        fields.duree = QStringLiteral("120");
        QVERIFY(config::sauve_config_mail(state, fields));
        ReglesExpediteurs regles;
        regles.autorises = QStringLiteral("chef@example.org");
        QVERIFY(config::sauve_config_expediteurs(regles, ini()));

        const QByteArray apres = test_files::lire(ini());
        for (const QByteArray &ligne : avant.split('\n'))
            if (ligne.startsWith(';'))
                QVERIFY2(apres.contains(ligne + '\n'), ligne.constData());
        const QStringList lu = reglages();
        QCOMPARE(lu.at(0), QStringLiteral("pop3s://pop.example.org"));
        QCOMPARE(lu.at(8), QStringLiteral("120"));
        QCOMPARE(lu.at(11), QStringLiteral("chef@example.org"));
    }
};

QTEST_GUILESS_MAIN(TestIniCommente)
#include "tst_ini_commente.moc"
