#include "server/windows/form1.h"

#include "platform/widgets/twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>

namespace {

template <typename W, typename... Args>
W *make(QWidget *parent, const char *name, int l, int t, int w, int h, Args &&...args)
{
    auto *widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    placer(widget, l, t, w, h);
    return widget;
}

QPlainTextEdit *textBox(QWidget *parent, const char *name, int l, int t, int w, int h,
                        const QString &text)
{
    auto *box = make<QPlainTextEdit>(parent, name, l, t, w, h);
    box->setPlainText(text);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return box;
}

} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tramelon"));
    setFixedSize(twips(5220), twips(2340));

    Label1 = make<QLabel>(this, "Label1", 120, 120, 255, 255);
    Label1->setFrameShape(QFrame::Box);
    Label1->setAutoFillBackground(true);
    Label14 = make<QLabel>(this, "Label14", 480, 120, 495, 255);

    const QFont buttonFont = police_formulaire();
    auto button = [&](const char *name, const QString &caption, int l, int t) {
        auto *b = make<QPushButton>(this, name, l, t, 2415, 615, caption);
        b->setFont(buttonFont);
        return b;
    };
    configuration_mail =
        button("configuration_mail", QStringLiteral("Configuration MAIL"), 2640, 120);
    repertoire = button("repertoire", QStringLiteral("Choix répertoire actions"), 120, 840);
    cre_client =
        button("cre_client", QStringLiteral("Création répertoire preparation mails"), 2640, 840);
    cre_clefs = button("cre_clefs", QStringLiteral("Création d'un fichier clefs"), 120, 1560);
    end = button("end", QStringLiteral("Fin"), 2640, 1560);

    Label4 = make<QLabel>(this, "Label4", 6360, 120, 1455, 375, QStringLiteral("Label4"));
    Text2 = textBox(this, "Text2", 6360, 480, 1815, 1575, QStringLiteral("Text2"));
    Label6 = make<QLabel>(this, "Label6", 0, 2640, 1215, 375, QStringLiteral("Label6"));
    Label7 = make<QLabel>(this, "Label7", 1320, 2640, 1575, 375, QStringLiteral("Label7"));
    Label5 = make<QLabel>(this, "Label5", 120, 3120, 2895, 255, QStringLiteral("Label5"));
    Label8 = make<QLabel>(this, "Label8", 3000, 3360, 3135, 375, QStringLiteral("Label8"));
    Label9 = make<QLabel>(this, "Label9", 0, 3480, 2775, 375, QStringLiteral("Label9"));
    Label10 = make<QLabel>(this, "Label10", 0, 3840, 1695, 375, QStringLiteral("Label10"));
    Label11 = make<QLabel>(this, "Label11", 3600, 3720, 2295, 375, QStringLiteral("Label11"));
    Label12 = make<QLabel>(this, "Label12", 1680, 3720, 2055, 495, QStringLiteral("Label12"));
    Text3 = textBox(this, "Text3", 120, 4320, 6735, 1455, QStringLiteral("  \n"));
    txtstatus = textBox(this, "txtstatus", 0, 5880, 3015, 1815, QStringLiteral("Text1"));
    QFont courier(QStringLiteral("Courier New"));
    courier.setPointSizeF(8.25);
    txtstatus->setFont(courier);
    Text5 = textBox(this, "Text5", 3360, 5880, 3375, 1935, QStringLiteral("Text1"));
    lvwmessages = make<QTreeWidget>(this, "lvwmessages", 120, 8040, 7815, 1215);
    lvwmessages->setHeaderLabels(
        {QStringLiteral("ID"), QStringLiteral("Size"), QStringLiteral("UIDL")});
    lvwmessages->setRootIsDecorated(false);

    // The status log always shows its last lines.
    connect(txtstatus, &QPlainTextEdit::textChanged, this, [this] {
        txtstatus->verticalScrollBar()->setValue(txtstatus->verticalScrollBar()->maximum());
        QTextCursor cursor = txtstatus->textCursor();
        cursor.movePosition(QTextCursor::End);
        txtstatus->setTextCursor(cursor);
    });

    setTabOrder(configuration_mail, repertoire);
    setTabOrder(repertoire, cre_client);
    setTabOrder(cre_client, cre_clefs);
    setTabOrder(cre_clefs, end);
    ajuster_boutons(this);
}

