#include "maintenance/mantenimiento.h"

#include "core/errores.h"
#include "core/login.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/events.h"
#include "platform/paths.h"

#include <QFile>
#include <QRegularExpression>

#include <memory>

namespace v7 {

namespace {

QString valorODe(const QString& tecleado, const QString& sesionValor) {
    return tecleado.isEmpty() ? sesionValor : tecleado;
}

} // namespace

void EjecutarSentencia(const QString& sql, bool& exito) {
    // Raw, as designed: on the shared connection as it is, never reopened (the caller decides by the flag).
    db::DbError e;
    qint64 n = 0;
    exito = conexionPrincipal().execute(sql, n, e);
}

QString cadenaConectarODBC(const QString& servidor, int puerto, const QString& usuario, const QString& clave) {
    return cadenaConexionOdbc(kDriverAlterno, servidor, puerto, usuario, db::braceValue(clave));
}

void ConectarODBC(bool& exito) {
    const SessionState& s = sesion();
    const QString cadena = cadenaConectarODBC(
        valorODe(s.ServidorConexion, s.ServidorIP), puertoDesdeTexto(s.PuertoConexion).value_or(s.PuertoBD),
        valorODe(s.UsuarioConexion, s.UsuarioBD), valorODe(s.ClaveConexion, s.ClaveBD));
    // Opening may take the connection's whole time-out: the windows keep running meanwhile, the status
    // probe off the connection being replaced.
    events::OperacionLarga larga;
    exito = events::esperar([&] {
        QString error;
        return ConexionServer(cadena, error);
    });
}

QVector<ColumnaSerial> columnasSeriales(bool& ok, QString& error) {
    // The sequence a default draws from is the one its expression depends on; the owned sequence of a
    // serial column wins when there is one (the same sequence in every ordinary case).
    static const QString consulta =
        QStringLiteral("SELECT n.nspname, c.relname, a.attname, "
                       "coalesce(pg_get_serial_sequence(format('%I.%I', n.nspname, c.relname), a.attname), "
                       "min(s.oid::regclass::text)) AS secuencia "
                       "FROM pg_attrdef d "
                       "JOIN pg_attribute a ON a.attrelid = d.adrelid AND a.attnum = d.adnum AND NOT a.attisdropped "
                       "JOIN pg_class c ON c.oid = d.adrelid AND c.relkind IN ('r', 'p') "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "LEFT JOIN pg_depend dep ON dep.classid = 'pg_attrdef'::regclass AND dep.objid = d.oid "
                       "AND dep.refclassid = 'pg_class'::regclass "
                       "LEFT JOIN pg_class s ON s.oid = dep.refobjid AND s.relkind = 'S' "
                       "WHERE pg_get_expr(d.adbin, d.adrelid) ILIKE 'nextval%' "
                       "AND n.nspname !~ '^pg_' AND n.nspname <> 'information_schema' "
                       "GROUP BY n.nspname, c.relname, a.attname ORDER BY n.nspname, c.relname, a.attname");
    QVector<ColumnaSerial> columnas;
    // Raw: the failure's text names this routine (the layer's would name ExecuteSQLrs).
    db::DbError e;
    auto rs = conexionPrincipal().query(consulta, e);
    if (!rs) {
        ok = false;
        error = sqlErrorText(e, QStringLiteral("ActualizarSecuenciasVELIRO"), consulta);
        return columnas;
    }
    for (; !rs->eof(); rs->moveNext()) {
        columnas.push_back({rs->text(0), rs->text(1), rs->text(2), rs->text(3)});
    }
    ok = true;
    return columnas;
}

QString sentenciaSecuencia(const ColumnaSerial& c) {
    // setval(seq, value, true) makes value+1 the next one. A column whose highest value is below the
    // sequence's keeps the sequence where it is: keys of deleted rows are never handed out again.
    const QString seq = citarLiteral(c.secuencia) + QStringLiteral("::regclass");
    return QStringLiteral("SELECT setval(") + seq +
           QStringLiteral(", greatest(m.mayor, s.last_value), s.is_called OR coalesce(m.mayor >= s.last_value, "
                          "false)) FROM (SELECT max(") +
           citarIdentificador(c.columna) + QStringLiteral(") AS mayor FROM ") + citarIdentificador(c.esquema, c.tabla) +
           QStringLiteral(") m, ") + c.secuencia + QStringLiteral(" s");
}

QStringList ActualizarSecuenciasVELIRO() {
    // One statement per serial column: off the windows' thread, which keeps running meanwhile.
    events::OperacionLarga larga;
    return events::esperar([] {
        QStringList fallas;
        bool ok = false;
        QString error;
        const QVector<ColumnaSerial> columnas = columnasSeriales(ok, error);
        if (!ok) {
            fallas << err::ocurrio(
                err::kOcurrioErrorNo, db::kProviderErrorNumber,
                {QStringLiteral("Descripción: ") + error, QStringLiteral("[Rutina] ActualizarSecuenciasVELIRO")});
            return fallas;
        }
        for (const ColumnaSerial& c : columnas) {
            bool exito = !c.secuencia.isEmpty();
            if (exito) {
                EjecutarSentencia(sentenciaSecuencia(c), exito);
            }
            if (!exito) {
                const QString nombre = c.secuencia.isEmpty() ? c.esquema + QLatin1Char('.') + c.tabla +
                                                                   QLatin1Char('_') + c.columna + QStringLiteral("_seq")
                                                             : c.secuencia;
                fallas << QStringLiteral("No se logro actualizar la secuencia ") + nombre;
            }
        }
        return fallas;
    });
}

bool sentenciaLarga(const QString& sql, db::DbError& error) {
    const QString cadena = sesion().CadenaConexion;
    bool ok = false;
    db::DbError e;
    // A connection of its own, raw: the statement must not hold the shared one (nor its time-out).
    events::esperarEnHilo([&] {
        db::Connection c;
        c.setConnectionString(cadena);
        qint64 n = 0;
        ok = c.open(e) && c.execute(QStringLiteral("SET statement_timeout = 0"), n, e) && c.execute(sql, n, e);
        c.close();
    });
    if (!ok) {
        error = e;
    }
    return ok;
}

QString carpetaHerramientas() {
    const SessionState& s = sesion();
    if (!s.VersionServidor.isEmpty() && !s.VersionesInstaladas.isEmpty()) {
        const QString bin = ObtenerRutaBinPostgres();
        if (!bin.isEmpty()) {
            return bin;
        }
    }
    return s.RutaPostgres.isEmpty() ? QString() : paths::withSlash(s.RutaPostgres) + QStringLiteral("bin");
}

} // namespace v7
