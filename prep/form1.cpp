#include "prep/form1.h"

#include "common/command_list_file.h"
#include "common/command_mail.h"
#include "platform/app_folder.h"
#include "platform/file_copy.h"
#include "platform/message_box.h"
#include "platform/widgets/twips.h"
#include "prep/form_repertoire.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <iterator>

namespace kestrine {

namespace {
const QString kTitreChoixClefs =
    QStringLiteral("Choississez le fichier contenant les clefs à partager");
const QString kFiltreClefs = QStringLiteral("fichier clefs | *.dat");
const QString kEchecSynchroClefs = QStringLiteral(
    "les clefs n'ont pas pu être synchronisées\n les anciennes clefs sont conservées");
const QString kEchecEcritureClefs =
    QStringLiteral("les clefs utilisées n'ont pas pu être effacées du fichier clefs\n %1\n elles "
                   "seraient proposées de nouveau et refusées par le serveur\n libérez le "
                   "dossier puis quittez de nouveau");
} // namespace

Form1::Form1(const QString &rep_appli, QWidget *parent)
    : QWidget(parent), m_rep_appli(platform::avec_separateur(rep_appli))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Préparation de messages de commande pour Tramelon"));
    setFixedSize(twips(8340), twips(4335));

    Label3 = new QLabel(QStringLiteral("Commande : "), this);
    ComboCommande = new QComboBox(this);
    Label1 = new QLabel(QStringLiteral("Clef : "), this);
    Combo_clef = new QComboBox(this);
    Combo_clef->setEditable(true);
    Combo_clef->setInsertPolicy(QComboBox::NoInsert);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    Combo_clef->setFont(courier);
    Text1 = new QPlainTextEdit(this);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setTabChangesFocus(true);
    c_valid = new QPushButton(QStringLiteral("Valider"), this);
    copy_press = new QPushButton(QStringLiteral("Copier dans le presse papier"), this);
    Command4 = new QPushButton(QStringLiteral("Quitter sans effacer les clefs"), this);
    c_synchro = new QPushButton(QStringLiteral("Synchonisation des fichiers de commande"), this);
    sync_clef = new QPushButton(QStringLiteral("Synchronisation des clefs"), this);
    quitter = new QPushButton(QStringLiteral("Quitter"), this);
    Label8 = new QLabel(QStringLiteral("Label8"), this);

    nommer_et_placer(Label3, u"Label3", 0, 120, 1455, 375);
    nommer_et_placer(ComboCommande, u"ComboCommande", 1440, 120, 4095, 315);
    nommer_et_placer(Label1, u"Label1", 5640, 120, 615, 375);
    nommer_et_placer(Combo_clef, u"Combo_clef", 6240, 120, 1935, 315);
    nommer_et_placer(Text1, u"Text1", 120, 720, 7935, 2295);
    nommer_et_placer(c_valid, u"c_valid", 240, 3120, 975, 495);
    nommer_et_placer(copy_press, u"copy_press", 1440, 3120, 2415, 495);
    nommer_et_placer(Command4, u"Command4", 5520, 3120, 2295, 375);
    nommer_et_placer(c_synchro, u"c_synchro", 120, 3720, 3375, 495);
    nommer_et_placer(sync_clef, u"sync_clef", 3600, 3720, 3015, 495);
    nommer_et_placer(quitter, u"quitter", 6840, 3720, 1215, 495);
    nommer_et_placer(Label8, u"Label8", 240, 4440, 855, 375);

    c_valid->setEnabled(false);
    copy_press->setEnabled(false);

    QWidget *ordre[] = {ComboCommande, Text1,     c_valid,    quitter,  copy_press,
                        Command4,      c_synchro, Combo_clef, sync_clef};
    for (std::size_t i = 1; i < std::size(ordre); ++i)
        setTabOrder(ordre[i - 1], ordre[i]);

    connect(c_valid, &QPushButton::clicked, this, &Form1::c_valid_click);
    connect(copy_press, &QPushButton::clicked, this, &Form1::copy_press_click);
    connect(Command4, &QPushButton::clicked, this, [this] {
        // Leaves without writing the keys back: clefs.dat stays as last loaded.
        m_fini = true;
        m_fin();
    });
    connect(c_synchro, &QPushButton::clicked, this, &Form1::c_synchro_click);
    connect(sync_clef, &QPushButton::clicked, this, &Form1::sync_clef_click);
    connect(quitter, &QPushButton::clicked, this, &QWidget::close);

    ajuster_boutons(this);
    setFinProgramme({});
    setChoixFichier({});
    Form_Load();
}

void Form1::setFinProgramme(FinProgramme fin)
{
    m_fin = fin ? std::move(fin) : FinProgramme([] { QCoreApplication::exit(0); });
}

void Form1::setChoixFichier(ChoixFichier choix)
{
    if (choix) {
        m_choix = std::move(choix);
        return;
    }
    m_choix = [this](const QString &titre, const QString &dossier, const QString &filtre) {
        return QFileDialog::getOpenFileName(this, titre, dossier, filtre);
    };
}

QString Form1::fichier(const char16_t *name) const
{
    return m_rep_appli + QString::fromUtf16(name);
}

