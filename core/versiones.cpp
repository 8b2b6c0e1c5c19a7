#include "core/versiones.h"

#include "core/cifrado.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/db.h"

#include <QVector>

namespace v7 {

using err::kCrLf;

namespace {

const QString kClaveVersionHerramienta = QStringLiteral("VER_V7TOOLS");

QString mensajeImprevisto(qint64 number, const QString& description) {
    return QStringLiteral("Ocurrió un error imprevisto en la detección de la versión del módulo.") + kCrLf +
           QString::number(number) + QStringLiteral(", ") + description;
}

// The date part of a version text as it is compared: after the first "-", trimmed.
QString textoFecha(const QString& version) {
    const qsizetype dash = version.indexOf(QLatin1Char('-'));
    return (dash < 0 ? version : version.mid(dash + 1)).trimmed();
}

QString literal(const QString& text) {
    return FormatearValorSQL(text, kTipoTexto);
}

// The raise of VER_V7TOOLS across the cut-over: every staff clave goes from key A into key B in the
// same transaction as the raise, so a failure leaves both as they were and the next login retries.
// (Raising first and rewriting row by row would leave, after a failure, rows in both forms and a
// raised version that never rewrites them again.)
bool subirConRecifrado(const QString& key, const QString& expected, QString& message) {
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT idanalista, usuario, clave FROM catalogos.analistas"), total, err);
    if (!rs) {
        message = mensajeImprevisto(db::kProviderErrorNumber, err::detalleDelServidor(err));
        return false;
    }
    struct Cambio {
        QString id, clave;
    };
    QVector<Cambio> cambios;
    for (; !rs->eof(); rs->moveNext()) {
        const auto clave = rs->value(QStringLiteral("clave"));
        if (!clave) {
            message =
                mensajeImprevisto(err::kUsoNoValidoNull,
                                  err::descripcion(err::kUsoNoValidoNull) + QStringLiteral(": la clave del analista ") +
                                      rs->text(QStringLiteral("usuario")) + QStringLiteral(" es nula"));
            return false;
        }
        // Key B: the one the version just raised selects.
        cambios.append({rs->text(QStringLiteral("idanalista")), cifrarConClave(DescifrarCadena(*clave, true), false)});
    }
    rs->close();

    const std::shared_ptr<db::Connection> conexion = sesion().ConexionPrincipal;
    if (!conexion || !conexion->isOpen()) {
        message = mensajeImprevisto(err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado));
        return false;
    }
    db::Transaccion transaccion(conexion);
    db::DbError e;
    auto fallar = [&] {
        transaccion.rollback();
        message = mensajeImprevisto(e.number, err::detalleDelServidor(e.description));
        return false;
    };
    if (!transaccion.begin(e)) {
        return fallar();
    }
    // On the transaction's own connection: a reopened one would not hold the transaction.
    qint64 rows = 0;
    if (!conexion->execute(QStringLiteral("UPDATE config_veliro.configuracion SET valor=") + literal(expected) +
                               QStringLiteral(" WHERE descripcion=") + literal(key),
                           rows, e)) {
        return fallar();
    }
    for (const Cambio& c : cambios) {
        if (!conexion->execute(QStringLiteral("UPDATE catalogos.analistas SET clave = ") + citarLiteral(c.clave) +
                                   QStringLiteral(" WHERE idanalista = ") + c.id,
                               rows, e)) {
            return fallar();
        }
    }
    if (!transaccion.commit(e)) {
        return fallar();
    }
    return true;
}

// Whether the session's login reads and writes every staff row: the rewrite across the cut-over must reach
// them all, and the rows of superuser accounts are out of an administrator's or a staff login's reach.
// false when the server cannot tell.
bool alcanzaTodasLasFilas() {
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(
        QStringLiteral("SELECT CASE WHEN NOT c.relrowsecurity OR r.rolsuper OR r.rolbypassrls "
                       "OR pg_catalog.pg_has_role(r.oid, c.relowner, 'USAGE') "
                       "OR coalesce(pg_catalog.pg_has_role(r.oid, to_regrole('v7_super'), 'USAGE'), false) "
                       "THEN 1 ELSE 0 END FROM pg_catalog.pg_class c, pg_catalog.pg_roles r "
                       "WHERE c.oid = to_regclass('catalogos.analistas') AND r.rolname = current_user"),
        total, err);
    return rs && !rs->eof() && rs->text(0) == QLatin1String("1");
}

} // namespace

