#include "server/mail/sequenceur.h"

#include "server/windows/form1.h"
#include "server/frame/journal.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reponse.h"
#include "server/mail/traitement.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPalette>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeWidget>

#include <exception>

namespace {
constexpr int kLongueurMaxText3 = 1000;
const QColor kVert(0, 255, 0);
const QColor kVertClair(128, 255, 128);
constexpr qint32 kPortPop3 = 110;
} // namespace

QString prefixe_statut(qint32 statusType)
{
    switch (statusType) {
    case 1:
        return QStringLiteral("< ");
    case 2:
        return QStringLiteral("> ");
    case 4:
        return QStringLiteral("# ");
    case 8:
        return QStringLiteral("! ");
    default:
        return QStringLiteral("? ");
    }
}

Sequenceur::Sequenceur(ServerState &state, Form1 &form, Pop3Session &session,
                       Traitement &traitement, Reponse &reponse, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_form(form)
    , m_session(session)
    , m_traitement(traitement)
    , m_reponse(reponse)
{
    connect(m_form.T_sequenceur, &QTimer::timeout, this, &Sequenceur::tick);
    connect(&m_session, &Pop3Session::Connected, this, &Sequenceur::oSession_Connected);
    connect(&m_session, &Pop3Session::Closed, this, &Sequenceur::oSession_Closed);
    connect(&m_session, &Pop3Session::ErrorPOP3, this, &Sequenceur::oSession_ErrorPOP3);
    connect(&m_session, &Pop3Session::StatusChanged, this, &Sequenceur::oSession_StatusChanged);
}

void Sequenceur::tick()
{
    // A tick that comes while the mail work of an earlier one waits is not counted.
    if (m_occupe)
        return;
    m_occupe = true;
    const auto libere = qScopeGuard([this] { m_occupe = false; });

    m_state.etape_sequenceur = qint16(m_state.etape_sequenceur + 1);
    m_form.Label14->setText(QString::number(m_state.etape_sequenceur));
    try {
        etape(m_state.etape_sequenceur);
    } catch (const std::exception &e) {
        // Nothing that goes wrong with one mail may stop the polling.
        erreur(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        erreur(QStringLiteral("erreur inattendue pendant le cycle"));
    }
}

void Sequenceur::etape(qint16 n)
{
    switch (n) {
    case 1:
        efface_champs();
        m_form.Text5->update();
        return;
    case 2:
        m_form.setLamp(kVert);
        QApplication::processEvents();
        connection();
        return;
    case 3:
        m_traitement.traite_message();
        m_form.Text2->update();
        return;
    case 6:
        ferme_session();
        QApplication::processEvents();
        m_form.setLamp(m_form.palette().color(QPalette::Button));
        return;
    case 8:
        if (m_state.reponse_a_envoyer) {
            m_reponse.sendmail2();
            m_state.reponse_a_envoyer = false;
            m_form.setLamp(kVertClair);
        }
        return;
    case 9:
        m_form.setLamp(m_form.palette().color(QPalette::Button));
        return;
    default:
        if (n >= m_state.duree_cycle)
            m_state.etape_sequenceur = 0;
        return;
    }
}

void Sequenceur::connection()
{
    m_session.Open(m_state.nom_serveur_pop, kPortPop3, m_state.login_pop, m_state.pass_pop);
}

void Sequenceur::remplit_liste()
{
    m_session.RefreshList();
    m_form.Label6->setText(QString::number(m_session.MailboxFigure1()));
    m_form.Label7->setText(QString::number(m_session.MailboxFigure2()));
    m_form.lvwmessages->clear();
    const QList<Pop3MessageInfo> list = m_session.MessageList();
    for (const Pop3MessageInfo &info : list) {
        auto *item = new QTreeWidgetItem(m_form.lvwmessages);
        item->setText(0, QString::number(info.MsgNumber));
        item->setText(1, QString::number(info.MsgSize));
        item->setText(2, info.Uidl);
    }
    if (m_form.lvwmessages->topLevelItemCount() > 0)
        m_form.lvwmessages->setCurrentItem(m_form.lvwmessages->topLevelItem(0));
}

void Sequenceur::raz_affichage()
{
    m_form.Label5->setText(QStringLiteral("0"));
    m_form.Label6->setText(QStringLiteral("0"));
    m_form.lvwmessages->clear();
}

void Sequenceur::efface_champs()
{
    m_form.txtstatus->clear();
    m_form.Text2->clear();
    m_form.Text5->clear();
    m_state.reponse_a_envoyer = false;
}

void Sequenceur::ferme_session()
{
    m_session.Close();
}

void Sequenceur::erreur(const QString &text)
{
    information(QStringLiteral("Erreur : ") + text);
}

void Sequenceur::information(const QString &text)
{
    if (m_form.Text3->toPlainText().size() > kLongueurMaxText3)
        m_form.Text3->clear();
    Form1::ajouter(m_form.Text3, journal::horodatage() + text + QStringLiteral("\r\n"));
}

void Sequenceur::oSession_Connected()
{
    m_form.txtstatus->clear();
    remplit_liste();
    m_form.Label4->setText(QStringLiteral("Connect"));
}

void Sequenceur::oSession_Closed()
{
    raz_affichage();
    m_form.Label4->setText(QStringLiteral("Disconnect"));
}

void Sequenceur::oSession_ErrorPOP3(qint16 Number, const QString &Description)
{
    information(QStringLiteral("Error ") + QString::number(Number) + QStringLiteral(": ")
                + Description);
    if (m_session.State() != Pop3Session::kStateTransaction)
        raz_affichage();
}

void Sequenceur::oSession_StatusChanged(const QString &Status, qint32 StatusType)
{
    Form1::ajouter(m_form.txtstatus, prefixe_statut(StatusType) + Status + QStringLiteral("\r\n"));
}
