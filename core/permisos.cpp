#include "core/permisos.h"

#include "core/analistas.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"

#include <QRegularExpression>

namespace v7 {

namespace {

using err::kCrLf;

// The server's reason in Spanish first when it is a known one, then its own words (never the statement).
QString errorImprevisto(qint64 number, const QString& description) {
    QStringList lineas;
    if (const QString frase = err::fraseDeErrorSql(description); !frase.isEmpty()) {
        lineas << frase;
    }
    lineas << QStringLiteral("Descripcion: ") + err::detalleDelServidor(description);
    return err::ocurrio(err::kOcurrioSinAcento, number, lineas);
}

// The same from an error text of the SQL layer ("Error: <n><description>", then the routine and the statement).
QString errorImprevisto(const QString& errorTexto) {
    static const QRegularExpression numero(QStringLiteral("^Error: (-?\\d+)"));
    return errorImprevisto(numero.match(errorTexto).captured(1).toLongLong(), errorTexto);
}

// The driver writes false as "0"; the other spellings are accepted so that a driver set to report
// Booleans as words never makes a missing right look granted.
bool esFalso(const QString& flag) {
    const QString f = flag.trimmed().toLower();
    return f == QLatin1String("0") || f == QLatin1String("f") || f == QLatin1String("false");
}

bool esVerdadero(const QString& flag) {
    const QString f = flag.trimmed().toLower();
    return f == QLatin1String("1") || f == QLatin1String("t") || f == QLatin1String("true");
}

// GRANT USAGE to one group; the line to add when it fails.
QString concederUso(const QString& schema, const QString& grupo) {
    const bool ok = EjecutarSQL(QStringLiteral("GRANT USAGE ON SCHEMA ") + schema + QStringLiteral(" TO ") + grupo);
    if (ok) {
        return QString();
    }
    return QStringLiteral("No se asignaron los permisos \"USAGE\" al esquema ") + schema +
           QStringLiteral(" para el grupo ") + grupo + kCrLf;
}

} // namespace

bool EjecutarSQL(const QString& sql, QString* message) {
    // Straight on the shared connection: unlike the SQL layer, a dropped connection is not reopened here.
    db::DbError e;
    qint64 rows = 0;
    if (!conexionPrincipal().execute(sql, rows, e)) {
        if (message != nullptr) {
            *message = e.description;
        }
        return false;
    }
    return true;
}

QString AsignarPermisosEsquema(const QString& schema, const QString& password, const QString& user) {
    const QString s = EscaparComillas(schema);
    const sql::Valor existe = sql::valor(
        QStringLiteral("SELECT distinct(table_schema) FROM information_schema.columns WHERE table_schema = '") + s +
        QStringLiteral("'"));
    if (!existe.ok()) {
        return errorImprevisto(existe.error);
    }
    if (!existe.hayFila) {
        return QStringLiteral("OK");
    }
    const sql::Filas permisos =
        sql::filas(QStringLiteral("SELECT has_schema_privilege('v7_super','") + s +
                   QStringLiteral("', 'usage') AS permiso_super, has_schema_privilege('v7_admin','") + s +
                   QStringLiteral("', 'usage') AS permiso_admin, has_schema_privilege('v7_usuario1','") + s +
                   QStringLiteral("', 'usage') AS permiso_usuario1, has_schema_privilege('v7_usuario2', '") + s +
                   QStringLiteral("', 'usage') AS permiso_usuario2"));
    if (!permisos.ok()) {
        return errorImprevisto(permisos.error);
    }
    const db::Recordset& rs = *permisos.rs;

    QString messages;
    if (esFalso(rs.text(QStringLiteral("permiso_admin")))) {
        if (!password.isEmpty()) {
            bool ok = false;
            QString why;
            const QString clave =
                componerClave(password, codigoGrupo(QStringLiteral("v7_super")), kModulosPrimerAnalista, &ok, &why);
            if (!ok) {
                return errorImprevisto(0, why);
            }
            // Once only: a later schema that v7_admin lacks (reportes, made after the first set-up) finds the
            // row there already.
            const QString u = EscaparComillas(user);
            if (!EjecutarSQL(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) SELECT '") + u +
                             QStringLiteral("','") + u + QStringLiteral("','") + clave +
                             QStringLiteral("' WHERE NOT EXISTS (SELECT 1 FROM catalogos.analistas WHERE usuario = '") +
                             u + QStringLiteral("')"))) {
                messages += QStringLiteral("No se asigno el usuario ") + sesion().UsuarioBD +
                            QStringLiteral(" al grupo de usuarios") + kCrLf;
            } else if (const QString proteccion = ProtegerAnalistas(); !proteccion.isEmpty()) {
                // The row holds the superuser's password: private from the moment it exists.
                messages += proteccion + kCrLf;
            }
        }
        messages += concederUso(schema, QStringLiteral("v7_super"));
        messages += concederUso(schema, QStringLiteral("v7_admin"));
    }
    if (esFalso(rs.text(QStringLiteral("permiso_usuario1")))) {
        messages += concederUso(schema, QStringLiteral("v7_usuario1"));
    }
    if (esFalso(rs.text(QStringLiteral("permiso_usuario2")))) {
        messages += concederUso(schema, QStringLiteral("v7_usuario2"));
    }
    return messages.isEmpty() ? QStringLiteral("OK") : messages;
}

