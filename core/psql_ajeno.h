// Running psql on a script that the kit did not write in full (an import file, a merge script stored in a
// table that staff may change, the roles file of an archive).
//
// psql runs meta-commands such as \! (a shell), \o (write a file) or \i (read one) with the rights of the
// program that starts it, and this program runs as root. Such a script is therefore checked first (any
// meta-command but the dump's own \restrict pair is refused, naming its line) and then fed to psql on
// stdin after a \restrict line with a fresh random key, so that psql itself refuses every meta-command
// that the check might have missed. COPY data (ended by "\.") loads as before.
//
// The check reads the script as psql's own lexer does (quotes, comments, dollar quoting, parentheses, the
// statements that open COPY data), and refuses what psql versions read differently from one another or
// from the check: a NUL byte, a carriage return inside a line, a quoted string whose end depends on
// standard_conforming_strings, a number run into a word, a function body of BEGIN … END, a COPY naming
// STDIN in any but the plain form, a change of client_encoding to an encoding psql splits differently.
// SQL that changes those settings out of sight (inside a function) is not followed: psql's \restrict
// is what stands then.
//
//     const v7::ScriptAjeno s = v7::prepararScriptAjeno(bytes);
//     if (!s.ok()) { show(s.motivo); return; }
//     command.arguments << "-X" << "-f" << "-";   // psql reads stdin
//     command.entrada = s.entrada;
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

namespace v7 {

struct ScriptAjeno {
    QString motivo;     // why it is refused (Spanish, naming the line); empty when it may run
    int linea = 0;      // the refused line (1-based), when there is one
    QByteArray entrada; // what psql reads on stdin: "\restrict <key>" and the script (line numbers + 1)
    QString clave;      // the fresh key
    bool ok() const { return motivo.isEmpty(); }
};

// One token of a statement, as psql's lexer separates them (comments and blanks are not tokens).
struct TokenSql {
    enum class Tipo {
        Palabra,   // a keyword or a name as written
        Citado,    // a "quoted" name: texto without the quotes, doubled quotes made one
        Cadena,    // a string constant: texto between the quotes, as written (escapes untouched)
        Numero,    // 12, 1.5, 2e3
        Parametro, // $1
        Simbolo,   // any other single character
    };
    Tipo tipo = Tipo::Simbolo;
    QByteArray texto;
    char prefijo = 0; // Cadena: 0 plain, 'E', 'N', 'B', 'X', 'U' (U&'…') or '$' (dollar quoted)
    int linea = 0;    // where it starts (1-based)
};

// One statement of the script, as psql sends it.
struct SentenciaScript {
    int linea = 0;            // the line of its first token
    QVector<TokenSql> tokens; // without the closing ";"
    bool abreDatos = false;   // COPY … FROM STDIN: data lines follow, up to "\."
};

// What a caller's check decides about one statement.
struct RevisionSentencia {
    enum class Accion {
        Ejecutar,
        Omitir,   // left out: psql gets blanks in its place (line numbers stay)
        Rechazar, // the script is refused
    };
    Accion accion = Accion::Ejecutar;
    QString que;   // Rechazar: what the line holds, as in "El archivo contiene <que> en la línea N …"
    int linea = 0; // Rechazar: the line to name (0: the statement's first)
};
using RevisorSentencias = std::function<RevisionSentencia(const SentenciaScript&)>;

// Checks script and prepares psql's input. A pg_dump's own "\restrict <key>" / "\unrestrict <key>" lines are
// taken out (left as empty lines, so psql's line numbers still point at the file's lines, plus one). With a
// revisor, every statement is also handed to it, in order, before psql's input is made.
ScriptAjeno prepararScriptAjeno(const QByteArray& script, const RevisorSentencias& revisor = {});

// Whether psql reads the text of a script the same in client encoding nombre as in UTF-8 (its bytes after
// a byte from 0x80 up are never taken for quotes or backslashes): the server's encodings.
bool codificacionSegura(const QString& nombre);

// Whether the psql program can restrict meta-commands (15.14, 16.10, 17.6, 14.19, 13.22 or later, or 18
// and later): empty when it can, else the Spanish refusal. The answer is read from "psql --version".
QString psqlRestringible(const QString& programaPsql);
// The same decision on a version text such as "psql (PostgreSQL) 15.18 (Debian 15.18-0+deb12u1)".
bool versionConRestrict(const QString& textoVersion);

} // namespace v7