void Form1::lier(const Affichage &affichage)
{
    const ChampsFenetre &champs = affichage.champs();
    for (Champ champ :
         {Champ::Label1, Champ::Label4, Champ::Label5, Champ::Label6, Champ::Label7, Champ::Label8,
          Champ::Label9, Champ::Label10, Champ::Label11, Champ::Label12, Champ::Label14,
          Champ::Text2, Champ::Text3, Champ::txtstatus, Champ::Text5, Champ::lvwmessages})
        montrer(champs, champ);
    montrer(champs, Champ::sonnette);
    connect(&affichage, &Affichage::modifie, this,
            [this, &affichage](Champ champ) { montrer(affichage.champs(), champ); });
    connect(&affichage, &Affichage::ajoute, this, [this](Champ champ, const QString &texte) {
        if (QPlainTextEdit *box = boite(champ))
            ajouter(box, texte);
    });
}

void Form1::montrer(const ChampsFenetre &c, Champ champ)
{
    switch (champ) {
    case Champ::Label1:
        setLamp(c.Label1);
        return;
    case Champ::lvwmessages:
        lvwmessages->clear();
        for (const LigneBoite &ligne : c.lvwmessages) {
            auto *item = new QTreeWidgetItem(lvwmessages);
            item->setText(0, QString::number(ligne.numero));
            item->setText(1, QString::number(ligne.taille));
            item->setText(2, ligne.uidl);
        }
        if (lvwmessages->topLevelItemCount() > 0)
            lvwmessages->setCurrentItem(lvwmessages->topLevelItem(0));
        return;
    case Champ::Label4:
        return Label4->setText(c.Label4);
    case Champ::Label5:
        return Label5->setText(c.Label5);
    case Champ::Label6:
        return Label6->setText(c.Label6);
    case Champ::Label7:
        return Label7->setText(c.Label7);
    case Champ::Label8:
        return Label8->setText(c.Label8);
    case Champ::Label9:
        return Label9->setText(c.Label9);
    case Champ::Label10:
        return Label10->setText(c.Label10);
    case Champ::Label11:
        return Label11->setText(c.Label11);
    case Champ::Label12:
        return Label12->setText(c.Label12);
    case Champ::Label14:
        return Label14->setText(c.Label14);
    case Champ::Text2:
        return montrer_texte(champ, c.Text2);
    case Champ::Text3:
        return montrer_texte(champ, c.Text3);
    case Champ::txtstatus:
        return montrer_texte(champ, c.txtstatus);
    case Champ::Text5:
        return montrer_texte(champ, c.Text5);
    case Champ::sonnette:
    case Champ::releve: {
        // Small on purpose: the lamp tells, on hovering, how the polling goes
        // (spaced out after failed logins, say) and whether the doorbell rings.
        QStringList lignes{c.releve, c.sonnette};
        lignes.removeAll(QString());
        return Label1->setToolTip(lignes.join(u'\n'));
    }
    }
}

void Form1::montrer_texte(Champ champ, const QString &texte)
{
    QPlainTextEdit *box = boite(champ);
    box->clear();
    ajouter(box, texte);
}

QPlainTextEdit *Form1::boite(Champ champ) const
{
    switch (champ) {
    case Champ::Text2:
        return Text2;
    case Champ::Text3:
        return Text3;
    case Champ::txtstatus:
        return txtstatus;
    case Champ::Text5:
        return Text5;
    default:
        return nullptr;
    }
}

void Form1::setLamp(Lampe couleur)
{
    QColor colour = palette().color(QPalette::Button);
    if (couleur == Lampe::Verte)
        colour = QColor(0, 255, 0);
    else if (couleur == Lampe::VertClair)
        colour = QColor(128, 255, 128);
    QPalette p = Label1->palette();
    p.setColor(QPalette::Window, colour);
    Label1->setPalette(p);
}

void Form1::ajouter(QPlainTextEdit *box, const QString &text)
{
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::End);
    // The boxes hold one line break where the logs write CR LF.
    cursor.insertText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT fermeture();
}
