// The pop3.ini that "tramelon-dossier serveur" writes: its commented lines set
// nothing, each one holds the true default of its key, and the settings
// window's save keeps them all.
#include "server/frame/config.h"
#include "server/frame/config_expediteurs.h"
#include "server/frame/oauth_settings.h"

#include <QFile>
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

    static QByteArray lire(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void ecrire(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    // Every value the server takes from pop3.ini, as one list to compare.
    QStringList reglages() const
    {
        ServerState state;
        state.rep_appli = folder();
        state.fichier_ini = ini();
        MailSettingsFields fields;
        config::charge_config_mail(state, fields);
        const int tick = config::charge_config_timer(state, fields);
        const ReglesExpediteurs regles = config::charge_config_expediteurs(ini());
        const oauth2::Reglages o = oauth2::lire_reglages(ini());
        return {state.nom_serveur_pop,
                state.nom_serveur_smtp,
                state.adresse_reponse,
                state.login_pop,
                state.pass_pop,
                QString::number(state.auth_smtp),
                QString::number(fields.connexion_oauth2),
                QString::number(state.taille_max_mail_mo),
                QString::number(state.duree_cycle),
                QString::number(tick),
                state.rep_actions,
                regles.autorises,
                regles.authentification,
                regles.serveur_authentification,
                QString::number(o.actif),
                QString::number(int(o.fournisseur)),
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
        const QByteArray ecrit = lire(ini());
        const QStringList lu = reglages();
        QCOMPARE(lu.at(10), folder() + QStringLiteral("actions/"));

        // The same file with the [PATH] line alone.
        const QByteArray seul =
            "[PATH]\r\nrepertoire_commande=" + folder().toUtf8() + "actions/\r\n";
        ecrire(ini(), seul);
        QCOMPARE(reglages(), lu);

        // Every commented key written as a setting: the values the server
        // takes stay the same, so each comment names the true default.
        QString texte = QString::fromUtf8(ecrit);
        texte.replace(QRegularExpression(QStringLiteral("(?m)^;([a-z_0-9]+=)")),
                      QStringLiteral("\\1"));
        // Eight keys of [mail], two of [TIMER], one of [PATH], three of
        // [expediteurs], seven of [oauth2].
        QCOMPARE(texte.count(QRegularExpression(QStringLiteral("(?m)^[a-z_0-9]+="))), 21);
        ecrire(ini(), texte.toUtf8());
        QCOMPARE(reglages(), lu);
        ecrire(ini(), ecrit);
    }

    void windowSaveKeepsEveryComment()
    {
        const QByteArray avant = lire(ini());
        ServerState state;
        state.rep_appli = folder();
        state.fichier_ini = ini();
        MailSettingsFields fields;
        config::charge_config_mail(state, fields);
        fields.serveur_pop = QStringLiteral("pop3s://pop.example.org");
        fields.repondre_a = QStringLiteral("automate@example.org");
        fields.duree = QStringLiteral("120");
        QVERIFY(config::sauve_config_mail(state, fields));
        ReglesExpediteurs regles;
        regles.autorises = QStringLiteral("chef@example.org");
        QVERIFY(config::sauve_config_expediteurs(regles, ini()));

        const QByteArray apres = lire(ini());
        for (const QByteArray &ligne : avant.split('\n'))
            if (ligne.startsWith(';'))
                QVERIFY2(apres.contains(ligne + '\n'), ligne.constData());
        const QStringList lu = reglages();
        QCOMPARE(lu.at(0), QStringLiteral("pop3s://pop.example.org"));
        QCOMPARE(lu.at(2), QStringLiteral("automate@example.org"));
        QCOMPARE(lu.at(8), QStringLiteral("120"));
        QCOMPARE(lu.at(11), QStringLiteral("chef@example.org"));
    }
};

QTEST_GUILESS_MAIN(TestIniCommente)
#include "tst_ini_commente.moc"
