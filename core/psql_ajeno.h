// Running psql on a script that the kit did not write in full (an import file, a merge script stored in a
// table that staff may change, the roles file of an archive).
//
// psql runs meta-commands such as \! (a shell), \o (write a file) or \i (read one) with the rights of the
// program that starts it, and this program runs as root. Such a script is therefore checked first (any
// meta-command but the dump's own \restrict pair is refused, naming its line) and then fed to psql on
// stdin after a \restrict line with a fresh random key, so that psql itself refuses every meta-command
// that the check might have missed. COPY data (ended by "\.") loads as before.
//
//     const v7::ScriptAjeno s = v7::prepararScriptAjeno(bytes);
//     if (!s.ok()) { show(s.motivo); return; }
//     command.arguments << "-X" << "-f" << "-";   // psql reads stdin
//     command.entrada = s.entrada;
#pragma once

#include <QByteArray>
#include <QString>

namespace v7 {

struct ScriptAjeno {
    QString motivo;     // why it is refused (Spanish, naming the line); empty when it may run
    int linea = 0;      // the refused line (1-based), when there is one
    QByteArray entrada; // what psql reads on stdin: "\restrict <key>" and the script (line numbers + 1)
    QString clave;      // the fresh key
    bool ok() const { return motivo.isEmpty(); }
};

// Checks script and prepares psql's input. A pg_dump's own "\restrict <key>" / "\unrestrict <key>" lines are
// taken out (left as empty lines, so psql's line numbers still point at the file's lines, plus one).
ScriptAjeno prepararScriptAjeno(const QByteArray& script);

// Whether the psql program can restrict meta-commands (15.14, 16.10, 17.6, 14.19, 13.22 or later, or 18
// and later): empty when it can, else the Spanish refusal. The answer is read from "psql --version".
QString psqlRestringible(const QString& programaPsql);
// The same decision on a version text such as "psql (PostgreSQL) 15.18 (Debian 15.18-0+deb12u1)".
bool versionConRestrict(const QString& textoVersion);

} // namespace v7
