#pragma once

#include "server/frame/mail_settings.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The mail settings dialog: shown modeless by "Configuration MAIL", hidden again
// by its button, which saves. Closing it by its close box saves nothing.
class conf_mail : public QDialog
{
    Q_OBJECT

public:
    explicit conf_mail(QWidget *parent = nullptr);

    QLineEdit *serveur_mail;
    QLineEdit *serveur_pop;
    QCheckBox *auth_smtp;
    QLineEdit *login;
    QLineEdit *Password;
    QLineEdit *repondre_a;
    QLineEdit *duree;
    QPushButton *enregistre;
    QPushButton *expediteurs; // opens the allowed senders' dialog

    MailSettingsFields fields() const;
    void setFields(const MailSettingsFields &fields);

Q_SIGNALS:
    void enregistrer(); // "Quitter  et enregistrer les modifications"
    void abandon();     // closed without saving

public Q_SLOTS:
    void reject() override;
};
