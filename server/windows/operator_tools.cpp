#include "server/windows/operator_tools.h"

#include "server/keys/provisioning.h"
#include "server/windows/form1.h"
#include "server/windows/form_repertoire.h"
#include "server/windows/form_repertoire_2.h"

#include <QPushButton>

OutilsOperateur::OutilsOperateur(ServerState &state, Form1 &form, QObject *parent)
    : OutilsOperateur(state, form, provisioning::executable_defaut(), parent)
{
}

OutilsOperateur::OutilsOperateur(ServerState &state, Form1 &form, const QString &executable,
                                 QObject *parent)
    : QObject(parent), m_state(state), m_form(form), m_executable(executable)
{
    connect(m_form.repertoire, &QPushButton::clicked, this, &OutilsOperateur::repertoire_click);
    connect(m_form.cre_client, &QPushButton::clicked, this, &OutilsOperateur::cre_client_click);
}

void OutilsOperateur::repertoire_click()
{
    if (m_repertoire)
        return;
    // Owned by the main window and gone once closed: each opening starts afresh.
    m_repertoire = new form_repertoire(m_state, &m_form);
    m_repertoire->setAttribute(Qt::WA_DeleteOnClose);
    // Enabled again however the window closes, or the operator would have to
    // restart the server to choose once more.
    connect(m_repertoire, &form_repertoire::fermee, this, [this] {
        m_repertoire = nullptr;
        m_form.repertoire->setEnabled(true);
    });
    m_repertoire->show();
    m_repertoire->Form_Load();
    m_form.repertoire->setEnabled(false);
}

void OutilsOperateur::cre_client_click()
{
    if (m_client)
        return;
    m_client = new form_repertoire_2(m_state, m_executable, &m_form);
    m_client->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_client, &form_repertoire_2::fermee, this, [this] {
        m_client = nullptr;
        m_form.cre_client->setEnabled(true);
    });
    m_client->show();
    m_client->Form_Load();
    m_form.cre_client->setEnabled(false);
}

form_repertoire *OutilsOperateur::fenetreRepertoire() const { return m_repertoire; }

form_repertoire_2 *OutilsOperateur::fenetreClient() const { return m_client; }
