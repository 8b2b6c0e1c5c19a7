// Small shared routines for building SQL and reading the catalogue.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace v7 {

// Every single quote doubled.
QString EscaparComillas(const QString& text);

// An SQL identifier, always quoted: "name" with every double quote doubled (role and schema names
// may hold any character, and a quoted name keeps its case).
QString citarIdentificador(const QString& name);
// schema.name with both parts quoted.
QString citarIdentificador(const QString& schema, const QString& name);
// A text as an SQL string literal: '…' with quotes doubled, or E'…' with backslashes doubled too when
// it holds one, so the stored value is the text itself whatever standard_conforming_strings says.
// Unlike FormatearValorSQL it keeps blanks and never gives NULL.
QString citarLiteral(const QString& text);

// The texts as a list of literals for IN (…): 'a', 'b'.
QString listaLiterales(const QStringList& textos);

// Kinds of FormatearValorSQL; any other kind is numeric.
enum TipoValorSQL { kTipoTexto = 2, kTipoFecha = 3, kTipoBooleano = 4, kTipoNumero = 5 };

// The value as an SQL literal of the given kind; "NULL" for null, empty or unconvertible values.
// Text is trimmed, quotes doubled and written E'…' with backslashes doubled, so the stored value
// is the text itself whatever standard_conforming_strings says.
QString FormatearValorSQL(const QVariant& value, int kind);

// Whether schema.table exists (column empty) or has that column. Errors give false.
bool ExisteColumna(const QString& schema, const QString& table, const QString& column = QString());

// The server's clock through the secondary connection: raw true gives date and time, else "yyyy-mm-dd".
// ok is false when the query could not run (the caller reports it).
QString FechaServidor(bool raw, bool* ok = nullptr);

// The Windows version name the scheduling code routes by; empty on this system.
QString VersionWindows();
// The mapping itself (platform 1 = 9x, 2 = NT).
QString nombreVersionWindows(int platform, int major, int minor);

// Text to Boolean the way stored values are read: TRUE/VERDADERO/FALSE/FALSO in any case, or a
// number (0 is false). ok is false when the text is none of these.
bool textoABooleano(const QString& text, bool* ok = nullptr);
// The locale's words for a Boolean as the system writes them.
QString booleanoATexto(bool value);

} // namespace v7
