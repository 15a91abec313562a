// Kestrine's main window and its chooser, driven as the user drives them.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "platform/widgets/application_setup.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/file_list.h"
#include "prep/fin_de_session.h"
#include "prep/form1.h"
#include "tests/support/small_disk.h"
#include "tests/support/test_files.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using kestrine::Form1;

namespace {

const QString kPasDeClef = QStringLiteral("pas de fichier clef\n synchronisez un fichier clefs");
const QString kPasDeCommande = QStringLiteral(
    "pas de fichier de commande \n faites une sychronisation des fichiers de commande");
const QString kSuppression = QStringLiteral("la clé choisie va être supprimé de la liste");

QString cle(int i) { return QStringLiteral("KEY%1").arg(i, 9, 10, QLatin1Char('0')); }

QByteArray fichierClefs(int first, int last)
{
    QByteArray bytes;
    for (int i = first; i <= last; ++i)
        bytes += cle(i).toLatin1() + "\r\n";
    return bytes;
}

const QString kTitreClefs = QStringLiteral("Choississez le fichier contenant les clefs à partager");
const QString kEchecSynchro = QStringLiteral(
    "les clefs n'ont pas pu être synchronisées\n les anciennes clefs sont conservées");

const QByteArray kTroisCommandes("alpha.bat\r\nbeta.bat\r\ngamma.bat\r\n");

} // namespace

