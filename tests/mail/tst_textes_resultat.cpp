// What a result mail shows of a batch file's output, and its subject.
#include "server/mail/textes_resultat.h"

#include <QTest>

class TestTextesResultat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void finDeSortie_data()
    {
        QTest::addColumn<QByteArray>("octets");
        QTest::addColumn<QString>("attendu");
        QByteArray longues;
        QStringList dernieres;
        for (int i = 0; i < 20; ++i) {
            const QByteArray l = QByteArray::number(i).rightJustified(150, '.');
            longues += l + '\n';
            if (i >= 7) // 13 lines of 150 and their 12 line breaks fit in 2000
                dernieres.append(QString::fromLatin1(l));
        }
        QTest::newRow("nothing") << QByteArray() << QString();
        QTest::newRow("CR LF lines, last one ended")
            << QByteArray("un\r\ndeux\r\n") << QString("un\r\ndeux");
        QTest::newRow("whole lines up to 2000 characters") << longues << dernieres.join("\r\n");
        QTest::newRow("one line longer than all: its end")
            << QByteArray(2500, 'x') + QByteArray(1999, 'y') << "…" + QString(1999, u'y');
        QTest::newRow("controls and bidi overrides, UTF-8")
            << QByteArray("été\tà\x1b[0m\xe2\x80\xae!\n") << QString("été à?[0m?!");
    }

    void finDeSortie()
    {
        QFETCH(QByteArray, octets);
        QFETCH(QString, attendu);
        const QString fin = fin_de_sortie(octets);
        QCOMPARE(fin, attendu);
        QVERIFY(fin.size() <= kCaracteresSortie);
    }

    void objetResultat_data()
    {
        QTest::addColumn<QString>("objet");
        QTest::addColumn<int>("numero");
        QTest::addColumn<QString>("attendu");
        QTest::newRow("as the reply's") << "Re:Actions" << 1 << "Re:Actions (resultat n  1 )";
        QTest::newRow("a subject that quotes a reply")
            << "Re: Re:Actions (reponse n  4 )" << 12
            << "Re: Re:Actions (reponse n  4 ) (resultat n  12 )";
        QTest::newRow("number 0 after 10000") << "Re:x" << 0 << "Re:x (resultat n  0 )";
    }

    void objetResultat()
    {
        QFETCH(QString, objet);
        QFETCH(int, numero);
        QFETCH(QString, attendu);
        QCOMPARE(objet_resultat(objet, qint16(numero)), attendu);
    }
};

QTEST_GUILESS_MAIN(TestTextesResultat)
#include "tst_textes_resultat.moc"
