#pragma once

#include "prep/key_table.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kestrine {

class form_repertoire;

// Kestrine's main window: the commands of filebat.dat and the unused keys of
// clefs.dat, the composition of the command mail, its copy to the clipboard and
// the two synchronisations.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // Ends the program; the real one leaves the event loop, tests only record it.
    using FinProgramme = std::function<void()>;
    // The file-open dialog: title, initial folder, Qt filter; the chosen file or
    // an empty text when the user cancelled.
    using ChoixFichier =
        std::function<QString(const QString &titre, const QString &dossier, const QString &filtre)>;

    // Loads both lists from rep_appli (Form_Load) before returning.
    explicit Form1(const QString &rep_appli, QWidget *parent = nullptr);

    void setFinProgramme(FinProgramme fin);
    void setChoixFichier(ChoixFichier choix);

    void Form_Load();
    void ini_clefs();
    void ini_clefs2();
    void ini_combo();

    // The text of Text1 with CR LF line ends, as the text box holds it.
    QString Text1_texte() const;

    const QString &rep_appli() const { return m_rep_appli; }
    const QStringList &tab_clefs() const { return m_table.tab_clefs(); }
    int nb_clefs() const { return m_table.nb_clefs(); }
    int index_clef() const { return m_index_clef; }
    bool pas_de_clef() const { return m_pas_de_clef; }

    static QString filtreQt(const QString &filtre);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Writes the keys back and ends the program; false, with the window left
    // open, when they could not be written.
    bool Form_Unload();
    void c_valid_click();
    void copy_press_click();
    void sync_clef_click();
    void c_synchro_click();
    void commandes_ajoutees(const QStringList &noms);
    int position_clef_choisie() const;
    QString fichier(const char16_t *name) const;

    QString m_rep_appli;
    TableClefs m_table;
    int m_index_clef = 0;
    bool m_pas_de_clef = false;
    bool m_fini = false;
    FinProgramme m_fin;
    ChoixFichier m_choix;
    QPointer<form_repertoire> m_form_repertoire;

    QLabel *Label3;
    QComboBox *ComboCommande;
    QLabel *Label1;
    QComboBox *Combo_clef;
    QPlainTextEdit *Text1;
    QPushButton *c_valid;
    QPushButton *copy_press;
    QPushButton *Command4;
    QPushButton *c_synchro;
    QPushButton *sync_clef;
    QPushButton *quitter;
    QLabel *Label8;
};

} // namespace kestrine