class TestKestrine : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    SmallDisk disk;
    QStringList messages;
    int fins = 0;
    QStringList dialogue; // title, folder and filter the file dialog was given
    QString reponseDialogue;

    QString rep() const { return dir->path() + u'/'; }

    void put(const QString &path, const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(path, bytes));
    }
    static QByteArray content(const QString &path) { return test_files::lire(path); }

    std::unique_ptr<Form1> ouvrir(const QString &folder)
    {
        auto form = std::make_unique<Form1>(folder);
        form->setFinProgramme([this] { ++fins; });
        form->setChoixFichier([this](const QString &t, const QString &d, const QString &f) {
            dialogue = {t, d, f};
            return reponseDialogue;
        });
        return form;
    }
    std::unique_ptr<Form1> ouvrir() { return ouvrir(rep()); }

    template <typename T> static T *w(QWidget *form, const char *name)
    {
        T *found = form->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    static QComboBox *clefs(Form1 &f) { return w<QComboBox>(&f, "Combo_clef"); }
    static QComboBox *commandes(Form1 &f) { return w<QComboBox>(&f, "ComboCommande"); }
    static void clic(Form1 &f, const char *button)
    {
        QTest::mouseClick(w<QPushButton>(&f, button), Qt::LeftButton);
    }
    static QStringList entrees(QComboBox *box)
    {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items.append(box->itemText(i));
        return items;
    }
    static QString presse_papier() { return QGuiApplication::clipboard()->text(); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(disk.monter()); }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        messages.clear();
        fins = 0;
        dialogue.clear();
        reponseDialogue.clear();
        platform::installer_gestionnaire_messages([this](const QString &t) { messages.append(t); });
        QGuiApplication::clipboard()->clear();
    }
    void cleanup()
    {
        disk.vider();
        platform::installer_gestionnaire_messages({});
    }

    void startUpWithHundredKeysAndThreeCommands()
    {
        put(rep() + "clefs.dat", fichierClefs(1, 100));
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();

        QVERIFY(messages.isEmpty());
        QCOMPARE(entrees(commandes(*form)), (QStringList{"alpha.bat", "beta.bat", "gamma.bat"}));
        QCOMPARE(commandes(*form)->currentIndex(), 0);
        QCOMPARE(clefs(*form)->count(), 100);
        QCOMPARE(clefs(*form)->currentIndex(), 0);
        QCOMPARE(clefs(*form)->currentText(), cle(1));
        QCOMPARE(clefs(*form)->itemText(99), cle(100));
        QCOMPARE(w<QLabel>(form.get(), "Label8")->text(), QString("4"));
        QCOMPARE(form->nb_clefs(), 101);
        QVERIFY(w<QPushButton>(form.get(), "c_valid")->isEnabled());
        QVERIFY(!w<QPushButton>(form.get(), "copy_press")->isEnabled());
        QVERIFY(w<QPlainTextEdit>(form.get(), "Text1")->toPlainText().isEmpty());
    }

    void composedTextIsTheCommandMail()
    {
        put(rep() + "clefs.dat", fichierClefs(1, 100));
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        commandes(*form)->setCurrentIndex(1);
        clefs(*form)->setCurrentIndex(4);
        clic(*form, "c_valid");
        clic(*form, "c_valid"); // built anew, not appended

        const QString expected = QString::fromUtf8("Bonjour,    \r\n\r\n"
                                                   "Commande:beta.bat;\r\n"
                                                   "Code:KEY000000005;\r\n\r\n"
                                                   "Au revoir \r\n\r\n"
                                                   "Rappel : l'objet  du message doit être :  "
                                                   "Actions");
        QCOMPARE(form->Text1_texte(), expected);
        QCOMPARE(form->index_clef(), 4);
        QVERIFY(w<QPushButton>(form.get(), "copy_press")->isEnabled());
        const ParametresCommande p = extract_param(form->Text1_texte());
        QVERIFY(p.ok);
        QCOMPARE(p.commande, QString("beta.bat"));
        QCOMPARE(p.code, cle(5));
        QVERIFY(messages.isEmpty());
    }

    void copyStrikesTheKey_data()
    {
        QTest::addColumn<QString>("sortie");
        QTest::addColumn<bool>("written");
        QTest::newRow("Quitter") << "quitter" << true;
        QTest::newRow("close box") << "" << true;
        QTest::newRow("Quitter sans effacer les clefs") << "Command4" << false;
        // The end of the session or a service stop ends the program as "Quitter" does.
        QTest::newRow("SIGTERM") << "SIGTERM" << true;
        QTest::newRow("SIGHUP") << "SIGHUP" << true;
    }

    void copyStrikesTheKey()
    {
        QFETCH(QString, sortie);
        QFETCH(bool, written);
        const QByteArray original = fichierClefs(1, 100);
        put(rep() + "clefs.dat", original);
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        form->show();

        clefs(*form)->setCurrentIndex(2);
        clic(*form, "c_valid");
        clic(*form, "copy_press");
        QCOMPARE(messages, QStringList{kSuppression});
        QCOMPARE(presse_papier(), form->Text1_texte());
        QVERIFY(presse_papier().contains("Code:" + cle(3) + ";"));
        QStringList after;
        for (int i = 1; i <= 100; ++i)
            after.append(i == 3 ? QString() : cle(i));
        QCOMPARE(entrees(clefs(*form)), after);
        QCOMPARE(clefs(*form)->currentIndex(), -1);
        QVERIFY(form->tab_clefs().at(3).isEmpty());
        QVERIFY(w<QPlainTextEdit>(form.get(), "Text1")->textCursor().hasSelection());

        // Copying again shows the message again and strikes nothing more.
        QGuiApplication::clipboard()->clear();
        clic(*form, "copy_press");
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages.last(), kSuppression);
        QCOMPARE(entrees(clefs(*form)), after);
        QCOMPARE(presse_papier(), form->Text1_texte());
        QCOMPARE(content(rep() + "clefs.dat"), original); // struck only in memory

        if (sortie.startsWith(u"SIG")) {
            kestrine::quitter_en_fin_de_session(*form);
            std::raise(sortie == u"SIGTERM" ? SIGTERM : SIGHUP);
            QTRY_COMPARE(fins, 1);
        } else if (sortie.isEmpty()) {
            form->close();
        } else {
            clic(*form, sortie.toLatin1().constData());
        }
        QCOMPARE(fins, 1);
        QByteArray expected = original;
        if (written)
            expected.replace(cle(3).toLatin1() + "\r\n", "");
        QCOMPARE(content(rep() + "clefs.dat"), expected);
    }

    void failedKeyWriteKeepsTheWindowOpen_data()
    {
        QTest::addColumn<QString>("sortie"); // the button, empty for the close box
        QTest::newRow("Quitter") << "quitter";
        QTest::newRow("close box") << "";
    }

    // A full client folder: the used key would come back, so the user is told
    // and the window stays until the write succeeds.
    void failedKeyWriteKeepsTheWindowOpen()
    {
        QFETCH(QString, sortie);
        const QString path = disk.path() + "clefs.dat";
        put(path, fichierClefs(1, 5));
        put(disk.path() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir(disk.path());
        form->show();
        clefs(*form)->setCurrentIndex(1);
        clic(*form, "c_valid");
        clic(*form, "copy_press");
        messages.clear();
        QVERIFY(disk.remplir());
        const auto quitter = [&] {
            sortie.isEmpty() ? void(form->close()) : clic(*form, sortie.toLatin1().constData());
        };

        quitter();
        QCOMPARE(fins, 0);
        QVERIFY(form->isVisible());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith("les clefs utilisées n'ont pas pu être effacées du "
                                             "fichier clefs\n écriture impossible de "),
                 qPrintable(messages.first()));
        QCOMPARE(content(path), fichierClefs(1, 5));

        disk.vider();
        quitter();
        QCOMPARE(fins, 1);
        QCOMPARE(content(path), fichierClefs(1, 1) + fichierClefs(3, 5));
    }

    void editedTextIsWhatIsCopied()
    {
        put(rep() + "clefs.dat", fichierClefs(1, 100));
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        clic(*form, "c_valid");
        auto *text1 = w<QPlainTextEdit>(form.get(), "Text1");
        text1->moveCursor(QTextCursor::End);
        QTest::keyClick(text1, Qt::Key_Return);
        QTest::keyClicks(text1, "Merci");
        clic(*form, "copy_press");
        QCOMPARE(presse_papier(), compose_message_commande("alpha.bat", cle(1)) + "\r\nMerci");
    }

    void validerWithoutAKeyIsRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("after a copy") << "copy";
        QTest::newRow("typed into the key box") << "typed";
        QTest::newRow("used key chosen") << "used";
    }

    void validerWithoutAKeyIsRefused()
    {
        QFETCH(QString, how);
        put(rep() + "clefs.dat", fichierClefs(1, 10));
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        clefs(*form)->setCurrentIndex(1);
        clic(*form, "c_valid");
        clic(*form, "copy_press");
        const QString composed = form->Text1_texte();
        if (how == "typed") {
            clefs(*form)->setCurrentIndex(5);
            clefs(*form)->setEditText(cle(1));
        } else if (how == "used") {
            clefs(*form)->setCurrentIndex(1);
            QCOMPARE(clefs(*form)->currentText(), QString());
        }
        messages.clear();
        clic(*form, "c_valid");
        QCOMPARE(messages, QStringList{"choisissez une clef"});
        QCOMPARE(form->Text1_texte(), composed);
        QCOMPARE(form->index_clef(), 1);
    }

    void missingOrEmptyFiles_data()
    {
        QTest::addColumn<QByteArray>("keys"); // "<none>" for no file
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QStringList>("expectedMessages");
        QTest::addColumn<int>("keyCount");
        QTest::addColumn<int>("commandCount");
        QTest::addColumn<QString>("label8");
        QTest::addColumn<bool>("canCompose");

        QTest::newRow("no clefs.dat") << QByteArray("<none>") << kTroisCommandes
                                      << QStringList{kPasDeClef} << 0 << 3 << "4" << false;
        QTest::newRow("no filebat.dat")
            << fichierClefs(1, 100) << QByteArray("<none>") << QStringList{kPasDeCommande} << 100
            << 0 << "101" << false;
        QTest::newRow("no files") << QByteArray("<none>") << QByteArray("<none>")
                                  << QStringList{kPasDeClef, kPasDeCommande} << 0 << 0 << "Label8"
                                  << false;
        QTest::newRow("empty clefs.dat")
            << QByteArray() << kTroisCommandes << QStringList{kPasDeClef} << 0 << 3 << "4" << false;
        QTest::newRow("only empty lines") << QByteArray("\r\n\r\n") << kTroisCommandes
                                          << QStringList{kPasDeClef} << 2 << 3 << "4" << false;
        QTest::newRow("empty filebat.dat")
            << fichierClefs(1, 5) << QByteArray() << QStringList{} << 5 << 0 << "1" << false;
        QTest::newRow("empty line 3") << QByteArray("A\r\nB\r\n\r\nD\r\n") << kTroisCommandes
                                      << QStringList{} << 4 << 3 << "4" << true;
    }

    void missingOrEmptyFiles()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QByteArray, commands);
        QFETCH(QStringList, expectedMessages);
        QFETCH(int, keyCount);
        QFETCH(int, commandCount);
        QFETCH(QString, label8);
        QFETCH(bool, canCompose);
        if (keys != "<none>")
            put(rep() + "clefs.dat", keys);
        if (commands != "<none>")
            put(rep() + "filebat.dat", commands);

        auto form = ouvrir();
        QCOMPARE(messages, expectedMessages);
        QCOMPARE(clefs(*form)->count(), keyCount);
        QCOMPARE(commandes(*form)->count(), commandCount);
        QCOMPARE(w<QLabel>(form.get(), "Label8")->text(), label8);
        QCOMPARE(w<QPushButton>(form.get(), "c_valid")->isEnabled(), canCompose);
        QVERIFY(!w<QPushButton>(form.get(), "copy_press")->isEnabled());
    }

    void missingKeyFileIsCreatedOnQuit()
    {
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        clic(*form, "quitter");
        QCOMPARE(fins, 1);
        QCOMPARE(content(rep() + "clefs.dat"), QByteArray());
    }

    void keySynchronisation()
    {
        put(rep() + "clefs.dat", fichierClefs(1, 100));
        put(rep() + "filebat.dat", kTroisCommandes);
        QTemporaryDir other;
        const QByteArray forty = fichierClefs(201, 240);
        reponseDialogue = other.filePath("partage.dat");
        put(reponseDialogue, forty);
        auto form = ouvrir();

        clic(*form, "sync_clef");
        QCOMPARE(dialogue, (QStringList{kTitreClefs, rep(), "fichier clefs (*.dat)"}));
        QVERIFY(messages.isEmpty());
        QCOMPARE(content(rep() + "clefs.dat"), forty);
        QCOMPARE(clefs(*form)->count(), 40);
        QCOMPARE(clefs(*form)->currentIndex(), 0);
        QCOMPARE(clefs(*form)->currentText(), cle(201));
        QCOMPARE(form->nb_clefs(), 41);
        QCOMPARE(commandes(*form)->count(), 3);

        clefs(*form)->setCurrentIndex(0);
        clic(*form, "c_valid");
        clic(*form, "copy_press");
        clic(*form, "quitter");
        QCOMPARE(content(rep() + "clefs.dat"), fichierClefs(202, 240));
    }

    void keySynchronisationChoices_data()
    {
        QTest::addColumn<QString>("choice"); // relative to the tool's folder
        QTest::addColumn<bool>("reloaded");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("cancelled") << "" << false << QStringList();
        QTest::newRow("own clefs.dat") << "clefs.dat" << true << QStringList();
        QTest::newRow("file gone") << "absent.dat" << false << QStringList{kEchecSynchro};
        QTest::newRow("folder, not a file") << "dossier" << false << QStringList{kEchecSynchro};
    }

    void keySynchronisationChoices()
    {
        QFETCH(QString, choice);
        QFETCH(bool, reloaded);
        QFETCH(QStringList, said);
        QVERIFY(QDir(rep()).mkdir("dossier"));
        const QByteArray original = fichierClefs(1, 100);
        put(rep() + "clefs.dat", original);
        put(rep() + "filebat.dat", kTroisCommandes);
        auto form = ouvrir();
        clic(*form, "c_valid");
        clic(*form, "copy_press"); // key 1 struck in memory
        messages.clear();

        reponseDialogue = choice.isEmpty() ? QString() : rep() + choice;
        clic(*form, "sync_clef");
        QCOMPARE(dialogue.size(), 3);
        QCOMPARE(messages, said);
        // The tool's own key file is never damaged, whatever was chosen.
        QCOMPARE(content(rep() + "clefs.dat"), original);
        // A reload brings the struck key back; a cancel leaves the list alone.
        QCOMPARE(clefs(*form)->itemText(0), reloaded ? cle(1) : QString());
        QCOMPARE(clefs(*form)->currentIndex(), reloaded ? 0 : -1);
    }

    void commandSynchronisation_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QByteArray>("filebat");

        QTest::newRow("three batch files")
            << QStringList{"zeta.bat", "Beta.BAT", "alpha.bat", "notes.txt", "run.bat.old"}
            << QStringList{"alpha.bat", "Beta.BAT", "zeta.bat"}
            << QByteArray("alpha.bat\r\nBeta.BAT\r\nzeta.bat\r\n");
        QTest::newRow("accents and letter case")
            << QStringList{"zeta.bat", "été.bat", "Eta.bat", "Ébène.bat"}
            << QStringList{"Ébène.bat", "Eta.bat", "été.bat", "zeta.bat"}
            << QString("Ébène.bat\r\nEta.bat\r\nété.bat\r\nzeta.bat\r\n").toUtf8();
        QTest::newRow("no batch file") << QStringList{"notes.txt"} << QStringList{} << QByteArray();
    }

    void commandSynchronisation()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, listed);
        QFETCH(QByteArray, filebat);
        put(rep() + "clefs.dat", fichierClefs(1, 100));
        put(rep() + "filebat.dat", kTroisCommandes);
        QTemporaryDir actions;
        for (const QString &name : files)
            put(actions.filePath(name), "@echo off\r\n");
        auto form = ouvrir();
        clic(*form, "c_valid");
        clic(*form, "copy_press");
        messages.clear();

        clic(*form, "c_synchro");
        // The lists are reloaded at once: the struck key is offered again.
        QCOMPARE(clefs(*form)->itemText(0), cle(1));
        QCOMPARE(commandes(*form)->count(), 3);

        auto *chooser = w<QWidget>(form.get(), "form_repertoire");
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->windowTitle(), QString("Choix du répertoire commandes"));
        QCOMPARE(w<QLabel>(chooser, "Label2")->text(), rep()); // Dir1 set to the tool's folder
        auto *dir1 = w<platform::DirList>(chooser, "Dir1");
        QVERIFY(dir1->setPath(actions.path()));
        const QString chosen = QDir::cleanPath(actions.path()) + u'/';
        QCOMPARE(w<QLabel>(chooser, "Label2")->text(), chosen);
        QCOMPARE(w<platform::FileList>(chooser, "File1")->fileNames(), listed);

        QTest::mouseClick(w<QPushButton>(chooser, "Command1"), Qt::LeftButton);
        QVERIFY(messages.isEmpty());
        QVERIFY(!chooser->isVisible());
        QCOMPARE(content(rep() + "filebat.dat"), filebat);
        QCOMPARE(entrees(commandes(*form)),
                 QStringList({"alpha.bat", "beta.bat", "gamma.bat"}) + listed);
        for (const QString &name : files)
            QVERIFY(!QFile::exists(rep() + name)); // only the names travel

        // Opening again starts from the tool's folder.
        clic(*form, "c_synchro");
        QCOMPARE(chooser, w<QWidget>(form.get(), "form_repertoire"));
        QVERIFY(chooser->isVisible());
        QCOMPARE(dir1->path(), QDir::cleanPath(rep()));
        QCOMPARE(w<QLabel>(chooser, "Label2")->text(), rep());
        QCOMPARE(entrees(commandes(*form)), listed); // reloaded from the new filebat.dat
    }

    void chooserMessages()
    {
        // A tool folder that cannot be listed leaves Dir1 without a directory.
        auto form = ouvrir(rep() + "absent/");
        messages.clear();
        clic(*form, "c_synchro");
        auto *chooser = w<QWidget>(form.get(), "form_repertoire");
        QTest::mouseClick(w<QPushButton>(chooser, "Command1"), Qt::LeftButton);
        QCOMPARE(messages.last(), QString(" choississez  disques et répertoire en cliquant "));
        QVERIFY(chooser->isVisible());
        QVERIFY(!QFile::exists(rep() + "absent/filebat.dat"));

        auto *dir1 = w<platform::DirList>(chooser, "Dir1");
        QVERIFY(dir1->setPath(dir->path()));
        auto *drive1 = w<platform::DriveList>(chooser, "Drive1");
        drive1->setDrives({QDir::rootPath(), rep() + "lecteur-absent/"});
        messages.clear();
        drive1->setCurrentIndex(1);
        QCOMPARE(messages,
                 QStringList{" le disque choisi n'est pas accessibe, choississez en un autre"});
        QCOMPARE(dir1->path(), QDir::cleanPath(dir->path()));
        QCOMPARE(drive1->currentIndex(), 0);
    }

    // Last: it changes the application's translations and font for good.
    void standardDialogsSpeakFrench()
    {
        platform::preparer_application(QStringLiteral("kestrine"));
        QVERIFY(!QImage(":/icons/png/kestrine-48.png").isNull());
        QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(256, 256)));
        QCOMPARE(QApplication::font().family(), QString("MS Sans Serif"));

        QFileDialog dialogue(nullptr, kTitreClefs, rep(), "fichier clefs (*.dat)");
        dialogue.setOption(QFileDialog::DontUseNativeDialog);
        auto *boutons = dialogue.findChild<QDialogButtonBox *>();
        QVERIFY(boutons);
        QCOMPARE(boutons->button(QDialogButtonBox::Open)->text(), QString("&Ouvrir"));
        QCOMPARE(boutons->button(QDialogButtonBox::Cancel)->text(), QString("Annuler"));
        QMessageBox boite(QMessageBox::NoIcon, "Kestrine", "texte",
                          QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(boite.button(QMessageBox::Cancel)->text(), QString("Annuler"));
    }
};

QTEST_MAIN(TestKestrine)
#include "tst_kestrine.moc"
