// Report definitions of the client modules in schema reportes: the list, reading definition files,
// the text as it is stored, saving and deleting, and placing a new definition (module, section, name).
#pragma once

#include "core/sql.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace v7 {

// The definitions with their module and section; definitions whose module or section row is
// missing are not listed.
inline const QString kConsultaReportes =
    QStringLiteral("SELECT r.idreporte, m.modulo, s.seccion, r.nombre, r.reporte, r.idmodulo, r.idseccion "
                   "FROM (reportes.reporte r INNER JOIN reportes.modulos m ON r.idmodulo = m.idmodulo) "
                   "INNER JOIN reportes.seccion s ON s.idseccion = r.idseccion ORDER BY m.modulo, r.idreporte");

// The modules a definition may be placed in (the reading-room, administration and shared modules
// have no reports of their own).
inline const QString kConsultaModulosReporte =
    QStringLiteral("SELECT idmodulo, modulo FROM reportes.modulos WHERE (modulo <> 'Consulta' AND  modulo <> "
                   "'Administración' AND modulo <> 'Compartido') ORDER BY 1 ");

// The sections of one module.
QString consultaSecciones(qint64 idModulo);

// The three lists through the SQL layer: a recordset, or nullptr with its error text.
RecordsetPtr ConsultarReportes(QString& errorText);
RecordsetPtr ConsultarModulosReporte(QString& errorText);
RecordsetPtr ConsultarSecciones(qint64 idModulo, QString& errorText);

// The longest name a definition may have (reportes.reporte.nombre is character varying(255)).
inline constexpr int kMaxNombreReporte = 255;
// The largest definition file that is read.
inline constexpr qint64 kLimiteArchivoReporte = 20 * 1024 * 1024;

// Why a name cannot be stored as it is (too long), in Spanish; empty when it can.
QString motivoNombreReporte(const QString& name);
// Why a definition's text cannot be stored (it holds a NUL character, which the server refuses), in
// Spanish; empty when it can.
QString motivoTextoReporte(const QString& text);

// A definition file the administrator chose, read as decodificarArchivoTexto() reads it: a regular file (never
// a FIFO or a device, and the open does not wait) of at most kLimiteArchivoReporte bytes with no NUL
// character in its text. A link is refused like at every other name the kit is given (the message asks for
// the file itself), and so is a path through a link in a folder that another user can change.
struct ArchivoReporte {
    QString texto;
    QString motivo; // why it was not read, in Spanish; empty on success
    bool ok() const { return motivo.isEmpty(); }
};
ArchivoReporte leerArchivoReporte(const QString& ruta);

// Where a new definition goes and its name; zero ids and an empty name mean "not placed".
struct UbicacionReporte {
    qint64 IdModuloReporte = 0;
    qint64 IdSeccionReporte = 0;
    QString NombreReporte;

    bool completa() const { return IdModuloReporte != 0 && IdSeccionReporte != 0 && !NombreReporte.isEmpty(); }
};

// The text of a definition or template file: by its byte-order mark (UTF-8, UTF-16), else by the
// encoding its XML declaration names, else UTF-8, and Windows-1252 for files that are not valid
// UTF-8 (the older clients wrote those). The byte-order mark is not part of the text.
QString decodificarArchivoTexto(const QByteArray& bytes);

// The text as a definition is stored: without byte-order marks, trimmed, and with no line break
// between a leading XML declaration and the root element. Applying it again changes nothing.
QString prepararTextoReporte(const QString& text);

// Inserts a definition at its placement, version 1. False with the SQL layer's error text.
bool InsertarReporte(const UbicacionReporte& ubicacion, const QString& texto, QString& errorText);
// Replaces the text of definition idReporte (its name, module and section stay).
bool ActualizarReporte(const QString& idReporte, const QString& texto, QString& errorText);
bool EliminarReporte(const QString& idReporte, QString& errorText);

// Whether the locale would read the name as a number (123, 1,5, 1.234,5, -2).
bool esNombreNumerico(const QString& name);

// á é í ó ú and Á É Í Ó Ú as their plain vowels; every other character unchanged.
QString quitarAcentos(const QString& text);

// The definition that already uses a name, compared without regard to case (on the server, so
// both sides fold the same way).
struct ReporteExistente {
    QString modulo;
    QString seccion;
};
struct BusquedaNombre {
    bool ok = false;                       // false: the query failed (errorText)
    std::optional<ReporteExistente> usado; // the definition using the name, if any
    QString errorText;
};
BusquedaNombre BuscarNombreReporte(const QString& name);

} // namespace v7
