#pragma once

namespace kestrine {

class Form1;

// The end of the desktop session, SIGTERM, SIGINT and SIGHUP close the window as
// "Quitter" does: the keys struck in this run are written back, so a key already
// put into a mail is never offered again. "Quitter sans effacer les clefs"
// remains the only way out that keeps them.
void quitter_en_fin_de_session(Form1 &form);

} // namespace kestrine
