#include "accounts/grupos.h"

#include "core/analistas.h"
#include "core/errores.h"
#include "core/permisos.h"
#include "core/session.h"
#include "core/sqlutil.h"

#include <QSet>

#include <array>

namespace v7 {

namespace {

const QString kConsultaGrupos = QStringLiteral("SELECT groname FROM pg_group WHERE groname ILIKE 'V7_%'");

const QString kConsultaTablas =
    QStringLiteral("SELECT DISTINCT(table_name), table_schema FROM information_schema.Columns WHERE table_catalog = "
                   "'veliro7' AND ") +
    QStringLiteral("(table_schema = 'adquis' OR table_schema = 'analisis' OR table_schema = 'catalogos' OR "
                   "table_schema='config_veliro' ") +
    QStringLiteral("OR table_schema='consultas_biblioteca' OR table_schema='indizados' OR "
                   "table_schema='inventarios' OR table_schema='metadata' ") +
    QStringLiteral("OR table_schema='prestamo' OR table_schema='retroalimentacion' OR table_schema='servicios' OR "
                   "table_schema='reportes') ORDER BY table_schema ASC");

const QString kConsultaSecuencias =
    QStringLiteral("SELECT sequence_schema, sequence_name FROM information_schema.sequences WHERE sequence_schema = "
                   "'adquis' OR sequence_schema = 'analisis' ") +
    QStringLiteral("OR sequence_schema = 'catalogos' OR sequence_schema = 'config_veliro' OR sequence_schema = "
                   "'consultas_biblioteca' OR sequence_schema = 'indizados' ") +
    QStringLiteral("OR sequence_schema = 'inventarios' OR sequence_schema = 'metadata' OR sequence_schema = "
                   "'prestamo' OR sequence_schema = 'retroalimentacion' ") +
    QStringLiteral("OR sequence_schema = 'servicios' ORDER BY sequence_schema");

// The sequence grants the groups hold already (explicitly, SELECT and UPDATE both): nothing to grant there.
const QString kSecuenciasConcedidas = QStringLiteral(
    "SELECT n.nspname, c.relname, r.rolname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "JOIN pg_roles r ON r.rolname IN ('v7_super', 'v7_admin', 'v7_usuario1', 'v7_usuario2') "
    "WHERE c.relkind = 'S' AND (SELECT count(DISTINCT a.privilege_type) FROM aclexplode(c.relacl) a "
    "WHERE a.grantee = r.oid AND a.privilege_type IN ('SELECT', 'UPDATE')) = 2");

QString claveSecuencia(const QString& esquema, const QString& secuencia, const QString& grupo) {
    return esquema + QChar(0x1f) + secuencia + QChar(0x1f) + grupo;
}

// Creation statement of each group, in the order of kGruposStaff.
const std::array<QString, 4> kCreacion = {
    QStringLiteral("CREATE ROLE v7_super WITH SUPERUSER"), QStringLiteral("CREATE ROLE v7_admin"),
    QStringLiteral("CREATE ROLE v7_usuario1"), QStringLiteral("CREATE ROLE v7_usuario2")};

} // namespace

sql::Filas leerGrupos() {
    return sql::filas(kConsultaGrupos);
}

void InicializarGrupos(const AvisosGrupos& avisos) {
    auto error = [&avisos](const QString& m) {
        if (avisos.error) {
            avisos.error(m);
        }
    };
    auto detener = [&avisos] { return avisos.detener && avisos.detener(); };
    const auto& s = sesion();

    // Which groups exist: the exact name counts, the pattern only narrows the rows.
    std::array<bool, 4> presente{};
    {
        const sql::Filas grupos = leerGrupos();
        if (!grupos.ok()) {
            error(err::textoParaUsuario(QStringLiteral("No se logró consultar los grupos de usuarios."), grupos.error));
            return;
        }
        for (db::Recordset* rs = grupos.rs.get(); !rs->eof(); rs->moveNext()) {
            const qsizetype i = kGruposStaff.indexOf(rs->text(0));
            if (i >= 0) {
                presente[i] = true;
            }
        }
    }

    if (presente != std::array<bool, 4>{true, true, true, true}) {
        // The missing groups are created; the window hears of it first, as the run must not be cut short now.
        if (avisos.faltaGrupo) {
            avisos.faltaGrupo();
        }
        for (int i = 0; i < 4; ++i) {
            if (presente[i]) {
                continue;
            }
            if (detener()) {
                return;
            }
            if (!EjecutarSQL(kCreacion[i])) {
                error(QStringLiteral("No se logró crear el grupo ") + kGruposStaff.at(i));
            }
        }
        // The session user joins v7_super.
        if (detener()) {
            return;
        }
        if (!EjecutarSQL(QStringLiteral("GRANT v7_super TO ") + citarIdentificador(s.UsuarioBD))) {
            error(QStringLiteral("No se asignó el usuario ") + s.UsuarioBD + QStringLiteral(" al grupo v7_super"));
        }
        // Every table: public loses its privileges, each group that was missing gets its own.
        const sql::Filas tablas = sql::filas(kConsultaTablas);
        if (!tablas.ok()) {
            error(err::textoParaUsuario(QStringLiteral("No se logró consultar las tablas de la base de datos."),
                                        tablas.error));
        }
        for (db::Recordset* rs = tablas.rs.get(); rs && !rs->eof(); rs->moveNext()) {
            const QString esquema = rs->text(QStringLiteral("table_schema"));
            // Quoted: a name with capitals or blanks is granted like any other.
            const QString tabla = citarIdentificador(esquema, rs->text(QStringLiteral("table_name")));
            if (detener()) {
                return;
            }
            if (!EjecutarSQL(QStringLiteral("REVOKE ALL ON TABLE ") + tabla + QStringLiteral(" FROM public"))) {
                error(QStringLiteral("No se logró quitar los permisos públicos"));
            }
            for (int i = 0; i < 4; ++i) {
                if (presente[i]) {
                    continue;
                }
                const QString privilegios =
                    i == 0 ? QStringLiteral("ALL") : QStringLiteral("SELECT, INSERT, UPDATE, DELETE");
                if (!EjecutarSQL(QStringLiteral("GRANT ") + privilegios + QStringLiteral(" ON TABLE ") + tabla +
                                 QStringLiteral(" TO ") + kGruposStaff.at(i))) {
                    error(QStringLiteral("No se logró asignar los permisos correspondientes al esquema ") + esquema +
                          QStringLiteral(" para el rol ") + kGruposStaff.at(i));
                }
            }
        }
    }

    // The schemas, on every run; the last two also register the session user as the first staff row.
    for (const QString& esquema : kEsquemasGrupos) {
        if (detener()) {
            return;
        }
        const bool conUsuario = esquema == QLatin1String("servicios") || esquema == QLatin1String("reportes");
        const QString r =
            AsignarPermisosEsquema(esquema, conUsuario ? s.ClaveBD : QString(), conUsuario ? s.UsuarioBD : QString());
        if (r != QLatin1String("OK")) {
            error(r);
        }
    }

    // Every sequence to every group, on every run; a grant the group holds already is not made again (an
    // administrator may not grant on a schema it cannot use, and there is nothing to grant there anyway).
    const sql::Filas secuencias = sql::filas(kConsultaSecuencias);
    if (!secuencias.ok()) {
        error(err::textoParaUsuario(QStringLiteral("No se logró consultar las secuencias de la base de datos."),
                                    secuencias.error));
    } else {
        QSet<QString> concedidas;
        if (const sql::Filas c = sql::filas(kSecuenciasConcedidas); c.ok()) {
            for (; !c.rs->eof(); c.rs->moveNext()) {
                concedidas.insert(claveSecuencia(c.rs->text(0), c.rs->text(1), c.rs->text(2)));
            }
        }
        for (db::Recordset* rs = secuencias.rs.get(); !rs->eof(); rs->moveNext()) {
            const QString esquema = rs->text(QStringLiteral("sequence_schema"));
            const QString nombre = rs->text(QStringLiteral("sequence_name"));
            const QString secuencia = citarIdentificador(esquema, nombre);
            for (const QString& grupo : kGruposStaff) {
                if (concedidas.contains(claveSecuencia(esquema, nombre, grupo))) {
                    continue;
                }
                if (detener()) {
                    return;
                }
                if (!EjecutarSQL(QStringLiteral("GRANT SELECT, UPDATE ON TABLE ") + secuencia +
                                 QStringLiteral(" TO GROUP ") + grupo + QLatin1Char(';'))) {
                    error(QStringLiteral("No se asignaron los permisos correspondientes a la secuencia ") + esquema +
                          QLatin1Char('.') + nombre + QStringLiteral(" para el grupo ") + grupo);
                }
            }
        }
    }

    // The staff rows stay private whatever the grants above gave the groups.
    if (detener()) {
        return;
    }
    const QString proteccion = ProtegerAnalistas();
    if (!proteccion.isEmpty()) {
        error(proteccion);
    }
}

} // namespace v7
