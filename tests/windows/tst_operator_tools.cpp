// The actions directory window and the client folder provisioning, driven from
// the main window's buttons with real folders.
#include "platform/message_box.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/drive_list.h"
#include "server/frame/config.h"
#include "server/frame/mail_settings.h"
#include "server/frame/server_state.h"
#include "server/windows/conf_mail.h"
#include "server/windows/form1.h"
#include "server/windows/form_repertoire.h"
#include "server/windows/form_repertoire_2.h"
#include "server/windows/operator_tools.h"
#include "tests/support/test_files.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstddef>
#include <initializer_list>
#include <memory>

using test_files::ecrire;
using test_files::lire;

namespace {

const QString kChoisir = QStringLiteral(" choississez  disques et répertoire en cliquant ");
const QString kEchec = QStringLiteral(" les fichiers n'existent pas ");
const QString kAucunFichier =
    QStringLiteral("le répertoire actions ne contient aucun fichier de commande");
const QString kTropLong = QStringLiteral("le chemin choisi est trop long (127 caractères au plus)");
const QString kDisque =
    QStringLiteral(" le disque choisi n'est pas accessibe, choississez en un autre");

template <std::size_t N> QByteArray octets(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// Bytes a text copy would spoil: line ends of both kinds, a NUL, high bytes.
const QByteArray kClefs = octets("ABCDEFGHIJKL\r\nMNOPQRSTUVWX\r\n\0\xe9\n");
const QByteArray kExecutable = octets("\x7f"
                                      "ELF\0\0\r\n\x01\x02\xff\xfe payload");
// Not "kestrine": the build puts the real one beside this test, where
// provisioning looks when the server folder holds none.
const QString kExe = QStringLiteral("kestrine-essai");
// The batch files of the actions folder, in the order filebat.dat must give:
// by name with letter case ignored, which is not the order of the bytes.
const QByteArray kFilebat = "alpha.BAT\r\nbeta.bat\r\nZeta.bat\r\n";

QStringList contenu(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class TestOperatorTools : public QObject
{
    Q_OBJECT

private:
    QStringList m_messages;
    std::unique_ptr<QTemporaryDir> m_tmp;
    ServerState m_state;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<OutilsOperateur> m_outils;

    QString dossier(const QString &name) const { return m_tmp->path() + u'/' + name + u'/'; }

    form_repertoire_2 *ouvrirClient()
    {
        m_form->cre_client->click();
        return m_outils->fenetreClient();
    }

    form_repertoire *ouvrirRepertoire()
    {
        m_form->repertoire->click();
        return m_outils->fenetreRepertoire();
    }

private Q_SLOTS:
    void init()
    {
        m_messages.clear();
        platform::installer_gestionnaire_messages(
            [this](const QString &text) { m_messages.append(text); });

        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        QDir root(m_tmp->path());
        for (const char *name : {"appli", "actions", "client"})
            QVERIFY(root.mkdir(name));

        m_state = ServerState();
        m_state.rep_appli = dossier("appli");
        m_state.fichier_ini = m_state.rep_appli + "pop3.ini";
        m_state.rep_actions = dossier("actions");
        QVERIFY(ecrire(m_state.rep_appli + "clefs.dat", kClefs));
        QVERIFY(ecrire(m_state.rep_appli + kExe, kExecutable));
        QVERIFY(QFile::setPermissions(m_state.rep_appli + kExe,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const char *name : {"Zeta.bat", "beta.bat", "alpha.BAT", "notes.txt", "run.bat.old"})
            QVERIFY(ecrire(m_state.rep_actions + name, "@echo off\r\n"));
        QVERIFY(QDir(m_state.rep_actions).mkdir("dossier.bat"));

        m_form = std::make_unique<Form1>();
        m_outils = std::make_unique<OutilsOperateur>(m_state, *m_form, kExe);
    }

    void cleanup()
    {
        m_outils.reset();
        m_form.reset(); // takes the windows still open with it
        m_tmp.reset();
        platform::installer_gestionnaire_messages({});
    }

    void typedNameWaitsForDirectoryOrCheckBox()
    {
        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QCOMPARE(w->Label2->text(), m_state.rep_appli); // opened on the server's folder
        QCOMPARE(w->Text1->text(), QStringLiteral("Kestrine"));
        QVERIFY(!w->Check1->isChecked());
        w->Check1->setChecked(true);
        QCOMPARE(w->Label2->text(), m_state.rep_appli + "Kestrine/");

        w->Text1->setText("Autre");
        QCOMPARE(w->Label2->text(), m_state.rep_appli + "Kestrine/");
        w->Check1->setChecked(false);
        QCOMPARE(w->Label2->text(), m_state.rep_appli);
        w->Check1->setChecked(true);
        QCOMPARE(w->Label2->text(), m_state.rep_appli + "Autre/");

        w->Text1->setText("Encore");
        QVERIFY(w->Dir1->setPath(dossier("client")));
        QCOMPARE(w->Label2->text(), dossier("client") + "Encore/");
    }

    void provisionsFolder_data()
    {
        QTest::addColumn<QString>("choisi");
        QTest::addColumn<bool>("coche");
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QString>("cible");
        QTest::addColumn<bool>("ancienneCopie"); // the target already holds old copies

        QTest::newRow("chosen folder") << "client" << false << "Kestrine"
                                       << "client/" << false;
        QTest::newRow("new Kestrine sub-folder") << "client" << true << "Kestrine"
                                                 << "client/Kestrine/" << false;
        QTest::newRow("name with final separator") << "client" << true << "Poste/"
                                                   << "client/Poste/" << false;
        QTest::newRow("name with final backslash") << "client" << true << " Nouveau\\ "
                                                   << "client/Nouveau/" << false;
        QTest::newRow("blanks around the name") << "client" << true << "  Poste 2 "
                                                << "client/Poste 2/" << false;
        QTest::newRow("empty name") << "client" << true << "  "
                                    << "client/" << false;
        QTest::newRow("existing sub-folder, old copies replaced") << "client" << true << "Kestrine"
                                                                  << "client/Kestrine/" << true;
        QTest::newRow("server's own folder") << "appli" << false << "Kestrine"
                                             << "appli/" << false;
    }

    void provisionsFolder()
    {
        QFETCH(QString, choisi);
        QFETCH(bool, coche);
        QFETCH(QString, nom);
        QFETCH(QString, cible);
        QFETCH(bool, ancienneCopie);
        const QString target = m_tmp->path() + u'/' + cible;
        if (ancienneCopie) {
            QVERIFY(QDir().mkpath(target));
            QVERIFY(ecrire(target + "clefs.dat", "old keys, longer than the new ones....."));
            QVERIFY(ecrire(target + kExe, "old"));
            QVERIFY(
                ecrire(target + "filebat.dat", "old.bat\r\ngone.bat\r\nlost.bat\r\nmore.bat\r\n"));
        }

        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QVERIFY(!m_form->cre_client->isEnabled());
        QPointer<form_repertoire_2> fenetre(w);
        QVERIFY(w->Dir1->setPath(dossier(choisi)));
        w->Text1->setText(nom);
        w->Check1->setChecked(coche);
        QCOMPARE(w->Label2->text(), target);

        w->Command1->click();

        QCOMPARE(m_messages, QStringList());
        QCOMPARE(contenu(target), QStringList({"clefs.dat", "filebat.dat", kExe}));
        QCOMPARE(lire(target + "clefs.dat"), kClefs);
        QCOMPARE(lire(target + kExe), kExecutable);
        QCOMPARE(lire(target + "filebat.dat"), kFilebat);
#ifndef Q_OS_WIN
        QVERIFY(QFileInfo(target + kExe).permissions() & QFile::ExeOwner);
#endif
        QVERIFY(m_form->cre_client->isEnabled());
        QVERIFY(!m_outils->fenetreClient());
        QTRY_VERIFY(fenetre.isNull());
    }

    void emptyActionsFolderClosesWithoutCommandList()
    {
        for (const char *name : {"Zeta.bat", "beta.bat", "alpha.BAT"})
            QVERIFY(QFile::remove(m_state.rep_actions + name));

        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QSignalSpy fermee(w, &form_repertoire_2::fermee);
        QVERIFY(w->Dir1->setPath(dossier("client")));
        w->Command1->click();

        QCOMPARE(m_messages, QStringList{kAucunFichier});
        QCOMPARE(contenu(dossier("client")), QStringList({"clefs.dat", kExe}));
        QCOMPARE(fermee.size(), 1);
        QVERIFY(m_form->cre_client->isEnabled());
    }

    void failureKeepsWindowOpen_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QStringList>("laisse"); // what the target holds afterwards

        QTest::newRow("clefs.dat missing") << "clefs" << QStringList();
        QTest::newRow("executable missing") << "exe" << QStringList{"clefs.dat"};
        QTest::newRow("actions folder missing") << "actions" << QStringList({"clefs.dat", kExe});
        QTest::newRow("sub-folder cannot be created") << "subdir" << QStringList();
        // filebat.dat cannot be written: no part of it is left beside the copies.
        QTest::newRow("filebat.dat not writable")
            << "filebat" << QStringList({"clefs.dat", "filebat.dat", kExe});
    }

    void failureKeepsWindowOpen()
    {
        QFETCH(QString, cause);
        QFETCH(QStringList, laisse);
        const QString client = dossier("client");
        QString target = client;
        if (cause == "clefs")
            QVERIFY(QFile::remove(m_state.rep_appli + "clefs.dat"));
        else if (cause == "exe")
            QVERIFY(QFile::remove(m_state.rep_appli + kExe));
        else if (cause == "actions")
            m_state.rep_actions = dossier("absent");
        else if (cause == "subdir") // a file stands where the folder would go
            QVERIFY(ecrire(client + "Kestrine", "x"));
        else if (cause == "filebat")
            QVERIFY(QDir(client).mkdir("filebat.dat"));

        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QSignalSpy fermee(w, &form_repertoire_2::fermee);
        QVERIFY(w->Dir1->setPath(client));
        if (cause == "subdir") {
            w->Check1->setChecked(true);
            target = client + "Kestrine/";
        }
        w->Command1->click();

        QCOMPARE(m_messages, QStringList{kEchec});
        QCOMPARE(fermee.size(), 0);
        QCOMPARE(m_outils->fenetreClient(), w);
        QVERIFY(!m_form->cre_client->isEnabled());
        if (cause == "subdir")
            QCOMPARE(contenu(client), QStringList{"Kestrine"});
        else
            QCOMPARE(contenu(target), laisse);
    }

    void unusableSubFolderNameIsRefused_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::newRow("backslash inside") << "Nouveau\\Poste";
        QTest::newRow("slash inside") << "Nouveau/Poste/";
        QTest::newRow("parent folder") << "..";
        QTest::newRow("separator alone") << " \\ ";
    }

    void unusableSubFolderNameIsRefused()
    {
        QFETCH(QString, nom);
        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QVERIFY(w->Dir1->setPath(dossier("client")));
        w->Text1->setText(nom);
        w->Check1->setChecked(true);
        w->Command1->click();

        QCOMPARE(m_messages, QStringList{kEchec});
        QCOMPARE(m_outils->fenetreClient(), w);
        QCOMPARE(contenu(dossier("client")), QStringList());
        QCOMPARE(contenu(m_tmp->path()), QStringList({"actions", "appli", "client"}));
    }

    void retryAfterCorrectingCause()
    {
        QVERIFY(QFile::remove(m_state.rep_appli + "clefs.dat"));
        form_repertoire_2 *w = ouvrirClient();
        QVERIFY(w);
        QVERIFY(w->Dir1->setPath(dossier("client")));
        w->Command1->click();
        QCOMPARE(m_messages, QStringList{kEchec});
        QCOMPARE(contenu(dossier("client")), QStringList());

        QVERIFY(ecrire(m_state.rep_appli + "clefs.dat", kClefs));
        w->Command1->click();
        QCOMPARE(m_messages, QStringList{kEchec});
        QCOMPARE(lire(dossier("client") + "filebat.dat"), kFilebat);
        QVERIFY(m_form->cre_client->isEnabled());
    }

    void validatingBeforeAnyDirectory()
    {
        // Dir1 has reported nothing until the window is loaded.
        form_repertoire fr(m_state);
        form_repertoire_2 fr2(m_state, kExe);
        QSignalSpy fermee(&fr, &form_repertoire::fermee);
        QSignalSpy fermee2(&fr2, &form_repertoire_2::fermee);
        fr.show();
        fr2.show();
        const QString avant = m_state.rep_actions;

        fr.Command1->click();
        fr2.Command1->click();

        QCOMPARE(m_messages, QStringList({kChoisir, kChoisir}));
        QCOMPARE(fermee.size() + fermee2.size(), 0);
        QVERIFY(fr.isVisible() && fr2.isVisible());
        QCOMPARE(m_state.rep_actions, avant);
        QVERIFY(!QFile::exists(m_state.fichier_ini));
        QCOMPARE(contenu(dossier("client")), QStringList());
    }

    void actionsDirectoryChoiceAppliesAndIsSaved()
    {
        QVERIFY(QDir(m_tmp->path()).mkdir("autres"));
        QVERIFY(ecrire(dossier("autres") + "Go.BAT", "@echo off\r\n"));
        QVERIFY(ecrire(m_state.fichier_ini, "[mail]\r\nrepondre=moi@example.org\r\n"));

        form_repertoire *w = ouvrirRepertoire();
        QVERIFY(w);
        QVERIFY(!m_form->repertoire->isEnabled());
        QCOMPARE(w->Label2->text(), m_state.rep_actions);     // opened on the current one
        QVERIFY(w->Dir1->setPath(m_tmp->path() + "/autres")); // reported without final separator
        QCOMPARE(w->Label2->text(), dossier("autres"));
        w->Command1->click();

        QCOMPARE(m_messages, QStringList());
        QCOMPARE(m_state.rep_actions, dossier("autres"));
        QVERIFY(m_form->repertoire->isEnabled());
        QVERIFY(!m_outils->fenetreRepertoire());
        const QByteArray ini = lire(m_state.fichier_ini);
        QVERIFY2(
            ini.contains("[PATH]\r\nrepertoire_commande=" + dossier("autres").toUtf8() + "\r\n"),
            ini.constData());
        QVERIFY(ini.contains("repondre=moi@example.org\r\n"));

        // The next start reads it back.
        ServerState suivant;
        suivant.rep_appli = m_state.rep_appli;
        suivant.fichier_ini = m_state.fichier_ini;
        MailSettingsFields fields;
        config::charge_config_timer(suivant, fields);
        QCOMPARE(suivant.rep_actions, dossier("autres"));

        // The running server uses it for the next provisioning.
        form_repertoire_2 *w2 = ouvrirClient();
        QVERIFY(w2);
        QVERIFY(w2->Dir1->setPath(dossier("client")));
        w2->Command1->click();
        QCOMPARE(lire(dossier("client") + "filebat.dat"), QByteArray("Go.BAT\r\n"));
    }

    void pathLengthLimit_data()
    {
        QTest::addColumn<int>("longueur"); // with the final separator
        QTest::addColumn<bool>("accepte");

        QTest::newRow("127 characters") << 127 << true;
        QTest::newRow("128 characters") << 128 << false;
    }

    void pathLengthLimit()
    {
        QFETCH(int, longueur);
        QFETCH(bool, accepte);
        const qsizetype reste = longueur - (m_tmp->path().size() + 2);
        QVERIFY2(reste > 0 && reste < 255, "temporary folder too deep for this test");
        const QString nom(reste, u'r');
        QVERIFY(QDir(m_tmp->path()).mkdir(nom));
        const QString chemin = dossier(nom);
        QCOMPARE(chemin.size(), longueur);
        const QString avant = m_state.rep_actions;

        form_repertoire *w = ouvrirRepertoire();
        QVERIFY(w);
        QVERIFY(w->Dir1->setPath(chemin));
        w->Command1->click();

        if (accepte) {
            QCOMPARE(m_messages, QStringList());
            QCOMPARE(m_state.rep_actions, chemin);
            ServerState suivant;
            suivant.fichier_ini = m_state.fichier_ini;
            MailSettingsFields fields;
            config::charge_config_timer(suivant, fields);
            QCOMPARE(suivant.rep_actions, chemin); // comes back whole
            QVERIFY(m_form->repertoire->isEnabled());
        } else {
            QCOMPARE(m_messages, QStringList{kTropLong});
            QCOMPARE(m_state.rep_actions, avant);
            QVERIFY(!QFile::exists(m_state.fichier_ini));
            QCOMPARE(m_outils->fenetreRepertoire(), w);
            QVERIFY(!m_form->repertoire->isEnabled());
        }
    }

    void closeBoxEnablesButtonAgain_data()
    {
        QTest::addColumn<bool>("client");
        QTest::newRow("actions directory") << false;
        QTest::newRow("client folder") << true;
    }

    void closeBoxEnablesButtonAgain()
    {
        QFETCH(bool, client);
        QPushButton *button = client ? m_form->cre_client : m_form->repertoire;
        QPushButton *other = client ? m_form->repertoire : m_form->cre_client;
        auto fenetre = [&]() -> QWidget * {
            return client ? static_cast<QWidget *>(m_outils->fenetreClient())
                          : m_outils->fenetreRepertoire();
        };

        button->click();
        QPointer<QWidget> w = fenetre();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QVERIFY(!w->isModal());
        QVERIFY(!button->isEnabled());
        QVERIFY(other->isEnabled());

        QVERIFY(w->close());
        QVERIFY(button->isEnabled());
        QTRY_VERIFY(w.isNull());
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(contenu(dossier("client")), QStringList());
        QVERIFY(!QFile::exists(m_state.fichier_ini));

        button->click(); // a fresh window
        QVERIFY(fenetre());
        QVERIFY(!button->isEnabled());
    }

    void captions()
    {
        conf_mail reglages;
        QCOMPARE(reglages.windowTitle(), QString("Configuration Mail"));
        reglages.Password->setText("secret");
        QCOMPARE(reglages.Password->displayText(), QString("******"));
        form_repertoire *actions = ouvrirRepertoire();
        form_repertoire_2 *client = ouvrirClient();
        QCOMPARE(actions->windowTitle(), QString("Choix du répertoire commandes"));
        QCOMPARE(client->windowTitle(), QString("Choix du répertoire "));
        // With a font of Arial's widths every caption keeps its size, on two
        // lines where it must, as the windows were drawn.
        for (QWidget *fenetre : std::initializer_list<QWidget *>{&reglages, actions, client})
            for (QAbstractButton *b : fenetre->findChildren<QAbstractButton *>())
                QVERIFY2(qFuzzyCompare(b->font().pointSizeF(), 9.75), qPrintable(b->text()));
    }

    void driveChange()
    {
        form_repertoire *w = ouvrirRepertoire();
        QVERIFY(w);
        const QString autre = m_tmp->path() + "/client";
        w->Drive1->setDrives({m_tmp->path() + "/appli", m_tmp->path() + "/absent", autre});
        QVERIFY(w->Dir1->setPath(dossier("appli")));

        w->Drive1->setCurrentIndex(1);
        QCOMPARE(m_messages, QStringList{kDisque});
        QCOMPARE(w->Dir1->path(), m_tmp->path() + "/appli");
        QCOMPARE(w->Drive1->currentIndex(), 0); // back to the drive still shown

        w->Drive1->setCurrentIndex(2);
        QCOMPARE(m_messages, QStringList{kDisque});
        QCOMPARE(w->Dir1->path(), autre);
        QCOMPARE(w->Label2->text(), dossier("client"));
    }
};

QTEST_MAIN(TestOperatorTools)
#include "tst_operator_tools.moc"
