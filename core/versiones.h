// Version gates: which module version last worked on the database, and table layout versions.
#pragma once

#include <QString>

namespace v7 {

// "R1.01 [20180907]" -> "R1.01 - 2018/09/07". Trims version in place. Empty with a message when the
// text is not "<label> [yyyymmdd]"; the date characters are not tested for digits.
QString FormatearVersion(QString& version, QString& message);

// Whether the database may be used with this module version ("<label> - yyyy/mm/dd"): the recorded
// date equals the expected one, or is earlier and is raised to it. Raising VER_V7TOOLS past the
// scrambler's cut-over rewrites every staff clave from key A into key B, together with the raise
// (all or nothing). stored receives the recorded version whenever its row was read.
bool ValidarVersionModulo(const QString& key, const QString& expected, QString& message, QString& stored);

// Whether the recorded layout version of schema.table equals expected. stored receives the recorded
// number as decimal text whenever it was read.
bool ValidarVersionTabla(const QString& schema, const QString& table, int expected, QString& message, QString& stored);

} // namespace v7
