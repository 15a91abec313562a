// The tool's key table and the replacement of its key file.
#include "prep/key_table.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using kestrine::TableClefs;

class TestKeyTable : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString put(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write(bytes);
        return path;
    }
    static QByteArray content(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static QByteArray lines(int first, int last)
    {
        QByteArray bytes;
        for (int i = first; i <= last; ++i)
            bytes += QByteArray("KEY") + QByteArray::number(i).rightJustified(9, '0') + "\r\n";
        return bytes;
    }

private Q_SLOTS:
    void positionsFollowTheirSlots_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("strike");
        QTest::addColumn<int>("struckSlot");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("plain") << QByteArray("A\r\nB\r\nC\r\n") << QStringList{"A", "B", "C"} << 1
                               << 2 << QByteArray("A\r\nC\r\n");
        // The blank line is not listed, yet position 1 still means the key "C".
        QTest::newRow("one blank")
            << QByteArray("A\r\n \r\nC\r\nD\r\n") << QStringList{"A", "C", "D"} << 1 << 3
            << QByteArray("A\r\n \r\nD\r\n");
        QTest::newRow("empty line listed")
            << QByteArray("A\r\n\r\nC\r\n") << QStringList{"A", "", "C"} << 2 << 3
            << QByteArray("A\r\n");
        QTest::newRow("no position") << QByteArray("A\r\nB\r\n") << QStringList{"A", "B"} << -1
                                     << -1 << QByteArray("A\r\nB\r\n");
        QTest::newRow("past the end") << QByteArray("A\r\nB\r\n") << QStringList{"A", "B"} << 2
                                      << -1 << QByteArray("A\r\nB\r\n");
    }

    void positionsFollowTheirSlots()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, entries);
        QFETCH(int, strike);
        QFETCH(int, struckSlot);
        QFETCH(QByteArray, written);

        TableClefs table;
        QCOMPARE(table.charger(put("clefs.dat", file)).value_or(-1), int(file.count('\n')));
        QCOMPARE(table.entrees(), entries);
        QCOMPARE(table.slot_de_position(strike), struckSlot);
        table.effacer_position(strike);
        const QStringList after = table.entrees();
        QCOMPARE(after.size(), entries.size()); // a struck key stays as an empty entry
        if (struckSlot > 0)
            QCOMPARE(after.at(strike), QString());
        QVERIFY(table.ecrire(dir.filePath("out.dat")));
        QCOMPARE(content(dir.filePath("out.dat")), written);
    }

    void longFilesAreCut()
    {
        TableClefs table;
        QCOMPARE(table.charger(put("long.dat", lines(1, 250))).value_or(-1), 200);
        QCOMPARE(table.nb_clefs(), 201);
        QCOMPARE(table.entrees().size(), 200);
        QCOMPARE(table.entrees().last(), QString("KEY000000200"));
        QVERIFY(table.ecrire(dir.filePath("out.dat")));
        QCOMPARE(content(dir.filePath("out.dat")), lines(1, 100));
    }
};

QTEST_MAIN(TestKeyTable)
#include "tst_key_table.moc"