QString FormatearVersion(QString& version, QString& message) {
    message = QStringLiteral("parametros de entrada de version incorrectos");
    version = version.trimmed();
    const qsizetype open = version.indexOf(QLatin1Char('['));
    if (version.isEmpty() || open < 0) {
        return QString();
    }
    if (open == version.size() - 1) {
        message = QStringLiteral("formato de entrada de version incompatible [---]");
        return QString();
    }
    const qsizetype close = version.indexOf(QLatin1Char(']'));
    if (close != version.size() - 1 || close < open) {
        return QString();
    }
    const QString label = version.left(open).trimmed() + QStringLiteral(" - ");
    const QString date = version.mid(open + 1, close - open - 1);
    if (date.size() != 8) {
        message = QStringLiteral("error al tranformar cadena de fecha de version");
        return QString();
    }
    message.clear();
    return label + date.left(4) + QLatin1Char('/') + date.mid(4, 2) + QLatin1Char('/') + date.mid(6, 2);
}

bool ValidarVersionModulo(const QString& key, const QString& expected, QString& message, QString& stored) {
    if (key.trimmed().isEmpty() || expected.trimmed().isEmpty() || !expected.contains(QLatin1Char('-'))) {
        message = QStringLiteral("Alguno de los parámetros para la validación no es correcto");
        return false;
    }
    if (!ExisteColumna(QStringLiteral("config_veliro"), QStringLiteral("configuracion"))) {
        message = QStringLiteral(
            "No existe la tabla de Validaciones de Versión 'configuracion', actualización ultra necesaria");
        return false;
    }
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT c.valor FROM config_veliro.configuracion c WHERE c.descripcion=") +
                               literal(key),
                           total, err);
    if (!rs) {
        message = err::textoParaUsuario(QStringLiteral("Error al recuperar información de versión del Módulo..."), err);
        return false;
    }
    if (rs->eof()) {
        message = QStringLiteral("No existe la información de versión del Modulo. Actualizar Módulo");
        return false;
    }
    stored = rs->text(0);
    rs->close();

    const QString storedDate = textoFecha(stored);
    const QString expectedDate = textoFecha(expected);
    if (storedDate == expectedDate) {
        message.clear();
        return true;
    }
    const auto storedDay = fechaDeVersion(stored);
    const auto expectedDay = fechaDeVersion(expected);
    if (!storedDay || !expectedDay) {
        message = mensajeImprevisto(err::kTiposNoCoinciden,
                                    err::descripcion(err::kTiposNoCoinciden) + QStringLiteral(": '") +
                                        (storedDay ? expectedDate : storedDate) + QStringLiteral("' no es una fecha"));
        return false;
    }
    if (*expectedDay <= *storedDay) {
        message =
            QStringLiteral("La versión del Módulo actual es obsoleta. Es necesario actualizar su módulo de VELIRO7");
        return false;
    }
    message.clear();
    if (key.trimmed() == kClaveVersionHerramienta && *storedDay <= kFechaCambioClave &&
        *expectedDay > kFechaCambioClave) {
        // Another login leaves the version and every row as they are: the key stays the one the stored
        // version selects, and a superuser's login makes the change for all of them.
        return alcanzaTodasLasFilas() ? subirConRecifrado(key, expected, message) : true;
    }
    // The raise of other modules stays best-effort: the database may be used either way.
    int rows = 0;
    (void)ExecuteSQLaction(QStringLiteral("UPDATE config_veliro.configuracion SET valor=") + literal(expected) +
                               QStringLiteral(" WHERE descripcion=") + literal(key),
                           rows, err);
    return true;
}

bool ValidarVersionTabla(const QString& schema, const QString& table, int expected, QString& message, QString& stored) {
    if (table.trimmed().isEmpty() || schema.trimmed().isEmpty() || expected < 1) {
        message = QStringLiteral("Alguno de los parámetros para la validación no es correcto");
        return false;
    }
    if (!ExisteColumna(schema, table)) {
        message = QStringLiteral("No existe la tabla de Validaciones de Versiones, actualización ultra necesaria");
        return false;
    }
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT vt.version FROM config_veliro.tablaver vt WHERE vt.esquema=") +
                               literal(schema) + QStringLiteral(" AND vt.tabla=") + literal(table),
                           total, err);
    if (!rs) {
        message = err::textoParaUsuario(QStringLiteral("Error al recuperar información de versión de tablas..."), err);
        return false;
    }
    if (rs->eof()) {
        message = QStringLiteral("No existe la informacion de versión de la tabla. Actualizar tablas");
        return false;
    }
    bool ok = false;
    const int recorded = rs->text(0).trimmed().toInt(&ok);
    if (!ok) {
        message =
            QStringLiteral("La versión registrada de la tabla no es un número: '") + rs->text(0) + QStringLiteral("'");
        return false;
    }
    stored = QString::number(recorded);
    if (recorded == expected) {
        message.clear();
        return true;
    }
    message = QStringLiteral("La versión de la tabla es diferente a la esperada. Actualizar");
    return false;
}

} // namespace v7
