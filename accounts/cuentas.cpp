#include "accounts/cuentas.h"

#include "core/cifrado.h"
#include "core/errores.h"
#include "core/sqlutil.h"
#include "platform/db.h"

#include <QDateTime>
#include <QRegularExpression>

namespace v7 {

namespace {

using err::kCrLf;

// The fixed part of each outcome's message and its severity, in one place. A failure of the server gives its
// Spanish sentence and the server's own words after the fixed part.
ResultadoCuenta resultado(PasoCuenta paso, const QString& detalle = QString()) {
    auto con = [&detalle](const QString& texto) { return err::textoParaUsuario(texto, detalle); };
    switch (paso) {
    case PasoCuenta::Hecho:
        return {paso, detalle, Gravedad::Informacion};
    case PasoCuenta::LoginEnUso:
        return {paso,
                QStringLiteral("El nombre de usuario que intenta crear, actualmente ya esta siendo utilizado") + kCrLf +
                    QStringLiteral("por otro usuario. Verifique lo anterior en inténtelo nuevamente"),
                Gravedad::Error};
    case PasoCuenta::NoSeCreo:
        return {paso, con(QStringLiteral("No se creo el usuario")), Gravedad::Error};
    case PasoCuenta::SinGrupo:
    case PasoCuenta::FilaFallo:
    case PasoCuenta::RolFallo:
    case PasoCuenta::CuentaPropia:
    case PasoCuenta::CuentaConObjetos:
    case PasoCuenta::ErrorGeneral:
        // A group that could not be granted is told in a plain box.
        return {paso, detalle, paso == PasoCuenta::SinGrupo ? std::nullopt : std::optional(Gravedad::Error)};
    case PasoCuenta::SinFila:
        return {paso, con(QStringLiteral("No se grabo el registro en la tabla de analistas")), Gravedad::Error};
    case PasoCuenta::RenombreRehusado:
        return {paso,
                QStringLiteral("No se puede cambiar nombre de usuario debido a que tiene ejemplares asignados en el "
                               "módulo de Análisis"),
                Gravedad::Error};
    case PasoCuenta::RenombreSinContrasena:
        return {paso,
                QStringLiteral("Para cambiar el nombre de usuario es necesario escribir nuevamente la contraseña"),
                Gravedad::Error};
    case PasoCuenta::RenombreFallo:
        return {paso, con(QStringLiteral("No se logró cambiar el nombre de usuario.")), Gravedad::Error};
    case PasoCuenta::ContrasenaFallo:
        return {paso, con(QStringLiteral("No se logró cambiar la contraseña.")), Gravedad::Error};
    case PasoCuenta::VigenciaFallo:
        return {paso, con(QStringLiteral("No se logró cambiar la vigencia.")), Gravedad::Error};
    case PasoCuenta::GrupoFallo:
        return {paso, con(QStringLiteral("No se logró cambiar el grupo.")), Gravedad::Error};
    }
    return {paso, detalle, Gravedad::Error};
}

ResultadoCuenta errorGeneral(qint64 numero, const QString& causa) {
    return resultado(PasoCuenta::ErrorGeneral,
                     err::ocurrio(err::kHaOcurridoErrorNo, numero, {QStringLiteral("Causa: ") + causa}));
}

// A failure of the server: its Spanish sentence and its own words, never the statement.
ResultadoCuenta errorGeneral(const db::DbError& e) {
    return resultado(PasoCuenta::ErrorGeneral,
                     err::textoParaUsuario(err::ocurrio(err::kHaOcurridoErrorNo, e.number), e.description));
}

// The same for a query of the SQL layer, whose failures carry the provider's number.
ResultadoCuenta errorGeneral(const QString& errorText) {
    return resultado(PasoCuenta::ErrorGeneral,
                     err::textoParaUsuario(err::ocurrio(err::kHaOcurridoErrorNo, db::kProviderErrorNumber), errorText));
}

const QString kFilaNoCambiada =
    QStringLiteral("Ocurrió un error al intentar cambiar los valores en la tabla analistas");

// One statement of an action's transaction (leaving without commit() undoes them all). It runs on the
// connection the transaction began on and is never run again on a reopened one, where it would commit on its
// own; the caller reads the server's error, its SQLSTATE among it.
bool ejecutar(db::Transaccion& tx, const QString& sql, db::DbError& e, qint64* filas = nullptr) {
    qint64 n = 0;
    e = db::DbError{};
    if (!tx.connection().execute(sql, n, e)) {
        return false;
    }
    if (filas != nullptr) {
        *filas = n;
    }
    return true;
}

QString vigenciaSql(const DatosCuenta& d) {
    return d.indefinida ? QStringLiteral(" VALID UNTIL 'infinity'")
                        : QStringLiteral(" VALID UNTIL '") + d.vigencia.toString(Qt::ISODate) + QLatin1Char('\'');
}

} // namespace

bool loginValido(const QString& login) {
    static const QRegularExpression valido(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_]+")));
    return valido.match(login).hasMatch();
}

QString motivoLoginRechazado(const QString& login) {
    if (login.isEmpty()) {
        return QStringLiteral("Es necesario proporcionar un nombre de usuario");
    }
    if (!loginValido(login)) {
        return QStringLiteral("El nombre de usuario solo puede contener letras sin acentos, números y el guion bajo "
                              "\"_\"");
    }
    if (login.toUtf8().size() > kLongitudMaximaLogin) {
        return QStringLiteral("El nombre de usuario no puede tener más de %1 caracteres; el que escribió tiene %2.")
            .arg(kLongitudMaximaLogin)
            .arg(login.size());
    }
    return QString();
}

QString motivoContrasenaRechazada(const QString& contrasena) {
    QString fuera;
    if (cabeEnWindows1252(contrasena, &fuera)) {
        return QString();
    }
    return QStringLiteral("La contraseña contiene el carácter \"%1\", que no se puede guardar en el registro del "
                          "usuario. Utilice letras del alfabeto latino, números y signos comunes.")
        .arg(fuera);
}

ResultadoCuenta CrearCuenta(const DatosCuenta& d, const QString& captionGrupo) {
    const QString rol = citarIdentificador(d.login);
    db::DbError e;
    // A login of that name already.
    const sql::Valor existente =
        sql::valor(QStringLiteral("SELECT usename, usesysid FROM pg_user WHERE usename = ") + citarLiteral(d.login));
    if (!existente.ok()) {
        return errorGeneral(existente.error);
    }
    if (existente.hayFila) {
        return resultado(PasoCuenta::LoginEnUso);
    }
    // The permission text before anything is sent: a scrambler that cannot choose its key stops here.
    bool ok = false;
    QString motivo;
    const QString clave = GenerarClaveModulos(d.contrasena, d.grupo, d.modulos, &ok, &motivo);
    if (!ok) {
        return errorGeneral(err::kTiposNoCoinciden, motivo);
    }

    db::Transaccion tx = sql::transaccion();
    if (!tx.begin(e)) {
        return errorGeneral(e);
    }
    // The role.
    QString crear = QStringLiteral("CREATE ROLE ") + rol + QStringLiteral(" LOGIN ENCRYPTED PASSWORD ") +
                    citarLiteral(d.contrasena);
    if (d.grupo == 1) {
        crear += QStringLiteral(" SUPERUSER");
    }
    if (d.grupo == 1 || d.grupo == 2) {
        crear += QStringLiteral(" CREATEROLE");
    }
    crear += vigenciaSql(d);
    if (!ejecutar(tx, crear, e)) {
        return resultado(PasoCuenta::NoSeCreo, e.description);
    }
    // Its group and the database. The database is granted only where everyone may not connect already: a
    // grant of the database's owner is one that only a superuser can take back, and it would keep an
    // administrator from ever removing the account.
    bool conectaTodos = false;
    if (auto rs =
            tx.connection().query(QStringLiteral("SELECT has_database_privilege('public', 'veliro7', 'CONNECT')"), e)) {
        const QString v = rs->text(0).toLower();
        conectaTodos = v == QLatin1String("1") || v == QLatin1String("t") || v == QLatin1String("true");
    }
    if (!ejecutar(tx,
                  QStringLiteral("GRANT ") + citarIdentificador(NombreGrupo(d.grupo)) + QStringLiteral(" TO ") + rol,
                  e) ||
        (!conectaTodos && !ejecutar(tx, QStringLiteral("GRANT CONNECT ON DATABASE veliro7 TO ") + rol, e))) {
        return resultado(PasoCuenta::SinGrupo,
                         err::textoParaUsuario(QStringLiteral("No se logro asignar el usuario ") + d.login +
                                                   QStringLiteral(" al grupo ") + captionGrupo,
                                               e.description));
    }
    // The staff row.
    if (!ejecutar(tx,
                  QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave, idbiblioteca) VALUES (") +
                      citarLiteral(d.login) + QLatin1Char(',') + citarLiteral(d.nombre) + QLatin1Char(',') +
                      citarLiteral(clave) + QStringLiteral(", ") + QString::number(d.idBiblioteca) + QLatin1Char(')'),
                  e)) {
        return resultado(PasoCuenta::SinFila, e.description);
    }
    if (!tx.commit(e)) {
        return errorGeneral(e);
    }
    return resultado(PasoCuenta::Hecho, QStringLiteral("El usuario se ha grabado satisfactoriamente"));
}

ResultadoCuenta ModificarCuenta(const DatosCuenta& d, const CuentaAnterior& antes) {
    const bool renombrar = d.login != antes.login;
    const QString rol = citarIdentificador(d.login);
    bool numero = false;
    const qint64 idAnalista = antes.idAnalista.toLongLong(&numero);
    if (!numero) {
        return errorGeneral(err::kTiposNoCoinciden, err::descripcion(err::kTiposNoCoinciden));
    }
    db::DbError e;
    // A renamed login must be given its password again (a renamed MD5 password is cleared).
    if (renombrar && !antes.contrasenaCambiada) {
        return resultado(PasoCuenta::RenombreSinContrasena);
    }
    // Items of the analysis module assigned to the login keep its name.
    if (renombrar) {
        const sql::Valor asignados =
            sql::valor(QStringLiteral("SELECT count(idanalistaasignado) AS cuantos FROM "
                                      "analisis.ejemplaresdetallesdpi WHERE "
                                      "idanalistaasignado = ") +
                       citarLiteral(antes.login) + QStringLiteral(" AND idanalistaregistroenfichadpi ISNULL "));
        if (!asignados.ok()) {
            return errorGeneral(asignados.error);
        }
        if (asignados.texto().toLongLong() >= 1) {
            return resultado(PasoCuenta::RenombreRehusado);
        }
    }

    db::Transaccion tx = sql::transaccion();
    if (!tx.begin(e)) {
        return errorGeneral(e);
    }
    // The password part of the row: the new password, or the one the row holds (the password box
    // shows the server's mask, never the password).
    QString contrasena = d.contrasena;
    if (!antes.contrasenaCambiada) {
        auto rs = tx.connection().query(QStringLiteral("SELECT clave FROM catalogos.analistas WHERE idanalista = ") +
                                            QString::number(idAnalista) + QStringLiteral(" FOR UPDATE"),
                                        e);
        if (!rs) {
            return resultado(PasoCuenta::FilaFallo, err::textoParaUsuario(kFilaNoCambiada, e.description));
        }
        if (rs->eof()) {
            return resultado(PasoCuenta::FilaFallo,
                             kFilaNoCambiada + kCrLf + QStringLiteral("El registro del usuario ya no existe."));
        }
        contrasena = leerClave(rs->text(QStringLiteral("clave")), false).contrasena;
    }
    bool ok = false;
    QString motivo;
    const QString clave = GenerarClaveModulos(contrasena, d.grupo, d.modulos, &ok, &motivo);
    if (!ok) {
        return errorGeneral(err::kTiposNoCoinciden, motivo);
    }

    if (renombrar &&
        !ejecutar(tx,
                  QStringLiteral("ALTER ROLE ") + citarIdentificador(antes.login) + QStringLiteral(" RENAME TO ") + rol,
                  e)) {
        return resultado(PasoCuenta::RenombreFallo, e.description);
    }
    if (antes.contrasenaCambiada &&
        !ejecutar(tx, QStringLiteral("ALTER ROLE ") + rol + QStringLiteral(" PASSWORD ") + citarLiteral(d.contrasena),
                  e)) {
        return resultado(PasoCuenta::ContrasenaFallo, e.description);
    }
    if (!ejecutar(tx, QStringLiteral("ALTER ROLE ") + rol + vigenciaSql(d), e)) {
        return resultado(PasoCuenta::VigenciaFallo, e.description);
    }
    // The attributes of the new group, its membership, and the old one's taken away. The superuser attribute
    // is named only where it changes: only a superuser may name it at all, and an administrator, who never
    // sees a superuser's account, changes groups too.
    if (d.grupo != antes.grupo) {
        bool esSuperusuario = false;
        if (d.grupo != 1) {
            auto rs = tx.connection().query(
                QStringLiteral("SELECT rolsuper FROM pg_roles WHERE rolname = ") + citarLiteral(d.login), e);
            if (!rs) {
                return resultado(PasoCuenta::GrupoFallo, e.description);
            }
            const QString v = rs->eof() ? QString() : rs->text(0).toLower();
            esSuperusuario = v == QLatin1String("1") || v == QLatin1String("t") || v == QLatin1String("true");
        }
        const QString atributos = d.grupo == 1   ? QStringLiteral(" SUPERUSER CREATEROLE")
                                  : d.grupo == 2 ? QStringLiteral(" CREATEROLE")
                                                 : QStringLiteral(" NOCREATEROLE");
        const QString viejo = NombreGrupo(antes.grupo);
        if (!ejecutar(tx,
                      QStringLiteral("ALTER ROLE ") + rol +
                          (esSuperusuario ? QStringLiteral(" NOSUPERUSER") : QString()) + atributos,
                      e) ||
            !ejecutar(
                tx, QStringLiteral("GRANT ") + citarIdentificador(NombreGrupo(d.grupo)) + QStringLiteral(" TO ") + rol,
                e) ||
            (!viejo.isEmpty() &&
             !ejecutar(tx, QStringLiteral("REVOKE ") + citarIdentificador(viejo) + QStringLiteral(" FROM ") + rol,
                       e))) {
            return resultado(PasoCuenta::GrupoFallo, e.description);
        }
    }
    // The staff row.
    qint64 filas = 0;
    const bool escrita =
        ejecutar(tx,
                 QStringLiteral("UPDATE catalogos.analistas SET usuario = ") + citarLiteral(d.login) +
                     QStringLiteral(", nombre = ") + citarLiteral(d.nombre) + QStringLiteral(", clave = ") +
                     citarLiteral(clave) + QStringLiteral(", idbiblioteca = ") + QString::number(d.idBiblioteca) +
                     QStringLiteral(" WHERE idanalista = ") + QString::number(idAnalista),
                 e, &filas);
    if (!escrita) {
        return resultado(PasoCuenta::FilaFallo, err::textoParaUsuario(kFilaNoCambiada, e.description));
    }
    if (filas == 0) {
        return resultado(PasoCuenta::FilaFallo,
                         kFilaNoCambiada + kCrLf + QStringLiteral("El registro del usuario ya no existe."));
    }
    if (!tx.commit(e)) {
        return errorGeneral(e);
    }
    return resultado(PasoCuenta::Hecho, QStringLiteral("El usuario se ha modificado correctamente"));
}

ResultadoCuenta EliminarCuenta(const QString& login, const QString& usuarioSesion) {
    const QString rol = citarIdentificador(login);
    const QString rolQuitado = QStringLiteral("No se logró eliminar el usuario de la tabla del sistema");
    db::DbError e;
    // Whose session this is, whether it may act for the login (hand its objects over, drop what it owns),
    // and what the login owns in any database.
    const sql::Filas cuenta = sql::filas(
        QStringLiteral("SELECT session_user::text AS sesion, (SELECT pg_has_role(r.oid, 'USAGE') FROM pg_roles r "
                       "WHERE r.rolname = %1) AS actua, (SELECT count(*) FROM pg_shdepend d JOIN pg_roles r ON "
                       "d.refobjid = r.oid WHERE d.refclassid = 'pg_authid'::regclass AND d.deptype = 'o' AND "
                       "r.rolname = %1) AS objetos")
            .arg(citarLiteral(login)));
    if (!cuenta.ok()) {
        return errorGeneral(cuenta.error);
    }
    const db::Recordset* rs = cuenta.rs.get();
    if (login == rs->text(QStringLiteral("sesion")) || login == usuarioSesion.trimmed()) {
        return resultado(PasoCuenta::CuentaPropia,
                         QStringLiteral("No se puede eliminar al usuario \"") + login +
                             QStringLiteral("\": es el usuario con el que se inició esta sesión."));
    }
    const QString actua = rs->text(QStringLiteral("actua")).toLower();
    // A login that no longer exists takes the full batch, which says so.
    const bool puedeActuar =
        actua.isEmpty() || actua == QLatin1String("1") || actua == QLatin1String("t") || actua == QLatin1String("true");
    if (!puedeActuar && rs->text(QStringLiteral("objetos")).toLongLong() > 0) {
        return resultado(PasoCuenta::CuentaConObjetos,
                         QStringLiteral("No se puede eliminar al usuario \"") + login +
                             QStringLiteral("\": es dueño de objetos de la base de datos, y solo una sesión de "
                                            "superusuario puede traspasarlos. Elimínelo desde una sesión de "
                                            "superusuario."));
    }

    db::Transaccion tx = sql::transaccion();
    if (!tx.begin(e)) {
        return errorGeneral(e);
    }
    QStringList lote;
    if (puedeActuar) {
        lote << QStringLiteral("REASSIGN OWNED BY ") + rol + QStringLiteral(" TO ") +
                    citarIdentificador(usuarioSesion.trimmed());
    }
    lote << QStringLiteral("REVOKE ALL ON DATABASE veliro7 FROM ") + rol;
    if (puedeActuar) {
        lote << QStringLiteral("DROP OWNED BY ") + rol + QStringLiteral(" CASCADE");
    }
    lote << QStringLiteral("DROP ROLE IF EXISTS ") + rol;
    for (const QString& sql : lote) {
        if (!ejecutar(tx, sql, e)) {
            // Privileges granted to the login by someone else are what keep an administrator from dropping it.
            const QString porque =
                !puedeActuar && e.sqlState == QLatin1String("2BP01")
                    ? kCrLf + QStringLiteral("El usuario tiene permisos que solo una sesión de superusuario puede "
                                             "quitar. Elimínelo desde una sesión de superusuario.")
                    : QString();
            return resultado(PasoCuenta::RolFallo, err::textoParaUsuario(rolQuitado + porque, e.description));
        }
    }
    if (!ejecutar(tx, QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = ") + citarLiteral(login), e)) {
        return resultado(PasoCuenta::FilaFallo,
                         err::textoParaUsuario(QStringLiteral("No se logró eliminar el usuario de la tabla Analistas"),
                                               e.description));
    }
    if (!tx.commit(e)) {
        return errorGeneral(e);
    }
    return resultado(PasoCuenta::Hecho, QStringLiteral("El usuario \" ") + login +
                                            QStringLiteral(" \" ha sido eliminado de la base de datos"));
}

namespace {

const QString kCamposCuentas = QStringLiteral(
    "pg_user.usename, pg_user.passwd, pg_user.valuntil, pg_group.groname, nombre, clave, idanalista, idbiblioteca ");
const QString kDesdeCuentas =
    QStringLiteral("FROM pg_user, pg_group, catalogos.analistas WHERE pg_user.usesysid = ANY(pg_group.grolist) ");

// The accounts query of a class; empty for a class that sees none.
QString consultaCuentas(const QString& tipoUsuario) {
    const QString tipo = tipoUsuario.toLower();
    if (tipo == QLatin1String("superusuario") || tipo.isEmpty()) {
        return QStringLiteral("SELECT DISTINCT ON (pg_user.usename) ") + kCamposCuentas + kDesdeCuentas +
               QStringLiteral("AND usuario = usename");
    }
    if (tipo == QLatin1String("administrador")) {
        return QStringLiteral("SELECT ") + kCamposCuentas + kDesdeCuentas +
               QStringLiteral("AND usuario = usename AND pg_group.groname <> 'v7_super'");
    }
    return QString();
}

} // namespace

bool claseVeCuentas(const QString& tipoUsuario) {
    return !consultaCuentas(tipoUsuario).isEmpty();
}

sql::Filas leerCuentas(const QString& tipoUsuario) {
    return sql::filas(consultaCuentas(tipoUsuario));
}

sql::Filas leerBibliotecas() {
    return sql::filas(QStringLiteral("SELECT idbiblioteca, nombre FROM catalogos.bibliotecas ORDER BY idbiblioteca"));
}

bool vigenciaIndefinida(const std::optional<QString>& valuntil) {
    if (!valuntil) {
        return true;
    }
    const QString v = valuntil->trimmed().toLower();
    return v.isEmpty() || v == QLatin1String("infinity") || v.startsWith(QLatin1String("9999-12-31 23:59:59"));
}

std::optional<QDateTime> fechaVigencia(const std::optional<QString>& valuntil) {
    if (vigenciaIndefinida(valuntil)) {
        return std::nullopt;
    }
    // "yyyy-mm-dd hh:mm:ss[.ffffff][+zz]": the server's local time is what the administrator set.
    const QDateTime d = QDateTime::fromString(valuntil->trimmed().left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!d.isValid()) {
        return std::nullopt;
    }
    return d;
}

QString textoVigencia(const std::optional<QString>& valuntil) {
    if (vigenciaIndefinida(valuntil)) {
        return QStringLiteral("Indefinida");
    }
    const auto d = fechaVigencia(valuntil);
    return d ? d->toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : valuntil->trimmed();
}

} // namespace v7
