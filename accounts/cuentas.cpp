#include "accounts/cuentas.h"

#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/db.h"

#include <QDateTime>
#include <QRegularExpression>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The fixed part of each outcome's message and its icon, in one place.
ResultadoCuenta resultado(PasoCuenta paso, const QString& detalle = QString()) {
    auto con = [&detalle](const QString& texto) { return texto + kCrLf + detalle; };
    switch (paso) {
    case PasoCuenta::Hecho:
        return {paso, detalle, MsgIcon::Information};
    case PasoCuenta::LoginEnUso:
        return {paso,
                QStringLiteral("El nombre de usuario que intenta crear, actualmente ya esta siendo utilizado") + kCrLf +
                    QStringLiteral("por otro usuario. Verifique lo anterior en inténtelo nuevamente"),
                MsgIcon::Critical};
    case PasoCuenta::NoSeCreo:
        return {paso, QStringLiteral("No se creo el usuario"), MsgIcon::Critical};
    case PasoCuenta::SinGrupo:
        return {paso, detalle, MsgIcon::None};
    case PasoCuenta::SinFila:
        return {paso, QStringLiteral("No se grabo el registro en la tabla de analistas"), MsgIcon::Critical};
    case PasoCuenta::RenombreRehusado:
        return {paso,
                QStringLiteral("No se puede cambiar nombre de usuario debido a que tiene ejemplares asignados en el "
                               "módulo de Análisis"),
                MsgIcon::Critical};
    case PasoCuenta::RenombreSinContrasena:
        return {paso,
                QStringLiteral("Para cambiar el nombre de usuario es necesario escribir nuevamente la contraseña"),
                MsgIcon::Critical};
    case PasoCuenta::RenombreFallo:
        return {paso, con(QStringLiteral("No se logró cambiar el nombre de usuario.")), MsgIcon::Critical};
    case PasoCuenta::ContrasenaFallo:
        return {paso, con(QStringLiteral("No se logró cambiar la contraseña.")), MsgIcon::Critical};
    case PasoCuenta::VigenciaFallo:
        return {paso, con(QStringLiteral("No se logró cambiar la vigencia.")), MsgIcon::Critical};
    case PasoCuenta::GrupoFallo:
        return {paso, con(QStringLiteral("No se logró cambiar el grupo.")), MsgIcon::Critical};
    case PasoCuenta::FilaFallo:
        return {paso, detalle, MsgIcon::Critical};
    case PasoCuenta::RolFallo:
        return {paso, con(QStringLiteral("No se logró eliminar el usuario de la tabla del sistema")),
                MsgIcon::Critical};
    case PasoCuenta::ErrorGeneral:
        return {paso, detalle, MsgIcon::Critical};
    }
    return {paso, detalle, MsgIcon::Critical};
}

ResultadoCuenta errorGeneral(qint64 numero, const QString& causa) {
    return resultado(PasoCuenta::ErrorGeneral, QStringLiteral("Ha ocurrido el Error No.: ") + QString::number(numero) +
                                                   kCrLf + QStringLiteral("Causa: ") + causa);
}

ResultadoCuenta errorGeneral(const db::DbError& e) {
    return errorGeneral(e.number, e.description);
}

// The shared connection as a transaction needs it (created, closed, when there is none yet).
std::shared_ptr<db::Connection> conexion() {
    conexionPrincipal();
    return sesion().ConexionPrincipal;
}

// One action's transaction: every statement is checked, and leaving without commit() undoes all.
class Accion {
public:
    Accion() : m_tx(conexion()) {}

    bool comenzar(db::DbError& e) { return m_tx.begin(e); }
    bool ejecutar(const QString& sql, QString& error, qint64* filas = nullptr) {
        db::DbError e;
        qint64 n = 0;
        if (!m_tx.connection().execute(sql, n, e)) {
            error = e.description;
            return false;
        }
        if (filas != nullptr) {
            *filas = n;
        }
        return true;
    }
    std::unique_ptr<db::Recordset> consultar(const QString& sql, db::DbError& e) {
        return m_tx.connection().query(sql, e);
    }
    bool confirmar(db::DbError& e) { return m_tx.commit(e); }

private:
    db::Transaccion m_tx;
};

QString vigenciaSql(const DatosCuenta& d) {
    return d.indefinida ? QStringLiteral(" VALID UNTIL 'infinity'")
                        : QStringLiteral(" VALID UNTIL '") + d.vigencia.toString(Qt::ISODate) + QLatin1Char('\'');
}

} // namespace