void Form1::Form_Load()
{
    m_pas_de_clef = false;
    ComboCommande->clear();
    Combo_clef->clear();
    ini_clefs();
    ini_combo();
    if (m_pas_de_clef) {
        c_valid->setEnabled(false);
        copy_press->setEnabled(false);
        return;
    }
    ComboCommande->setCurrentIndex(ComboCommande->count() > 0 ? 0 : -1);
    Combo_clef->setCurrentIndex(0);
    // Without a command there is nothing to compose.
    c_valid->setEnabled(ComboCommande->count() > 0);
}

void Form1::ini_clefs()
{
    const auto lus = m_table.charger(fichier(u"clefs.dat"));
    if (lus) {
        Label8->setText(QString::number(*lus + 1));
        ini_clefs2();
    }
    // A key file without any key left is as good as none.
    if (!lus || !m_table.a_des_clefs()) {
        platform::afficher_message(
            QStringLiteral("pas de fichier clef\n synchronisez un fichier clefs"));
        m_pas_de_clef = true;
    }
}

void Form1::ini_clefs2() { Combo_clef->addItems(m_table.entrees()); }

void Form1::ini_combo()
{
    const auto lignes = fichier_commandes::lire(fichier(u"filebat.dat"));
    if (!lignes) {
        platform::afficher_message(QStringLiteral(
            "pas de fichier de commande \n faites une sychronisation des fichiers de commande"));
        return;
    }
    ComboCommande->addItems(*lignes);
    Label8->setText(QString::number(lignes->size() + 1));
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_fini || Form_Unload())
        event->accept();
    else
        event->ignore();
}

bool Form1::Form_Unload()
{
    // Keys used in this run that stay in the file would be offered again, and
    // the server would refuse them: the user must know, and may try again or
    // leave through "Quitter sans effacer les clefs".
    QString erreur;
    if (!m_table.ecrire(fichier(u"clefs.dat"), &erreur)) {
        platform::afficher_message(kEchecEcritureClefs.arg(erreur));
        return false;
    }
    m_fini = true;
    m_fin();
    return true;
}

int Form1::position_clef_choisie() const
{
    const int position = Combo_clef->currentIndex();
    // Text typed into the box is not an entry of the list.
    if (position < 0 || Combo_clef->currentText() != Combo_clef->itemText(position))
        return -1;
    return position;
}

void Form1::c_valid_click()
{
    const int position = position_clef_choisie();
    // An empty entry is a key already used: the server would refuse the mail.
    if (position < 0 || Combo_clef->itemText(position).isEmpty()) {
        platform::afficher_message(QStringLiteral("choisissez une clef"));
        return;
    }
    Text1->setPlainText(
        compose_message_commande(ComboCommande->currentText(), Combo_clef->itemText(position)));
    m_index_clef = position;
    copy_press->setEnabled(true);
}

QString Form1::Text1_texte() const
{
    // The box keeps its lines apart as blocks; the text it gives has CR LF ends.
    return Text1->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

void Form1::copy_press_click()
{
    platform::afficher_message(QStringLiteral("la clé choisie va être supprimé de la liste"));
    m_table.effacer_position(m_index_clef);
    Combo_clef->clear();
    ini_clefs2();
    Combo_clef->setCurrentIndex(-1);

    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    Text1->selectAll();
    clipboard->setText(Text1_texte());
}

QString Form1::filtreQt(const QString &filtre)
{
    // "description | pattern" in the Windows dialog, which shows the description
    // only; Qt shows the whole filter, so the patterns go once, in brackets.
    const qsizetype bar = filtre.indexOf(u'|');
    if (bar < 0)
        return filtre.simplified() + QStringLiteral(" (") + filtre.simplified() + u')';
    return filtre.left(bar).simplified() + QStringLiteral(" (") + filtre.mid(bar + 1).simplified() +
           u')';
}

void Form1::sync_clef_click()
{
    const QString choisi = m_choix(kTitreChoixClefs, m_rep_appli, filtreQt(kFiltreClefs));
    if (choisi.isEmpty())
        return;
    // The chosen file replaces the tool's own in one step; choosing the tool's
    // own file leaves it as it is. A failed copy leaves the old keys in place and
    // in the list, and the user must know the new ones are not in.
    if (!platform::copier_remplacer(choisi, fichier(u"clefs.dat"))) {
        platform::afficher_message(kEchecSynchroClefs);
        return;
    }
    ini_clefs();
    Form_Load();
}

void Form1::c_synchro_click()
{
    if (!m_form_repertoire) {
        m_form_repertoire = new form_repertoire(m_rep_appli, this);
        connect(m_form_repertoire, &form_repertoire::commandesChoisies, this,
                &Form1::commandes_ajoutees);
    } else if (!m_form_repertoire->isVisible()) {
        m_form_repertoire->Form_Load();
    }
    m_form_repertoire->show();
    m_form_repertoire->raise();
    m_form_repertoire->activateWindow();
    Form_Load();
}

void Form1::commandes_ajoutees(const QStringList &noms)
{
    ComboCommande->addItems(noms);
    c_valid->setEnabled(!m_pas_de_clef && ComboCommande->count() > 0);
}

} // namespace kestrine
