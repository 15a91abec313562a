#pragma once

#include "server/frame/affichage.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// Tramelon's main window. Beside the lamp, the step counter and the six buttons
// it holds the working fields, outside the fixed client area: they show the
// server's fields (the mail under processing, the logs, the mailbox list).
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // Visible part.
    QLabel *Label1;  // activity lamp
    QLabel *Label14; // sequencer step
    QPushButton *configuration_mail;
    QPushButton *repertoire;
    QPushButton *cre_client;
    QPushButton *cre_clefs;
    QPushButton *end;

    // Working fields, never seen.
    QLabel *Label4;        // session state
    QPlainTextEdit *Text2; // SMTP log
    QLabel *Label5;
    QLabel *Label6;            // message count
    QLabel *Label7;            // mailbox size
    QLabel *Label8;            // sender of the mail under processing
    QLabel *Label9;            // its subject
    QLabel *Label10;           // command
    QLabel *Label11;           // code
    QLabel *Label12;           // launch result
    QPlainTextEdit *Text3;     // dated message log
    QPlainTextEdit *txtstatus; // POP3 status log
    QPlainTextEdit *Text5;     // body of the mail under processing
    QTreeWidget *lvwmessages;  // ID, Size, UIDL

    // Shows the server's fields from now on.
    void lier(const Affichage &affichage);
    void setLamp(Lampe couleur);
    // Appends text at the end of a log box.
    static void ajouter(QPlainTextEdit *box, const QString &text);

Q_SIGNALS:
    // The window is being closed, whatever the cause: the server shuts down.
    void fermeture();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void montrer(const ChampsFenetre &champs, Champ champ);
    void montrer_texte(Champ champ, const QString &texte);
    QPlainTextEdit *boite(Champ champ) const; // the log and body boxes
};