bool loginValido(const QString& login) {
    static const QRegularExpression valido(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_]+")));
    return valido.match(login).hasMatch();
}

ResultadoCuenta CrearCuenta(const DatosCuenta& d, const QString& captionGrupo) {
    const QString rol = citarIdentificador(d.login);
    db::DbError e;
    // 1. A login of that name already.
    {
        auto rs = conexion()->query(
            QStringLiteral("SELECT usename, usesysid FROM pg_user WHERE usename = ") + citarLiteral(d.login), e);
        if (!rs) {
            return errorGeneral(e);
        }
        if (!rs->eof()) {
            return resultado(PasoCuenta::LoginEnUso);
        }
    }
    // The permission text before anything is sent: a scrambler that cannot choose its key stops here.
    bool ok = false;
    QString motivo;
    const QString clave = GenerarClaveModulos(d.contrasena, d.grupo, d.modulos, &ok, &motivo);
    if (!ok) {
        return errorGeneral(err::kTiposNoCoinciden, motivo);
    }

    Accion a;
    if (!a.comenzar(e)) {
        return errorGeneral(e);
    }
    QString error;
    // 2. The role.
    QString crear = QStringLiteral("CREATE ROLE ") + rol + QStringLiteral(" LOGIN ENCRYPTED PASSWORD ") +
                    citarLiteral(d.contrasena);
    if (d.grupo == 1) {
        crear += QStringLiteral(" SUPERUSER");
    }
    if (d.grupo == 1 || d.grupo == 2) {
        crear += QStringLiteral(" CREATEROLE");
    }
    crear += vigenciaSql(d);
    if (!a.ejecutar(crear, error)) {
        return resultado(PasoCuenta::NoSeCreo);
    }
    // 3. Its group and the database.
    if (!a.ejecutar(QStringLiteral("GRANT ") + citarIdentificador(NombreGrupo(d.grupo)) + QStringLiteral(" TO ") + rol,
                    error) ||
        !a.ejecutar(QStringLiteral("GRANT CONNECT ON DATABASE veliro7 TO ") + rol, error)) {
        return resultado(PasoCuenta::SinGrupo, QStringLiteral("No se logro asignar el usuario ") + d.login +
                                                   QStringLiteral(" al grupo ") + captionGrupo + kCrLf + error);
    }
    // 4. The staff row.
    if (!a.ejecutar(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave, idbiblioteca) VALUES (") +
                        citarLiteral(d.login) + QLatin1Char(',') + citarLiteral(d.nombre) + QLatin1Char(',') +
                        citarLiteral(clave) + QStringLiteral(", ") + QString::number(d.idBiblioteca) + QLatin1Char(')'),
                    error)) {
        return resultado(PasoCuenta::SinFila);
    }
    if (!a.confirmar(e)) {
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
    // 3. Items of the analysis module assigned to the login keep its name.
    if (renombrar) {
        auto rs = conexion()->query(QStringLiteral("SELECT count(idanalistaasignado) AS cuantos FROM "
                                                   "analisis.ejemplaresdetallesdpi WHERE idanalistaasignado = ") +
                                        citarLiteral(antes.login) +
                                        QStringLiteral(" AND idanalistaregistroenfichadpi ISNULL "),
                                    e);
        if (!rs) {
            return errorGeneral(e);
        }
        if (rs->text(QStringLiteral("cuantos")).toLongLong() >= 1) {
            return resultado(PasoCuenta::RenombreRehusado);
        }
    }

    Accion a;
    if (!a.comenzar(e)) {
        return errorGeneral(e);
    }
    // The password part of the row: the new password, or the one the row holds (the password box
    // shows the server's mask, never the password).
    QString contrasena = d.contrasena;
    if (!antes.contrasenaCambiada) {
        auto rs = a.consultar(QStringLiteral("SELECT clave FROM catalogos.analistas WHERE idanalista = ") +
                                  QString::number(idAnalista) + QStringLiteral(" FOR UPDATE"),
                              e);
        if (!rs) {
            return errorGeneral(e);
        }
        if (rs->eof()) {
            return resultado(PasoCuenta::FilaFallo,
                             QStringLiteral("Ocurrió un error al intentar cambiar los valores en la tabla analistas") +
                                 kCrLf + QStringLiteral("El registro del usuario ya no existe."));
        }
        contrasena = leerClave(rs->text(QStringLiteral("clave")), false).contrasena;
    }
    bool ok = false;
    QString motivo;
    const QString clave = GenerarClaveModulos(contrasena, d.grupo, d.modulos, &ok, &motivo);
    if (!ok) {
        return errorGeneral(err::kTiposNoCoinciden, motivo);
    }

    QString error;
    // 4.
    if (renombrar && !a.ejecutar(QStringLiteral("ALTER ROLE ") + citarIdentificador(antes.login) +
                                     QStringLiteral(" RENAME TO ") + rol,
                                 error)) {
        return resultado(PasoCuenta::RenombreFallo, error);
    }
    // 5.
    if (antes.contrasenaCambiada &&
        !a.ejecutar(QStringLiteral("ALTER ROLE ") + rol + QStringLiteral(" PASSWORD ") + citarLiteral(d.contrasena),
                    error)) {
        return resultado(PasoCuenta::ContrasenaFallo, error);
    }
    // 6.
    if (!a.ejecutar(QStringLiteral("ALTER ROLE ") + rol + vigenciaSql(d), error)) {
        return resultado(PasoCuenta::VigenciaFallo, error);
    }
    // 7. The attributes of the new group, its membership, and the old one's taken away.
    if (d.grupo != antes.grupo) {
        const QString atributos = d.grupo == 1   ? QStringLiteral(" SUPERUSER CREATEROLE")
                                  : d.grupo == 2 ? QStringLiteral(" NOSUPERUSER CREATEROLE")
                                                 : QStringLiteral(" NOSUPERUSER NOCREATEROLE");
        const QString viejo = NombreGrupo(antes.grupo);
        if (!a.ejecutar(QStringLiteral("ALTER ROLE ") + rol + atributos, error) ||
            !a.ejecutar(QStringLiteral("GRANT ") + citarIdentificador(NombreGrupo(d.grupo)) + QStringLiteral(" TO ") +
                            rol,
                        error) ||
            (!viejo.isEmpty() &&
             !a.ejecutar(QStringLiteral("REVOKE ") + citarIdentificador(viejo) + QStringLiteral(" FROM ") + rol,
                         error))) {
            return resultado(PasoCuenta::GrupoFallo, error);
        }
    }
    // 9. The staff row.
    qint64 filas = 0;
    const bool escrita =
        a.ejecutar(QStringLiteral("UPDATE catalogos.analistas SET usuario = ") + citarLiteral(d.login) +
                       QStringLiteral(", nombre = ") + citarLiteral(d.nombre) + QStringLiteral(", clave = ") +
                       citarLiteral(clave) + QStringLiteral(", idbiblioteca = ") + QString::number(d.idBiblioteca) +
                       QStringLiteral(" WHERE idanalista = ") + QString::number(idAnalista),
                   error, &filas);
    if (!escrita || filas == 0) {
        return resultado(PasoCuenta::FilaFallo,
                         QStringLiteral("Ocurrió un error al intentar cambiar los valores en la tabla analistas") +
                             kCrLf + (escrita ? QStringLiteral("El registro del usuario ya no existe.") : error));
    }
    if (!a.confirmar(e)) {
        return errorGeneral(e);
    }
    return resultado(PasoCuenta::Hecho, QStringLiteral("El usuario se ha modificado correctamente"));
}

ResultadoCuenta EliminarCuenta(const QString& login, const QString& usuarioSesion) {
    const QString rol = citarIdentificador(login);
    db::DbError e;
    Accion a;
    if (!a.comenzar(e)) {
        return errorGeneral(e);
    }
    QString error;
    for (const QString& sql : {QStringLiteral("REASSIGN OWNED BY ") + rol + QStringLiteral(" TO ") +
                                   citarIdentificador(usuarioSesion.trimmed()),
                               QStringLiteral("REVOKE ALL ON DATABASE veliro7 FROM ") + rol,
                               QStringLiteral("DROP OWNED BY ") + rol + QStringLiteral(" CASCADE"),
                               QStringLiteral("DROP ROLE IF EXISTS ") + rol}) {
        if (!a.ejecutar(sql, error)) {
            return resultado(PasoCuenta::RolFallo, error);
        }
    }
    if (!a.ejecutar(QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = ") + citarLiteral(login), error)) {
        return resultado(PasoCuenta::FilaFallo,
                         QStringLiteral("No se logró eliminar el usuario de la tabla Analistas") + error);
    }
    if (!a.confirmar(e)) {
        return errorGeneral(e);
    }
    return resultado(PasoCuenta::Hecho, QStringLiteral("El usuario \" ") + login +
                                            QStringLiteral(" \" ha sido eliminado de la base de datos"));
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
