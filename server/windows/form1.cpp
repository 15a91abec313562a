#include "server/windows/form1.h"

#include "platform/widgets/twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
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

Form1::Form1(QWidget *parent)
    : QWidget(parent)
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
    configuration_mail = button("configuration_mail", QStringLiteral("Configuration MAIL"), 2640, 120);
    repertoire = button("repertoire", QStringLiteral("Choix répertoire actions"), 120, 840);
    cre_client = button("cre_client", QStringLiteral("Création répertoire preparation mails"), 2640, 840);
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
    lvwmessages->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("Size"), QStringLiteral("UIDL")});
    lvwmessages->setRootIsDecorated(false);

    // The status log always shows its last lines.
    connect(txtstatus, &QPlainTextEdit::textChanged, this, [this] {
        txtstatus->verticalScrollBar()->setValue(txtstatus->verticalScrollBar()->maximum());
        QTextCursor cursor = txtstatus->textCursor();
        cursor.movePosition(QTextCursor::End);
        txtstatus->setTextCursor(cursor);
    });

    T_sequenceur = new QTimer(this);
    T_sequenceur->setObjectName(QStringLiteral("T_sequenceur"));
    T_sequenceur->setInterval(1000);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    // The journal follows the turn of a month within a minute.
    Timer1->setInterval(60 * 1000);

    setTabOrder(configuration_mail, repertoire);
    setTabOrder(repertoire, cre_client);
    setTabOrder(cre_client, cre_clefs);
    setTabOrder(cre_clefs, end);
    ajuster_boutons(this);
}

void Form1::setLamp(const QColor &colour)
{
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
