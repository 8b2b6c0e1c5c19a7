#include "maintenance/restauracion_roles.h"

#include "core/analistas.h"
#include "core/permisos.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/mantenimiento.h"
#include "platform/db.h"
#include "platform/events.h"

#include <QFile>
#include <QRegularExpression>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A bare or double-quoted role name as pg_dumpall writes it.
const QString kIdent = QStringLiteral(R"((?:"(?:[^"]|"")+"|[A-Za-z_][A-Za-z0-9_$]*))");

bool esGrupo(const QString& rol) {
    return kGruposStaff.contains(rol);
}

bool esPredefinido(const QString& rol) {
    return rol.startsWith(QLatin1String("pg_"));
}

// Appends one text to a file of the program folder that only its owner may read.
void anexar(const QString& archivo, const QString& texto) {
    QFile f(archivo);
    if (f.open(QIODevice::Append)) {
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        f.write(texto.toUtf8());
    }
}

struct Grupo {
    QString rol;
    QString opciones; // of a staff login of this group
    QString nombre;   // in messages
};
const Grupo kGrupos[] = {
    {QStringLiteral("v7_super"), QStringLiteral(" SUPERUSER CREATEROLE"), QStringLiteral("SuperUsuario")},
    {QStringLiteral("v7_admin"), QStringLiteral(" CREATEROLE"), QStringLiteral("Administrador")},
    {QStringLiteral("v7_usuario1"), QString(), QStringLiteral("Nivel1")},
    {QStringLiteral("v7_usuario2"), QString(), QStringLiteral("Nivel2")},
};

QSet<QString> gruposExistentes() {
    QSet<QString> existen;
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT groname FROM pg_group WHERE groname ILIKE 'V7_%'"), total, error);
    for (; rs && !rs->eof(); rs->moveNext()) {
        existen.insert(rs->text(0));
    }
    return existen;
}

bool existeEsquema(const QString& esquema) {
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ") + citarLiteral(esquema), total,
                           error);
    return rs && !rs->eof();
}

} // namespace

