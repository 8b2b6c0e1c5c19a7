// The string scrambler of stored values (staff records, checksum lines, schedule settings, time
// zone): each character's Windows-1252 code XORed with a repeating 8-character key, written as two
// upper-case hex digits. The codes are those of the Windows programs, so stored values stay readable
// by both.
#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QString>

#include <optional>

namespace v7 {

// The two keys; they differ only in their eighth character.
inline const QString kClaveA = QStringLiteral("#\u00F6*=!?&K");
inline const QString kClaveB = QStringLiteral("#\u00F6*=!?&3");

// Tool versions dated on or before this day scramble with key A, later ones with key B.
inline const QDate kFechaCambioClave{2014, 3, 11};

// The Windows-1252 code of one UTF-16 unit; '?' (0x3F) for anything outside Windows-1252.
unsigned char codigoWindows1252(QChar c);
// Whether every character of text has a Windows-1252 code (a scrambled value can hold it; anything else
// would be stored as "?"). The first character that has none goes to *fuera when given.
bool cabeEnWindows1252(const QString& text, QString* fuera = nullptr);
// The character of a Windows-1252 code (the five unassigned codes map to the same C1 code points,
// as Windows does).
QChar caracterWindows1252(unsigned char code);
// Bytes as Windows-1252 text.
QString textoWindows1252(QByteArrayView bytes);
// Bytes as UTF-8 text when they are valid UTF-8, else as Windows-1252 (files written by older programs).
QString textoUtf8OWindows1252(QByteArrayView bytes);

// Scrambles with the chosen key (true: key A). Pure; the empty text gives the empty text.
QString cifrarConClave(const QString& plain, bool useKeyA);

// Restores a scrambled text with the chosen key (true: key A, false: key B). Any input gives some
// result: a pair that is not hex counts as far as its leading hex digits go (none gives 0), and an
// odd last digit is read alone.
QString DescifrarCadena(const QString& scrambled, bool useKeyA);

// The date of a module version text "<label> - yyyy/mm/dd": the text after the first "-" (the whole
// text when it has none), trimmed, read as a date. Empty when it is not a date.
std::optional<QDate> fechaDeVersion(const QString& versionText);

// The key that a stored VER_V7TOOLS value selects: true for key A (dated on or before the cut-over),
// false for key B. Empty when the value holds no date (also for an empty value: no row).
std::optional<bool> claveParaVersion(const QString& storedVersion);

// Scrambles with the key that the stored VER_V7TOOLS value selects, read on the shared connection.
// When the key cannot be chosen (no row, a value that is not a dated version, the query failing) the
// result is empty, ok is false and errorText says why; nothing is ever scrambled with a guessed key.
QString CifrarCadena(const QString& plain, bool* ok = nullptr, QString* errorText = nullptr);

} // namespace v7
