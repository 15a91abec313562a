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
        QTest::addColumn<int>("cycles");
        QTest::addColumn<QList<int>>("attempts");
        QTest::newRow("password, 5 min cycle: 2, 4, 8, then one hour (12 cycles)")
            << qint64(300) << int(Cause::MotDePasse) << 60 << QList<int>{1, 3, 7, 15, 27, 39, 51};
        QTest::newRow("password, 1 min cycle: up to 60 cycles")
            << qint64(60) << int(Cause::MotDePasse) << 200
            << QList<int>{1, 3, 7, 15, 31, 63, 123, 183};
        QTest::newRow("connection, 5 min cycle: 2, then a quarter of an hour (3 cycles)")
            << qint64(300) << int(Cause::Connexion) << 15 << QList<int>{1, 3, 6, 9, 12, 15};
        QTest::newRow("one-hour cycle: never longer than a cycle")
            << qint64(3600) << int(Cause::MotDePasse) << 4 << QList<int>{1, 2, 3, 4};
    }

    void attemptsAfterFailures()
    {
        QFETCH(qint64, cycleSeconds);
        QFETCH(int, cause);
        QFETCH(int, cycles);
        QFETCH(QList<int>, attempts);
        EspacementReleve espacement;
        espacement.fixer_duree_cycle(cycleSeconds);
        const QDateTime t0(QDate(2026, 12, 7), QTime(13, 40));
        QList<int> tried;
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            if (!espacement.a_essayer())
                continue;
            tried.append(cycle);
            const QDateTime now = t0.addSecs((cycle - 1) * cycleSeconds);
            const auto change = espacement.resultat(Cause(cause), now);
            QCOMPARE(change, tried.size() == 1 ? EspacementReleve::Changement::Commence
                                               : EspacementReleve::Changement::Aucun);
            // The next attempt announced is the one that comes.
            QCOMPARE(espacement.prochain_essai(),
                     now.addSecs(espacement.intervalle() * cycleSeconds));
        }
        QCOMPARE(tried, attempts);
        QCOMPARE(espacement.depuis(), t0);
    }

    // A login that works, or new settings, end the spacing at once; a change
    // of cause starts the doubling again.
    void spacingEnds()
    {
        const QDateTime t0(QDate(2026, 12, 7), QTime(13, 40));
        EspacementReleve espacement;
        espacement.fixer_duree_cycle(300);
        QCOMPARE(espacement.resultat(Cause::MotDePasse, t0),
                 EspacementReleve::Changement::Commence);
        QCOMPARE(espacement.resultat(Cause::MotDePasse, t0), EspacementReleve::Changement::Aucun);
        QCOMPARE(espacement.intervalle(), qint64(4));
        QCOMPARE(espacement.resultat(Cause::Connexion, t0), EspacementReleve::Changement::Aucun);
        QCOMPARE(espacement.intervalle(), qint64(2));
        QVERIFY(!espacement.a_essayer());
        QCOMPARE(espacement.resultat(Cause::Aucune, t0), EspacementReleve::Changement::Fini);
        QVERIFY(espacement.a_essayer());
        QCOMPARE(espacement.resultat(Cause::Aucune, t0), EspacementReleve::Changement::Aucun);

        QCOMPARE(espacement.resultat(Cause::MotDePasse, t0),
                 EspacementReleve::Changement::Commence);
        QVERIFY(espacement.reprendre());
        QVERIFY(espacement.a_essayer());
        QVERIFY(!espacement.suspendue());
        QVERIFY(!espacement.reprendre());
    }

    void causeOfAnError_data()
    {
        QTest::addColumn<int>("numero");
        QTest::addColumn<int>("cause"); // -1: the outcome says nothing
        QTest::newRow("logged in") << 0 << int(Cause::Aucune);
        QTest::newRow("authentication refused") << 9 << int(Cause::MotDePasse);
        QTest::newRow("connection refused") << 3 << int(Cause::Connexion);
        QTest::newRow("time-out") << 4 << int(Cause::Connexion);
        QTest::newRow("certificate refused") << 7 << int(Cause::Connexion);
        QTest::newRow("another call in flight") << 12 << -1;
        QTest::newRow("stopped by the shut-down") << 15 << -1;
    }

    void causeOfAnError()
    {
        QFETCH(int, numero);
        QFETCH(int, cause);
        const auto found = EspacementReleve::cause_erreur(numero);
        QCOMPARE(found ? int(*found) : -1, cause);
    }

    void stateText_data()
    {
        const QDateTime now(QDate(2026, 12, 7), QTime(14, 2));
        QTest::addColumn<EtatReleve>("etat");
        QTest::addColumn<QString>("texte");
        EtatReleve polling{now, now, 97, 0, Cause::Aucune, {}, {}, {}};
        QTest::newRow("polling") << polling
                                 << "dernière relève 14:02, 97 clefs, 0 réponse en attente";
        EtatReleve first{now, {}, 1, 2, Cause::Aucune, {}, {}, {}};
        QTest::newRow("no poll yet")
            << first << "aucune relève encore, 1 clef, 2 réponses en attente";
        EtatReleve refused{now,
                           now.addDays(-1),
                           97,
                           0,
                           Cause::MotDePasse,
                           QDateTime(now.date(), QTime(13, 40)),
                           QDateTime(now.date(), QTime(14, 12)),
                           {}};
        QTest::newRow("password refused")
            << refused << "relève suspendue : mot de passe refusé à 13:40, nouvel essai à 14:12";
        EtatReleve unreachable = refused;
        unreachable.cause = Cause::Connexion;
        unreachable.prochain_essai = QDateTime(now.date().addDays(1), QTime(0, 5));
        QTest::newRow("unreachable, next try tomorrow")
            << unreachable
            << "relève suspendue : serveur POP3 injoignable à 13:40, nouvel essai à 08/12 00:05";
        EtatReleve stopped = polling;
        stopped.arret = "aucune adresse de réponse dans pop3.ini";
        QTest::newRow("stopped") << stopped
                                 << "relève arrêtée : aucune adresse de réponse dans pop3.ini, "
                                    "97 clefs, 0 réponse en attente";
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