QString nombreDeIdentificador(const QString& identificador) {
    if (identificador.size() >= 2 && identificador.startsWith(QLatin1Char('"')) &&
        identificador.endsWith(QLatin1Char('"'))) {
        return identificador.mid(1, identificador.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return identificador;
}

QString filtrarRoles(const QString& volcadoRoles, const QSet<QString>& excluidos, const QSet<QString>& existentes) {
    static const QRegularExpression crear(QStringLiteral("^CREATE ROLE (") + kIdent + QStringLiteral(");$"));
    static const QRegularExpression alterar(QStringLiteral("^ALTER ROLE (") + kIdent + QStringLiteral(") .*;$"));
    static const QRegularExpression conceder(QStringLiteral("^GRANT (") + kIdent + QStringLiteral(") TO (") + kIdent +
                                             QStringLiteral(")( WITH ADMIN OPTION)?(?: GRANTED BY ") + kIdent +
                                             QStringLiteral(")?;$"));
    static const QRegularExpression set(QStringLiteral("^SET [a-z_]+ = [^;]*;$"));
    const QStringList lineas = volcadoRoles.split(QRegularExpression(QStringLiteral("\\r?\\n")));

    // The members of the four groups, as the file grants them.
    QSet<QString> elegidos(kGruposStaff.begin(), kGruposStaff.end());
    for (const QString& l : lineas) {
        const auto m = conceder.match(l);
        if (m.hasMatch() && esGrupo(nombreDeIdentificador(m.captured(1)))) {
            elegidos.insert(nombreDeIdentificador(m.captured(2)));
        }
    }
    auto elegido = [&](const QString& rol) {
        return elegidos.contains(rol) && !excluidos.contains(rol) && !esPredefinido(rol);
    };

    QStringList salida;
    for (const QString& l : lineas) {
        if (set.match(l).hasMatch()) {
            salida << l;
        } else if (const auto m = crear.match(l); m.hasMatch()) {
            const QString rol = nombreDeIdentificador(m.captured(1));
            if (elegido(rol) && !existentes.contains(rol)) {
                salida << l;
            }
        } else if (const auto m2 = alterar.match(l); m2.hasMatch()) {
            if (elegido(nombreDeIdentificador(m2.captured(1)))) {
                salida << l;
            }
        } else if (const auto m3 = conceder.match(l); m3.hasMatch()) {
            const QString grupo = nombreDeIdentificador(m3.captured(1));
            if (esGrupo(grupo) && elegido(nombreDeIdentificador(m3.captured(2)))) {
                salida << QStringLiteral("GRANT ") + m3.captured(1) + QStringLiteral(" TO ") + m3.captured(2) +
                              m3.captured(3) + QLatin1Char(';');
            }
        }
    }
    return salida.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QSet<QString> rolesProtegidos(QString& error) {
    QSet<QString> protegidos;
    int total = 0;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT session_user::text, current_user::text, "
                                          "(SELECT rolname::text FROM pg_roles WHERE oid = 10)"),
                           total, error);
    if (!rs || rs->eof()) {
        return protegidos;
    }
    for (int i = 0; i < 3; ++i) {
        protegidos.insert(rs->text(i));
    }
    protegidos.insert(sesion().UsuarioBD.trimmed());
    protegidos.remove(QString());
    return protegidos;
}

QStringList rolesStaff(const QSet<QString>& protegidos, bool& ok, QString& error) {
    QStringList roles;
    int total = 0;
    auto rs = ExecuteSQLrs(
        QStringLiteral("SELECT DISTINCT r.rolname::text FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid "
                       "JOIN pg_roles r ON r.oid = m.member WHERE g.rolname IN (") +
            listaLiterales(kGruposStaff) + QStringLiteral(") ORDER BY 1"),
        total, error);
    ok = rs != nullptr;
    for (; rs && !rs->eof(); rs->moveNext()) {
        const QString rol = rs->text(0);
        if (!protegidos.contains(rol) && !esGrupo(rol) && !esPredefinido(rol)) {
            roles << rol;
        }
    }
    return roles;
}

bool eliminarRolesStaff(const QStringList& roles, const QString& logEliminacion, const AvisoRestauracion& aviso) {
    bool dependencias = false;
    const QString login = citarIdentificador(sesion().UsuarioBD.trimmed());
    for (const QString& rol : roles) {
        const QString r = citarIdentificador(rol);
        db::Transaccion t(sesion().ConexionPrincipal);
        db::DbError e;
        qint64 n = 0;
        const bool ok =
            t.begin(e) &&
            t.connection().execute(
                QStringLiteral("REASSIGN OWNED BY ") + r + QStringLiteral(" TO ") + login + QLatin1Char(';'), n, e) &&
            t.connection().execute(QStringLiteral("DROP OWNED BY ") + r + QStringLiteral(" CASCADE;"), n, e) &&
            t.connection().execute(QStringLiteral("DROP ROLE IF EXISTS ") + r + QLatin1Char(';'), n, e) && t.commit(e);
        if (!ok) {
            t.rollback();
            // dependent_objects_still_exist / dependent_privilege_descriptors_still_exist: the role still
            // owns or holds something in another database.
            if (e.sqlState == QLatin1String("2BP01") || e.sqlState == QLatin1String("2B000")) {
                anexar(logEliminacion, e.description + kCrLf + kCrLf + kCrLf);
                dependencias = true;
            } else if (aviso) {
                aviso(MsgIcon::Critical, QStringLiteral("No se eliminó el usuario: ") + rol + kCrLf + e.description);
            }
        }
        events::pump();
    }
    return dependencias;
}

QStringList crearGrupos() {
    QStringList fallas;
    const QSet<QString> existen = gruposExistentes();
    for (const Grupo& g : kGrupos) {
        if (existen.contains(g.rol)) {
            continue;
        }
        QString error;
        const QString sql = QStringLiteral("CREATE ROLE ") + g.rol +
                            (g.rol == QLatin1String("v7_super") ? QStringLiteral(" WITH SUPERUSER") : QString());
        if (!EjecutarSQL(sql, &error)) {
            fallas << error;
        }
    }
    return fallas;
}

ResultadoLogins crearLoginsStaff(bool claveA, const AvisoRestauracion& aviso) {
    ResultadoLogins r;
    const QSet<QString> grupos = gruposExistentes();
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT idanalista, usuario, clave FROM catalogos.analistas WHERE usuario "
                                          "NOT IN (select usename FROM pg_user) ORDER by usuario"),
                           total, error);
    if (!rs) {
        r.ok = false;
        r.mensajeFatal = error;
        return r;
    }
    for (; !rs->eof(); rs->moveNext()) {
        const QString usuario = rs->text(QStringLiteral("usuario"));
        const QString clave = rs->text(QStringLiteral("clave"));
        if (clave.isEmpty()) {
            continue;
        }
        const TextoPermiso permiso = leerClave(clave, claveA);
        const QString rolGrupo = rolDeCodigoGrupo(permiso.codigo);
        const Grupo* grupo = nullptr;
        for (const Grupo& g : kGrupos) {
            if (g.rol == rolGrupo) {
                grupo = &g;
            }
        }
        if (grupo == nullptr) {
            // An unknown group code: the row names no login this system can make.
            bool conectado = VerificarConexion().isEmpty();
            if (!conectado) {
                ConectarODBC(conectado);
            }
            if (!conectado) {
                r.ok = false;
                r.mensajeFatal = QStringLiteral("Se perdió la conexión a la base de datos, intentelo nuevamente.2.");
                return r;
            }
            db::DbError e;
            qint64 n = 0;
            const QString borrar = QStringLiteral("DELETE FROM catalogos.analistas WHERE idanalista = ") +
                                   QString::number(rs->text(QStringLiteral("idanalista")).toLongLong());
            if (!conexionPrincipal().execute(borrar, n, e)) {
                r.ok = false;
                r.mensajeFatal = sqlErrorText(e, QStringLiteral("BtnMontar"), borrar);
                return r;
            }
            continue;
        }
        if (!grupos.contains(grupo->rol)) {
            continue;
        }
        // The name is an identifier and the password a literal: O'Brien stays O'Brien.
        const QString nombre = citarIdentificador(usuario);
        QString falla;
        if (!EjecutarSQL(QStringLiteral("CREATE USER ") + nombre + QStringLiteral(" WITH ENCRYPTED PASSWORD ") +
                             citarLiteral(permiso.contrasena) + grupo->opciones,
                         &falla)) {
            // Nothing was made: a role of that name that is not a login belongs to someone else.
            r.noIncorporados << usuario;
            continue;
        }
        if (!EjecutarSQL(QStringLiteral("GRANT ") + grupo->rol + QStringLiteral(" TO ") + nombre, &falla)) {
            (void)EjecutarSQL(QStringLiteral("DROP ROLE ") + nombre);
            if (aviso) {
                aviso(MsgIcon::Critical, QStringLiteral("No se logró asignar el usuario ") + usuario +
                                             QStringLiteral(" al grupo ") + grupo->nombre);
            }
        }
    }
    return r;
}

