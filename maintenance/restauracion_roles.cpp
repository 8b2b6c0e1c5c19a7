#include "maintenance/restauracion_roles.h"

#include "core/analistas.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/permisos.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/mantenimiento.h"
#include "platform/db.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace v7 {

namespace {

using err::kCrLf;

// A bare or double-quoted role name as pg_dumpall writes it.
const QString kIdent = QStringLiteral(R"((?:"(?:[^"]|"")+"|[A-Za-z_][A-Za-z0-9_$]*))");

bool esGrupo(const QString& rol) {
    return kGruposStaff.contains(rol);
}

bool esPredefinido(const QString& rol) {
    return rol.startsWith(QLatin1String("pg_"));
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
    const auto rs = sql::filas(QStringLiteral("SELECT groname FROM pg_group WHERE groname ILIKE 'V7_%'")).rs;
    for (; rs && !rs->eof(); rs->moveNext()) {
        existen.insert(rs->text(0));
    }
    return existen;
}

bool existeEsquema(const QString& esquema) {
    return sql::valor(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ") + citarLiteral(esquema)).hayFila;
}

// One token of an SQL statement: a word, a quoted identifier, a string literal or one other character.
struct Token {
    enum Tipo { Palabra, Identificador, Literal, Signo } tipo = Signo;
    QString texto; // a word as written, an identifier unquoted, a literal's content, the character
    bool es(const char* palabra) const {
        return tipo == Palabra && texto.compare(QLatin1String(palabra), Qt::CaseInsensitive) == 0;
    }
    bool signo(char c) const { return tipo == Signo && texto == QLatin1Char(c); }
};

QVector<Token> tokens(const QString& s) {
    QVector<Token> t;
    int i = 0;
    const int n = s.size();
    while (i < n) {
        const QChar c = s.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            QString v;
            ++i;
            while (i < n) {
                if (s.at(i) == c) {
                    if (i + 1 < n && s.at(i + 1) == c) {
                        v += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                v += s.at(i++);
            }
            t.push_back({c == QLatin1Char('"') ? Token::Identificador : Token::Literal, v});
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$')) {
            const int inicio = i;
            while (i < n &&
                   (s.at(i).isLetterOrNumber() || s.at(i) == QLatin1Char('_') || s.at(i) == QLatin1Char('$'))) {
                ++i;
            }
            t.push_back({Token::Palabra, s.mid(inicio, i - inicio)});
        } else {
            t.push_back({Token::Signo, QString(c)});
            ++i;
        }
    }
    return t;
}

// Where the first bare keyword stands from position desde on, outside parentheses; -1 when nowhere.
int buscar(const QVector<Token>& t, const char* palabra, int desde = 0) {
    int nivel = 0;
    for (int i = desde; i < t.size(); ++i) {
        if (t[i].signo('(')) {
            ++nivel;
        } else if (t[i].signo(')')) {
            --nivel;
        } else if (nivel == 0 && t[i].es(palabra)) {
            return i;
        }
    }
    return -1;
}

// A role name at position i (GROUP and USER before it are skipped); empty for PUBLIC and the like.
QString rolEn(const QVector<Token>& t, int& i) {
    if (i < t.size() && (t[i].es("GROUP") || t[i].es("USER")) && i + 1 < t.size() && !t[i + 1].signo(',') &&
        !t[i + 1].signo(';')) {
        ++i;
    }
    if (i >= t.size()) {
        return QString();
    }
    const Token& k = t[i];
    if (k.tipo == Token::Identificador) {
        return k.texto;
    }
    if (k.tipo != Token::Palabra || k.es("PUBLIC") || k.es("CURRENT_USER") || k.es("SESSION_USER") ||
        k.es("CURRENT_ROLE")) {
        return QString();
    }
    return k.texto.toLower();
}

// The comma-separated role list that begins at position i, up to a word of fin or the end.
void lista(const QVector<Token>& t, int i, std::initializer_list<const char*> fin, QStringList& roles) {
    while (i < t.size()) {
        if (t[i].signo(';')) {
            return;
        }
        for (const char* f : fin) {
            if (t[i].es(f)) {
                return;
            }
        }
        const QString r = rolEn(t, i);
        if (!r.isEmpty()) {
            roles << r;
        }
        ++i;
        if (i < t.size() && t[i].signo(',')) {
            ++i;
        } else {
            return;
        }
    }
}

// GRANTED BY name, anywhere after position desde.
void otorgante(const QVector<Token>& t, int desde, QStringList& roles) {
    for (int i = desde; i + 2 < t.size(); ++i) {
        if (t[i].es("GRANTED") && t[i + 1].es("BY")) {
            int j = i + 2;
            const QString r = rolEn(t, j);
            if (!r.isEmpty()) {
                roles << r;
            }
        }
    }
}

// The lines of a pg_dumpall -g output that make a role, alter it and grant it a role.
const QRegularExpression& lineaCrear() {
    static const QRegularExpression re(QStringLiteral("^CREATE ROLE (") + kIdent + QStringLiteral(");$"));
    return re;
}
const QRegularExpression& lineaAlterar() {
    static const QRegularExpression re(QStringLiteral("^ALTER ROLE (") + kIdent + QStringLiteral(") (.*);$"));
    return re;
}
const QRegularExpression& lineaConceder() {
    static const QRegularExpression re(QStringLiteral("^GRANT (") + kIdent + QStringLiteral(") TO (") + kIdent +
                                       QStringLiteral(")( WITH [^;]*?)?(?: GRANTED BY ") + kIdent +
                                       QStringLiteral(")?;$"));
    return re;
}

} // namespace

void anexarLog(const QString& archivo, const QString& texto) {
    QFile f(archivo);
    if (f.open(QIODevice::Append)) {
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        f.write(db::redactStatement(texto).toUtf8());
    }
}

QString nombreDeIdentificador(const QString& identificador) {
    if (identificador.size() >= 2 && identificador.startsWith(QLatin1Char('"')) &&
        identificador.endsWith(QLatin1Char('"'))) {
        return identificador.mid(1, identificador.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return identificador;
}

QString filtrarRoles(const QString& volcadoRoles, const QSet<QString>& protegidos, const QSet<QString>& existentes,
                     const QSet<QString>& necesarios, RolesFiltrados* detalle) {
    const QRegularExpression& crear = lineaCrear();
    const QRegularExpression& alterar = lineaAlterar();
    const QRegularExpression& conceder = lineaConceder();
    static const QRegularExpression set(QStringLiteral("^SET [a-z_]+ = [^;]*;$"));
    const QStringList lineas = volcadoRoles.split(QRegularExpression(QStringLiteral("\\r?\\n")));

    // The roles the file defines, and what each is granted.
    QSet<QString> definidos;
    QMultiHash<QString, QString> miembroDe; // member -> granted role
    for (const QString& l : lineas) {
        if (const auto m = crear.match(l); m.hasMatch()) {
            definidos.insert(nombreDeIdentificador(m.captured(1)));
        } else if (const auto g = conceder.match(l); g.hasMatch()) {
            miembroDe.insert(nombreDeIdentificador(g.captured(2)), nombreDeIdentificador(g.captured(1)));
        }
    }
    auto intocable = [&](const QString& rol) { return protegidos.contains(rol) || esPredefinido(rol); };
    auto faltante = [&](const QString& rol) {
        return definidos.contains(rol) && !existentes.contains(rol) && !intocable(rol);
    };

    // To be made: the groups and their members (the staff), the roles the dump names, and the roles these
    // are members of, when the server lacks them.
    QSet<QString> creados;
    QStringList pendientes(kGruposStaff);
    for (auto it = miembroDe.cbegin(); it != miembroDe.cend(); ++it) {
        if (esGrupo(it.value())) {
            pendientes << it.key();
        }
    }
    pendientes += QStringList(necesarios.begin(), necesarios.end());
    while (!pendientes.isEmpty()) {
        const QString rol = pendientes.takeFirst();
        if (creados.contains(rol) || !faltante(rol)) {
            continue;
        }
        creados.insert(rol);
        pendientes += miembroDe.values(rol);
    }
    auto alterable = [&](const QString& rol) {
        return creados.contains(rol) || (esGrupo(rol) && existentes.contains(rol) && !intocable(rol));
    };
    auto concedible = [&](const QString& rol) {
        return existentes.contains(rol) || creados.contains(rol) || esPredefinido(rol);
    };

    QStringList salida;
    QStringList creadosEnOrden;
    for (const QString& l : lineas) {
        if (set.match(l).hasMatch()) {
            salida << l;
        } else if (const auto m = crear.match(l); m.hasMatch()) {
            const QString rol = nombreDeIdentificador(m.captured(1));
            if (creados.contains(rol)) {
                salida << l;
                creadosEnOrden << rol;
            }
        } else if (const auto m2 = alterar.match(l); m2.hasMatch()) {
            if (alterable(nombreDeIdentificador(m2.captured(1)))) {
                salida << l;
            }
        } else if (const auto m3 = conceder.match(l); m3.hasMatch()) {
            const QString concedido = nombreDeIdentificador(m3.captured(1));
            const QString miembro = nombreDeIdentificador(m3.captured(2));
            if (creados.contains(miembro) && concedible(concedido)) {
                salida << QStringLiteral("GRANT ") + m3.captured(1) + QStringLiteral(" TO ") + m3.captured(2) +
                              m3.captured(3) + QLatin1Char(';');
            }
        }
    }
    if (detalle != nullptr) {
        detalle->creados = creadosEnOrden;
        detalle->omitidos.clear();
        for (const QString& l : lineas) {
            if (const auto m = crear.match(l); m.hasMatch()) {
                const QString rol = nombreDeIdentificador(m.captured(1));
                if (!creados.contains(rol) && !esGrupo(rol) && (existentes.contains(rol) || protegidos.contains(rol))) {
                    detalle->omitidos << rol;
                }
            }
        }
    }
    return salida.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QSet<QString> rolesProtegidos(QString& error) {
    QSet<QString> protegidos;
    sql::Filas f = sql::filas(QStringLiteral("SELECT session_user::text, current_user::text, "
                                             "(SELECT rolname::text FROM pg_roles WHERE oid = 10)"));
    error = f.error;
    const auto& rs = f.rs;
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

QSet<QString> rolesExistentes(bool& ok, QString& error) {
    QSet<QString> roles;
    sql::Filas f = sql::filas(QStringLiteral("SELECT rolname::text FROM pg_roles"));
    error = f.error;
    ok = f.ok();
    for (auto& rs = f.rs; rs && !rs->eof(); rs->moveNext()) {
        roles.insert(rs->text(0));
    }
    return roles;
}

QStringList rolesStaff(const QSet<QString>& protegidos, bool& ok, QString& error) {
    QStringList roles;
    sql::Filas f = sql::filas(
        QStringLiteral("SELECT DISTINCT r.rolname::text FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid "
                       "JOIN pg_roles r ON r.oid = m.member WHERE g.rolname IN (") +
        listaLiterales(kGruposStaff) + QStringLiteral(") ORDER BY 1"));
    error = f.error;
    ok = f.ok();
    for (auto& rs = f.rs; rs && !rs->eof(); rs->moveNext()) {
        const QString rol = rs->text(0);
        if (!protegidos.contains(rol) && !esGrupo(rol) && !esPredefinido(rol)) {
            roles << rol;
        }
    }
    return roles;
}

EliminacionRoles eliminarRolesStaff(const QStringList& roles, const QString& logEliminacion) {
    EliminacionRoles r;
    const QString login = citarIdentificador(sesion().UsuarioBD.trimmed());
    for (const QString& rol : roles) {
        const QString q = citarIdentificador(rol);
        // Raw statements of the transaction: a lost connection must not be reopened under it, and the
        // server's SQLSTATE tells a role that other databases still hold.
        db::Transaccion t(sesion().ConexionPrincipal);
        db::DbError e;
        qint64 n = 0;
        const bool ok =
            t.begin(e) &&
            t.connection().execute(
                QStringLiteral("REASSIGN OWNED BY ") + q + QStringLiteral(" TO ") + login + QLatin1Char(';'), n, e) &&
            t.connection().execute(QStringLiteral("DROP OWNED BY ") + q + QStringLiteral(" CASCADE;"), n, e) &&
            t.connection().execute(QStringLiteral("DROP ROLE IF EXISTS ") + q + QLatin1Char(';'), n, e) && t.commit(e);
        if (ok) {
            continue;
        }
        t.rollback();
        // dependent_objects_still_exist / dependent_privilege_descriptors_still_exist: the role still
        // owns or holds something in another database.
        if (e.sqlState == QLatin1String("2BP01") || e.sqlState == QLatin1String("2B000")) {
            anexarLog(logEliminacion, e.description + kCrLf + kCrLf + kCrLf);
            r.dependencias = true;
        } else {
            r.fallas << QStringLiteral("No se eliminó el usuario: ") + rol + kCrLf + e.description;
        }
        if (e.isLostConnection()) {
            break; // the next ones would only fail the same way
        }
    }
    return r;
}

QVector<StaffEsperado> staffDelArchivo(const QString& volcadoRoles) {
    QVector<StaffEsperado> staff;
    QHash<QString, bool> login;
    for (const QString& l : volcadoRoles.split(QRegularExpression(QStringLiteral("\\r?\\n")))) {
        if (const auto a = lineaAlterar().match(l); a.hasMatch()) {
            // ALTER ROLE x WITH … LOGIN …; its words outside the password's literal.
            for (const Token& t : tokens(a.captured(2))) {
                if (t.es("LOGIN") || t.es("NOLOGIN")) {
                    login[nombreDeIdentificador(a.captured(1))] = t.es("LOGIN");
                }
            }
        } else if (const auto g = lineaConceder().match(l); g.hasMatch()) {
            const QString grupo = nombreDeIdentificador(g.captured(1));
            if (esGrupo(grupo)) {
                staff.push_back({nombreDeIdentificador(g.captured(2)), grupo, false});
            }
        }
    }
    for (StaffEsperado& e : staff) {
        e.login = login.value(e.rol, false);
    }
    return staff;
}

QVector<StaffEsperado> staffDeAnalistas(bool claveA, bool& ok, QString& error) {
    QVector<StaffEsperado> staff;
    const sql::Filas f = sql::filas(QStringLiteral("SELECT usuario, clave FROM catalogos.analistas ORDER BY usuario"));
    ok = f.ok();
    error = f.error;
    for (auto& rs = f.rs; ok && !rs->eof(); rs->moveNext()) {
        const QString clave = rs->text(1);
        if (rs->text(0).isEmpty() || clave.isEmpty()) {
            continue;
        }
        const QString grupo = rolDeCodigoGrupo(leerClave(clave, claveA).codigo);
        if (!grupo.isEmpty()) {
            staff.push_back({rs->text(0), grupo, true});
        }
    }
    return staff;
}

QStringList staffIncompleto(const QVector<StaffEsperado>& esperados, bool& ok, QString& error) {
    QStringList incompletos;
    ok = true;
    if (esperados.isEmpty()) {
        return incompletos;
    }
    QStringList nombres;
    for (const StaffEsperado& e : esperados) {
        nombres << e.rol;
    }
    // Direct memberships only: a superuser counts as a member of every role.
    const sql::Filas f = sql::filas(
        QStringLiteral("SELECT r.rolname::text, CASE WHEN r.rolcanlogin THEN 'S' ELSE 'N' END, "
                       "coalesce(string_agg(g.rolname::text, ','), '') FROM "
                       "pg_roles r LEFT JOIN pg_auth_members m ON m.member = r.oid LEFT JOIN pg_roles g ON g.oid = "
                       "m.roleid WHERE r.rolname IN (") +
        listaLiterales(nombres) + QStringLiteral(") GROUP BY 1, 2"));
    ok = f.ok();
    error = f.error;
    QHash<QString, QPair<bool, QStringList>> servidor;
    for (auto& rs = f.rs; ok && !rs->eof(); rs->moveNext()) {
        servidor.insert(rs->text(0),
                        {rs->text(1) == QLatin1String("S"), rs->text(2).split(QLatin1Char(','), Qt::SkipEmptyParts)});
    }
    for (const StaffEsperado& e : esperados) {
        const auto it = servidor.constFind(e.rol);
        if (it == servidor.cend()) {
            continue;
        }
        QStringList falta;
        if (e.login && !it->first) {
            falta << QStringLiteral("no puede iniciar sesión");
        }
        if (!it->second.contains(e.grupo)) {
            falta << QStringLiteral("no pertenece al grupo ") + e.grupo;
        }
        if (!falta.isEmpty()) {
            incompletos << e.rol + QStringLiteral(" (") + falta.join(QStringLiteral("; ")) + QLatin1Char(')');
        }
    }
    return incompletos;
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
            fallas << QStringLiteral("No se logró crear el rol ") + g.rol + QStringLiteral(": ") + error;
        }
    }
    return fallas;
}

ResultadoLogins crearLoginsStaff(bool claveA) {
    ResultadoLogins r;
    const QSet<QString> grupos = gruposExistentes();
    const sql::Filas f = sql::filas(QStringLiteral("SELECT idanalista, usuario, clave FROM catalogos.analistas WHERE "
                                                   "usuario NOT IN (select usename FROM pg_user) ORDER by usuario"));
    if (!f.ok()) {
        r.ok = false;
        r.mensajeFatal = f.error;
        return r;
    }
    const auto& rs = f.rs;
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
            // Raw, as designed: directly on the connection just checked, never reopened behind its back.
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
        // The name is an identifier and the password a literal: O'Brien stays O'Brien. The login and its group
        // in one transaction: a run stopped between them leaves neither.
        const QString nombre = citarIdentificador(usuario);
        db::Transaccion t(sesion().ConexionPrincipal);
        db::DbError e;
        qint64 n = 0;
        if (!t.begin(e) || !t.connection().execute(QStringLiteral("CREATE USER ") + nombre +
                                                       QStringLiteral(" WITH ENCRYPTED PASSWORD ") +
                                                       citarLiteral(permiso.contrasena) + grupo->opciones,
                                                   n, e)) {
            t.rollback();
            if (e.isLostConnection()) {
                r.ok = false;
                r.mensajeFatal = e.description;
                return r;
            }
            // Nothing was made: a role of that name that is not a login belongs to someone else.
            r.noIncorporados << usuario;
            continue;
        }
        if (!t.connection().execute(QStringLiteral("GRANT ") + grupo->rol + QStringLiteral(" TO ") + nombre, n, e) ||
            !t.commit(e)) {
            t.rollback();
            if (e.isLostConnection()) {
                r.ok = false;
                r.mensajeFatal = e.description;
                return r;
            }
            r.fallas << QStringLiteral("No se logró asignar el usuario ") + usuario + QStringLiteral(" al grupo ") +
                            grupo->nombre;
        }
    }
    return r;
}

QStringList asignarPermisosRestauracion(const QStringList& esquemas) {
    QStringList fallas;
    const sql::Filas f =
        sql::filas(QStringLiteral("SELECT DISTINCT table_name, table_schema FROM information_schema.columns WHERE "
                                  "table_catalog = 'veliro7' AND table_schema IN (") +
                   listaLiterales(esquemas) + QStringLiteral(") ORDER BY table_schema, table_name"));
    if (!f.ok()) {
        return {QStringLiteral("No se logró leer las tablas del sistema: ") + f.error};
    }
    const auto& rs = f.rs;
    for (; !rs->eof(); rs->moveNext()) {
        const QString esquema = rs->text(QStringLiteral("table_schema"));
        const QString t = citarIdentificador(esquema, rs->text(QStringLiteral("table_name")));
        const QString noAsignado =
            QStringLiteral("No se logró asignar los permisos correspondientes al esquema ") + esquema;
        if (!EjecutarSQL(QStringLiteral("REVOKE ALL ON TABLE ") + t + QStringLiteral(" FROM public"))) {
            fallas << QStringLiteral("No se logró quitar los permisos públicos");
        }
        if (!EjecutarSQL(QStringLiteral("GRANT ALL ON TABLE ") + t + QStringLiteral(" TO v7_super"))) {
            fallas << noAsignado + QStringLiteral(" para el rol v7_super");
        }
        for (const char* g : {"v7_admin", "v7_usuario1", "v7_usuario2"}) {
            if (!EjecutarSQL(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE ") + t +
                             QStringLiteral(" TO ") + QString::fromLatin1(g))) {
                fallas << noAsignado + QStringLiteral(" para el rol ") + QString::fromLatin1(g);
            }
        }
    }
    // Without USAGE on the schema and the sequences' privileges the table grants are of no use: a restore
    // onto a new server would leave the staff unable to read or add a row.
    for (const QString& esquema : esquemas) {
        if (!existeEsquema(esquema)) {
            continue;
        }
        const QString e = citarIdentificador(esquema);
        if (!EjecutarSQL(QStringLiteral("GRANT USAGE ON SCHEMA ") + e +
                         QStringLiteral(" TO v7_super, v7_admin, v7_usuario1, v7_usuario2"))) {
            fallas << QStringLiteral("No se asignaron los permisos \"USAGE\" al esquema ") + esquema;
        }
        if (!EjecutarSQL(QStringLiteral("GRANT ALL ON ALL SEQUENCES IN SCHEMA ") + e +
                         QStringLiteral(" TO v7_super")) ||
            !EjecutarSQL(QStringLiteral("GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA ") + e +
                         QStringLiteral(" TO v7_admin, v7_usuario1, v7_usuario2"))) {
            fallas << QStringLiteral("No se logró asignar los permisos correspondientes al esquema ") + esquema +
                          QStringLiteral(" para las secuencias");
        }
    }
    // The table grants above reach the staff rows too: they are made private again.
    const QString protegidas = ProtegerAnalistas();
    if (!protegidas.isEmpty()) {
        fallas << protegidas;
    }
    return fallas;
}

QStringList rolesDeSentencia(const QString& sentencia) {
    const QVector<Token> t = tokens(sentencia);
    QStringList roles;
    if (t.isEmpty()) {
        return roles;
    }
    if (t[0].es("SET") && t.size() >= 4 && t[1].es("SESSION") && t[2].es("AUTHORIZATION")) {
        int i = 3;
        const QString r = t[i].tipo == Token::Literal ? t[i].texto : rolEn(t, i);
        if (!r.isEmpty() && !t[3].es("DEFAULT")) {
            roles << r;
        }
        return roles;
    }
    int desde = 0;
    if (t[0].es("ALTER") && t.size() > 2 && t[1].es("DEFAULT") && t[2].es("PRIVILEGES")) {
        for (int i = 3; i + 1 < t.size(); ++i) {
            if (t[i].es("FOR") && (t[i + 1].es("ROLE") || t[i + 1].es("USER"))) {
                lista(t, i + 2, {"IN", "GRANT", "REVOKE"}, roles);
                break;
            }
        }
        const int g = buscar(t, "GRANT", 3);
        const int r = buscar(t, "REVOKE", 3);
        desde = g >= 0 ? g : r;
        if (desde < 0) {
            return roles;
        }
    }
    if (t[desde].es("GRANT")) {
        const int on = buscar(t, "ON", desde);
        const int to = buscar(t, "TO", on >= 0 ? on : desde);
        if (to >= 0) {
            lista(t, to + 1, {"WITH", "GRANTED"}, roles);
            otorgante(t, to, roles);
        }
    } else if (t[desde].es("REVOKE")) {
        const int on = buscar(t, "ON", desde);
        const int from = buscar(t, "FROM", on >= 0 ? on : desde);
        if (from >= 0) {
            lista(t, from + 1, {"GRANTED", "CASCADE", "RESTRICT"}, roles);
            otorgante(t, from, roles);
        }
    } else if (t[0].es("CREATE") && t.size() > 1 && t[1].es("POLICY")) {
        const int on = buscar(t, "ON", 2);
        const int to = on >= 0 ? buscar(t, "TO", on) : -1;
        if (to >= 0) {
            lista(t, to + 1, {"USING", "WITH"}, roles);
        }
    }
    return roles;
}

} // namespace v7