QString ProtegerAnalistas() {
    // A row is a superuser's when it names a login with the superuser attribute or a member of v7_super.
    const QString deSuperusuario =
        QStringLiteral("EXISTS (SELECT 1 FROM pg_catalog.pg_roles r WHERE r.rolname = usuario AND (r.rolsuper OR "
                       "pg_catalog.pg_has_role(r.oid, 'v7_super', 'MEMBER')))");
    // Already in place (the usual case): nothing is sent that would take the table's lock.
    const QString reglasEnOrden =
        QStringLiteral(
            "SELECT c.relrowsecurity "
            "AND (SELECT count(*) FROM pg_policy p WHERE p.polrelid = c.oid) = 3 "
            "AND EXISTS (SELECT 1 FROM pg_policy p WHERE p.polrelid = c.oid AND p.polname = '%1' AND p.polcmd = 'r' "
            "AND p.polpermissive AND p.polroles @> ARRAY[to_regrole('v7_usuario1'), to_regrole('v7_usuario2')]::oid[] "
            "AND cardinality(p.polroles) = 2) "
            "AND EXISTS (SELECT 1 FROM pg_policy p WHERE p.polrelid = c.oid AND p.polname = '%2' AND p.polcmd = '*' "
            "AND p.polpermissive AND p.polroles = ARRAY[to_regrole('v7_super')]::oid[]) "
            "AND EXISTS (SELECT 1 FROM pg_policy p WHERE p.polrelid = c.oid AND p.polname = '%3' AND p.polcmd = '*' "
            "AND p.polpermissive AND p.polroles = ARRAY[to_regrole('v7_admin')]::oid[] "
            "AND pg_get_expr(p.polqual, p.polrelid) LIKE '%NOT (EXISTS (%rolsuper%v7_super%' "
            "AND pg_get_expr(p.polwithcheck, p.polrelid) = pg_get_expr(p.polqual, p.polrelid)) "
            "AND NOT EXISTS (SELECT 1 FROM aclexplode(c.relacl) a WHERE a.grantee = 0 OR (a.grantee IN "
            "(to_regrole('v7_usuario1'), to_regrole('v7_usuario2')) AND a.privilege_type <> 'SELECT')) "
            "AND (SELECT count(*) FROM aclexplode(c.relacl) a WHERE a.grantee IN (to_regrole('v7_usuario1'), "
            "to_regrole('v7_usuario2')) AND a.privilege_type = 'SELECT') = 2 "
            "AND (SELECT count(DISTINCT (a.grantee, a.privilege_type)) FROM aclexplode(c.relacl) a WHERE a.grantee IN "
            "(to_regrole('v7_super'), to_regrole('v7_admin')) AND a.privilege_type IN ('SELECT', 'INSERT', 'UPDATE', "
            "'DELETE')) = 8 "
            "FROM pg_class c WHERE c.oid = to_regclass('catalogos.analistas')")
            .arg(kPoliticaAnalistaPropia, kPoliticaAnalistaGestion, kPoliticaAnalistaAdministracion);
    const sql::Valor enOrden = sql::valor(reglasEnOrden);
    if (enOrden.ok() && (!enOrden.hayFila || esVerdadero(enOrden.texto()))) {
        return QString(); // no table, or nothing to change
    }
    const QString sql =
        QStringLiteral(
            "DO $v7$ BEGIN "
            "IF to_regclass('catalogos.analistas') IS NOT NULL THEN "
            "ALTER TABLE catalogos.analistas ENABLE ROW LEVEL SECURITY; "
            "DROP POLICY IF EXISTS %1 ON catalogos.analistas; "
            "DROP POLICY IF EXISTS %2 ON catalogos.analistas; "
            "DROP POLICY IF EXISTS %3 ON catalogos.analistas; "
            "CREATE POLICY %1 ON catalogos.analistas FOR SELECT TO v7_usuario1, v7_usuario2 "
            "USING (usuario = session_user::text); "
            "CREATE POLICY %2 ON catalogos.analistas FOR ALL TO v7_super USING (true) WITH CHECK (true); "
            "CREATE POLICY %3 ON catalogos.analistas FOR ALL TO v7_admin USING (NOT %4) WITH CHECK (NOT %4); "
            "REVOKE ALL ON catalogos.analistas FROM PUBLIC, v7_usuario1, v7_usuario2; "
            "GRANT SELECT ON catalogos.analistas TO v7_usuario1, v7_usuario2; "
            "GRANT SELECT, INSERT, UPDATE, DELETE ON catalogos.analistas TO v7_super, v7_admin; "
            "END IF; END $v7$;")
            .arg(kPoliticaAnalistaPropia, kPoliticaAnalistaGestion, kPoliticaAnalistaAdministracion, deSuperusuario);
    QString mensaje;
    if (!EjecutarSQL(sql, &mensaje)) {
        return err::textoParaUsuario(
            QStringLiteral("No se logró proteger las filas de los analistas (catalogos.analistas)."), mensaje);
    }
    return QString();
}

} // namespace v7
