#pragma once

#include "server/frame/mail_settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The mail settings dialog: shown modeless by "Configuration MAIL", hidden again
// by its button, which saves. Closing it by its close box saves nothing.
// Below, the sign-in: by password, or by OAuth 2.0 with the button that runs
// the sign-in once and the line that says how it goes.
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
    QComboBox *connexion;     // 0 "mot de passe", 1 "OAuth2"
    QPushButton *connexion_oauth2;
    QLabel *etat_oauth2;

    MailSettingsFields fields() const;
    void setFields(const MailSettingsFields &fields);

Q_SIGNALS:
    void enregistrer(); // "Quitter  et enregistrer les modifications"
    void abandon();     // closed without saving
    void demande_connexion_oauth2();

public:
    // The sign-in runs: the button waits; the line shows text (selectable,
    // so that an address can be copied).
    void afficher_oauth2(const QString &text, bool enCours);

public Q_SLOTS:
    void reject() override;
};
