// The drive, directory and file list boxes of the choosers.
#include "common/command_list_file.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/file_list.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using platform::DirList;
using platform::DriveList;
using platform::FileList;

class TestLists : public QObject
{
    Q_OBJECT

private:
    static void touch(const QString &path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

private Q_SLOTS:
    void fileListFiltersIgnoringCase_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("bat") << "*.bat" << QStringList{"a.BAT", "b.bat", "Zed.bat"};
        QTest::newRow("capital pattern") << "*.BAT" << QStringList{"a.BAT", "b.bat", "Zed.bat"};
        QTest::newRow("two patterns")
            << "*.bat;*.txt" << QStringList{"a.BAT", "b.bat", "notes.txt", "Zed.bat"};
        QTest::newRow("every file") << "*.*" << QStringList{"a.BAT",     "b.bat",       "LISEZMOI",
                                                            "notes.txt", "run.bat.old", "Zed.bat"};
    }

    void fileListFiltersIgnoringCase()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        for (const char *name :
             {"Zed.bat", "b.bat", "a.BAT", "notes.txt", "run.bat.old", "LISEZMOI"})
            touch(tmp.filePath(name));
        QVERIFY(QDir(tmp.path()).mkdir("dossier.bat")); // a directory is never listed

        FileList list;
        list.setPattern(pattern);
        list.setPath(tmp.path());
        QCOMPARE(list.fileNames(), expected);
        QCOMPARE(list.count(), expected.size());
        QCOMPARE(list.fileName(0), expected.first());
        QCOMPARE(list.fileName(expected.size()), QString());
        list.setPath(tmp.filePath("absent"));
        QCOMPARE(list.count(), 0);
    }

    void frenchOrderInListAndCommandFile()
    {
        // A French file manager's order: accents with their letter, case ignored,
        // numbers by value; the file list and filebat.dat must agree on it.
        const QStringList expected{"alpha.bat", "b9.bat",  "b10.bat",  "Beta.BAT", "Ébène.bat",
                                   "Eta.bat",   "été.bat", "zeta.bat", "Zoé.bat"};
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        for (qsizetype i = expected.size() - 1; i >= 0; --i)
            touch(tmp.filePath(expected[i]));

        FileList list;
        list.setPattern("*.bat");
        list.setPath(tmp.path());
        QCOMPARE(list.fileNames(), expected);
        QCOMPARE(fichier_commandes::lister_batch(tmp.path()), std::optional(expected));
    }

    void dirListShowsSubfoldersAndReportsChanges()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QDir root(tmp.path());
        QVERIFY(root.mkdir("beta"));
        QVERIFY(root.mkdir("Alpha"));
        touch(tmp.filePath("fichier.bat")); // files are not directories

        DirList list;
        QSignalSpy spy(&list, &DirList::changed);
        QVERIFY(list.setPath(tmp.path()));
        QCOMPARE(spy.size(), 1); // the first setting is a change
        QCOMPARE(spy.at(0).at(0).toString(), QDir::cleanPath(tmp.path()));
        QCOMPARE(list.path(), QDir::cleanPath(tmp.path()));
        QStringList shown;
        for (int i = 0; i < list.count(); ++i)
            shown.append(list.item(i)->text());
        QCOMPARE(shown, (QStringList{"..", "Alpha", "beta"}));

        // Setting the same directory again is not a change.
        QVERIFY(list.setPath(tmp.path() + "/"));
        QCOMPARE(spy.size(), 1);

        // A directory that is not there leaves the list as it was.
        QVERIFY(!list.setPath(tmp.filePath("absent")));
        QCOMPARE(list.path(), QDir::cleanPath(tmp.path()));
        QCOMPARE(spy.size(), 1);
    }

    void dirListOpensTheActivatedEntry()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(QDir(tmp.path()).mkdir("sous"));
        DirList list;
        QVERIFY(list.setPath(tmp.path()));
        QSignalSpy spy(&list, &DirList::changed);

        list.setCurrentRow(1);
        QCOMPARE(list.currentItem()->text(), QString("sous"));
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(list.path(), QDir::cleanPath(tmp.filePath("sous")));
        QCOMPARE(list.count(), 1); // only ".."

        list.setCurrentRow(0);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).toString(), QDir::cleanPath(tmp.path()));
    }

    void driveListChoosesTheDriveHoldingAPath()
    {
        DriveList list;
        list.setDrives({"/", "/mnt/a/", "/mnt/ab/"});
        QSignalSpy spy(&list, &DriveList::driveChanged);
        list.setDrive("/mnt/ab/dossier");
        QCOMPARE(list.drive(), QString("/mnt/ab/"));
        list.setDrive("/mnt/abc");
        QCOMPARE(list.drive(), QString("/"));
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).toString(), QString("/"));
    }

    void driveListOffersTheMachineDrives()
    {
        DriveList list;
        QVERIFY(list.count() > 0);
        const QString home = QDir::homePath();
        list.setDrive(home);
        QVERIFY(!list.drive().isEmpty());
        QVERIFY(QDir::cleanPath(home).startsWith(QDir::cleanPath(list.drive())));
    }

    void driveAccessibility()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(DriveList::accessible(tmp.path()));
        QVERIFY(!DriveList::accessible(tmp.filePath("absent")));
    }
};

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
