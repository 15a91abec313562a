#pragma once

#include "server/frame/config_expediteurs.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

// Who may command the server: the allowed senders and the authentication the
// receiving mail server must have found. Opened from the mail settings dialog,
// modal over it; its button saves, its close box saves nothing.
class conf_expediteurs : public QDialog
{
    Q_OBJECT

public:
    explicit conf_expediteurs(QWidget *parent = nullptr);

    QLineEdit *autorises;
    QCheckBox *dmarc;
    QLineEdit *serveur_authentification;
    QPushButton *enregistre;

    ReglesExpediteurs regles() const;
    void setRegles(const ReglesExpediteurs &regles);

Q_SIGNALS:
    void enregistrer(); // "Quitter et enregistrer"
};