void asignarPermisosRestauracion(const AvisoRestauracion& aviso) {
    auto avisar = [&](const QString& texto) {
        if (aviso) {
            aviso(MsgIcon::Critical, texto);
        }
    };
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT DISTINCT table_name, table_schema FROM information_schema.columns "
                                          "WHERE table_catalog = 'veliro7' AND table_schema IN (") +
                               listaLiterales(kEsquemasSistema) + QStringLiteral(") ORDER BY table_schema, table_name"),
                           total, error);
    if (!rs) {
        avisar(error);
        return;
    }
    for (; !rs->eof(); rs->moveNext()) {
        const QString esquema = rs->text(QStringLiteral("table_schema"));
        const QString t = citarIdentificador(esquema, rs->text(QStringLiteral("table_name")));
        const QString noAsignado =
            QStringLiteral("No se logró asignar los permisos correspondientes al esquema ") + esquema;
        if (!EjecutarSQL(QStringLiteral("REVOKE ALL ON TABLE ") + t + QStringLiteral(" FROM public"))) {
            avisar(QStringLiteral("No se logró quitar los permisos públicos"));
        }
        if (!EjecutarSQL(QStringLiteral("GRANT ALL ON TABLE ") + t + QStringLiteral(" TO v7_super"))) {
            avisar(noAsignado + QStringLiteral(" para el rol v7_super"));
        }
        for (const char* g : {"v7_admin", "v7_usuario1", "v7_usuario2"}) {
            if (!EjecutarSQL(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE ") + t +
                             QStringLiteral(" TO ") + QString::fromLatin1(g))) {
                avisar(noAsignado + QStringLiteral(" para el rol ") + QString::fromLatin1(g));
            }
        }
    }
    // Without USAGE on the schema and the sequences' privileges the table grants are of no use: a restore
    // onto a new server would leave the staff unable to read or add a row.
    for (const QString& esquema : kEsquemasSistema) {
        if (!existeEsquema(esquema)) {
            continue;
        }
        const QString e = citarIdentificador(esquema);
        if (!EjecutarSQL(QStringLiteral("GRANT USAGE ON SCHEMA ") + e +
                         QStringLiteral(" TO v7_super, v7_admin, v7_usuario1, v7_usuario2"))) {
            avisar(QStringLiteral("No se asignaron los permisos \"USAGE\" al esquema ") + esquema);
        }
        if (!EjecutarSQL(QStringLiteral("GRANT ALL ON ALL SEQUENCES IN SCHEMA ") + e +
                         QStringLiteral(" TO v7_super")) ||
            !EjecutarSQL(QStringLiteral("GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA ") + e +
                         QStringLiteral(" TO v7_admin, v7_usuario1, v7_usuario2"))) {
            avisar(QStringLiteral("No se logró asignar los permisos correspondientes al esquema ") + esquema +
                   QStringLiteral(" para las secuencias"));
        }
    }
}

} // namespace v7
