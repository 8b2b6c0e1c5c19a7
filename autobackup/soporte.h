// V7backup's support routines: one key-store value, the scrambler as this program uses it and its
// version gate. The version formatter and the command scripts are V7Tools's own (core/versiones.h,
// core/scripts.h): this program uses them unchanged.
#pragma once

#include "autobackup/basedatos.h"

#include <QString>

#include <optional>

namespace v7::autobackup {

// This program's version text.
inline const QString kVersionRespaldo = QStringLiteral("R1.00 [20171009]");

// The value's data as text; empty when the value or its key is absent (silently) or when the store
// cannot be read (after a critical notice titled "Error<n>": the description, CR LF, "RegRead, línea 1").
QString LeerRegistro(const QString& fullPath);

// The plain text of a scrambled value, always with key B (the key of every tool version that writes
// the settings file).
QString DescifrarCadena(const QString& scrambled);

// Scrambles with the key the database selects: key A when config_veliro.configuracion does not
// exist; else the date after the first "-" of VER_V7TOOLS chooses key B when it is later than
// 2014/03/11, key A otherwise. nullopt with the conversion error (13) when that row is missing or
// holds no date, or with the query's error; nothing is ever scrambled with a guessed key.
std::optional<QString> CifrarCadena(const QString& plain, Falla& falla);

// The gate of a module version row ("<label> - yyyy/mm/dd"): a missing row is inserted and passes,
// the same date passes, a later given date raises the row and passes, anything else fails.
// stored gets the row's value whenever the row was read.
bool ValidarVersionModulo(const QString& key, const QString& version, QString& errorText, QString& stored);

} // namespace v7::autobackup
