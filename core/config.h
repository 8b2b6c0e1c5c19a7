// The configuration table config_veliro.configuracion (descripcion, valor).
#pragma once

#include "platform/db.h"

#include <QString>

#include <memory>
#include <optional>

namespace v7 {

// The query whose recordset ObtenerValorConfiguracion looks keys up in.
inline const QString kConsultaConfiguracion =
    QStringLiteral("SELECT descripcion, valor FROM config_veliro.configuracion");

// The value of key in an open recordset of kConsultaConfiguracion; empty when the key has no row
// or a NULL value. The recordset shows every row again afterwards.
QString ObtenerValorConfiguracion(const QString& key, db::Recordset& rs);

// Upserts key = value on the shared connection (update first, insert when nothing was updated).
// value gets its backslashes doubled (the caller's variable keeps that form). False when nothing
// was written (closed connection or a failing statement; errorText, when given, says why).
bool GuardarConfiguracion(QString& value, const QString& key, QString* errorText = nullptr);

// The upsert itself, on the given connection, as both programs run it: the value's backslashes doubled
// (stored as given, through E'…'), quotes doubled, blanks trimmed; the key unchanged. The update and the
// insert hold a transaction-level advisory lock (kBloqueoConfiguracion) in their own transaction, or in
// the caller's when one is open, so concurrent writers of a missing key leave one row. False when the
// connection is not open or a statement failed (errorText says why).
bool guardarValorConfiguracion(const std::shared_ptr<db::Connection>& conexion, const QString& value,
                               const QString& key, QString* errorText = nullptr);

// The statement that takes that lock until the end of the transaction.
inline const QString kBloqueoConfiguracion =
    QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('config_veliro.configuracion'))");

// Takes that lock for a read-then-write of the table: in the caller's open transaction, else in one it
// opens into propia (the caller commits it). False with e and the failed statement when it could not.
bool bloquearConfiguracion(const std::shared_ptr<db::Connection>& conexion, std::optional<db::Transaccion>& propia,
                           db::DbError& e, QString& sentencia);

// The values CargarConfiguracion loads.
struct Configuracion {
    bool Sabados = false;
    bool Domingos = false;
    QString Estanteria, Vigencia;
    int CorreoNumero = 0;
    QString CorreoTexto;
    QString Impresora, ImpresoraPort;
    bool TktPExterno = false, TktPInterno = false, TktDExterno = false, TktDInterno = false, TktMulta = false;
    QString Institucion, Biblioteca;
    int BiblioActiva = 0;
    QString ServerMail, MailVencidos, MailMultas;
    bool Word = false;
    int WordReporte = 0;
    int WordFuenteTamano = 0;
    QString WordFuenteNombre;
    QString ArchivosCompartidos;
    QString AutoUpdate = QStringLiteral(" ");
    QString BetaUpdate = QStringLiteral(" ");
    QString Departamento, Institucion2, XmlEtiquetasLibros, CatalogoLibrosDefault;
};

// The loaded configuration (process-wide, as the maintenance window reads it).
Configuracion& configuracion();

// Loads every key, the shared connection winning over the secondary one. A key that is absent or
// does not convert takes its type's default instead of stopping the load. False (with errorText)
// when neither connection could give the table.
bool CargarConfiguracion(QString* errorText = nullptr);

} // namespace v7
