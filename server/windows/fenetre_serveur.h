#pragma once

#include <QObject>

#include <memory>

class Form1;
class OutilsOperateur;
class Serveur;
class ConnexionOAuth2;
class conf_expediteurs;
class conf_mail;

// Tramelon's windows over a started server: the main window shows the server's
// fields, its buttons and the settings dialog call the server, closing it shuts
// the server down.
class FenetreServeur : public QObject
{
    Q_OBJECT

public:
    // executable: the preparation tool's file name, copied into client folders.
    explicit FenetreServeur(Serveur &serveur, QObject *parent = nullptr);
    FenetreServeur(Serveur &serveur, const QString &executable, QObject *parent = nullptr);
    ~FenetreServeur() override;

    Form1 &form() { return *m_form; }
    conf_mail &dialogue() { return *m_conf; }
    conf_expediteurs &dialogue_expediteurs() { return *m_expediteurs; }
    OutilsOperateur &outils() { return *m_outils; }

private:
    void configuration_mail_click();
    void enregistre_click();
    void abandon_configuration();
    void expediteurs_click();
    void enregistre_expediteurs_click();
    void cre_clefs_click();
    void connexion_oauth2_click();

    Serveur &m_serveur;
    std::unique_ptr<Form1> m_form;
    conf_mail *m_conf;                      // owned by the main window
    conf_expediteurs *m_expediteurs;        // owned by m_conf
    OutilsOperateur *m_outils;              // owned by this
    ConnexionOAuth2 *m_connexion = nullptr; // the sign-in running, owned by this
};
