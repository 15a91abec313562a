// When the mailbox is opened again after failed logins, and how the state reads.
#include "server/mail/espacement_releve.h"
#include "server/mail/etat_releve.h"

#include <QTest>

using Cause = EspacementReleve::Cause;

Q_DECLARE_METATYPE(EtatReleve)

class TestEspacementReleve : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every login fails with the same cause: the cycles in which a login is tried.
    void attemptsAfterFailures_data()
    {
        QTest::addColumn<qint64>("cycleSeconds");
        QTest::addColumn<int>("cause");
        QTest::addColumn<QList<int>>("attempts");
        QTest::newRow("password, 5 min cycle: 2, 4, 8, then one hour (12 cycles)")
            << qint64(300) << int(Cause::MotDePasse) << QList<int>{1, 3, 7, 15, 27, 39, 51};
        QTest::newRow("password, 1 min cycle: up to 60 cycles")
            << qint64(60) << int(Cause::MotDePasse) << QList<int>{1, 3, 7, 15, 31, 63, 123, 183};
        QTest::newRow("connection, 5 min cycle: 2, then a quarter of an hour (3 cycles)")
            << qint64(300) << int(Cause::Connexion) << QList<int>{1, 3, 6, 9, 12, 15};
    }

    void attemptsAfterFailures()
    {
        QFETCH(qint64, cycleSeconds);
        QFETCH(int, cause);
        QFETCH(QList<int>, attempts);
        EspacementReleve espacement;
        espacement.fixer_duree_cycle(cycleSeconds);
        const QDateTime t0(QDate(2026, 12, 7), QTime(13, 40));
        QList<int> tried;
        for (int cycle = 1; cycle <= attempts.last(); ++cycle) {
            if (!espacement.a_essayer())
                continue;
            tried.append(cycle);
            QCOMPARE(espacement.resultat(Cause(cause), t0.addSecs((cycle - 1) * cycleSeconds)),
                     tried.size() == 1 ? EspacementReleve::Changement::Commence
                                       : EspacementReleve::Changement::Aucun);
        }
        QCOMPARE(tried, attempts);
        QCOMPARE(espacement.depuis(), t0);
    }

    // A login that works, or new settings, end the spacing at once.
    void spacingEnds()
    {
        const QDateTime t0(QDate(2026, 12, 7), QTime(13, 40));
        EspacementReleve espacement;
        QCOMPARE(espacement.resultat(Cause::Connexion, t0), EspacementReleve::Changement::Commence);
        QVERIFY(!espacement.a_essayer());
        QCOMPARE(espacement.resultat(Cause::Aucune, t0), EspacementReleve::Changement::Fini);
        QVERIFY(espacement.a_essayer());
        QCOMPARE(espacement.resultat(Cause::MotDePasse, t0),
                 EspacementReleve::Changement::Commence);
        QVERIFY(espacement.reprendre());
        QVERIFY(espacement.a_essayer() && !espacement.suspendue() && !espacement.reprendre());
    }

    void stateText_data()
    {
        const QDate today(2026, 12, 7);
        const QDateTime now(today, QTime(14, 2)), t1340(today, QTime(13, 40));
        QTest::addColumn<EtatReleve>("etat");
        QTest::addColumn<QString>("texte");
        QTest::newRow("polling") << EtatReleve{now, now, 97, 0, Cause::Aucune, {}, {}, {}}
                                 << "dernière relève 14:02, 97 clefs, 0 réponse en attente";
        QTest::newRow("password refused")
            << EtatReleve{now, {}, 97, 0, Cause::MotDePasse, t1340, now.addSecs(600), {}}
            << "relève suspendue : mot de passe refusé à 13:40, nouvel essai à 14:12";
        QTest::newRow("unreachable, next try tomorrow")
            << EtatReleve{now, {}, 97, 0, Cause::Connexion, t1340, now.addSecs(36000), {}}
            << "relève suspendue : serveur POP3 injoignable à 13:40, nouvel essai à 08/12 00:02";
    }

    void stateText()
    {
        QFETCH(EtatReleve, etat);
        QFETCH(QString, texte);
        QCOMPARE(etat.texte(), texte);
    }
};

QTEST_GUILESS_MAIN(TestEspacementReleve)
#include "tst_espacement_releve.moc"
