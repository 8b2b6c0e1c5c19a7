// File tests, the shared work-files check and the sort keys of report-style lists.
#pragma once

#include "platform/db.h"

#include <QString>

#include <optional>

namespace v7 {

// True when a file (not a folder) exists at path.
bool ExisteArchivo(const QString& path);

// Sets HayArchivosCompartidos: true when the configuration table has an ARCHIVOSCOMPARTIDOS row,
// whatever its value. False (flag unchanged, errorText set) when the query could not run.
bool VerificarArchivosCompartidos(QString* errorText = nullptr);

// The sort key of a number: at least eight digits, zero-padded, rounded to a whole number
// ("00000000"). A text that is not a number is returned unchanged.
QString llaveNumerica(const QString& value);
// The sort key of a date or timestamp text: "yyyyMMdd HH:mm:ss"; empty when it is not a date.
QString llaveFecha(const QString& value);
// The sort key of a field by its type and name, as the list's hidden tag; empty for types without
// one (and for NULL).
QString llaveCampo(const db::Column& column, const std::optional<QString>& value);

} // namespace v7
