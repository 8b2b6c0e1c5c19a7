#include "autobackup/soporte.h"

#include "core/cifrado.h"
#include "core/config.h"
#include "core/errores.h"
#include "core/session.h"
#include "platform/keystore.h"
#include "platform/notify.h"

#include <optional>

namespace v7::autobackup {

namespace {

QString textoFecha(const QString& version) {
    const qsizetype guion = version.indexOf(QLatin1Char('-'));
    return (guion < 0 ? version : version.mid(guion + 1)).trimmed();
}

Falla noEsFecha(const QString& texto) {
    return Falla{kErrorTipos,
                 QStringLiteral("No coinciden los tipos: '") + texto + QStringLiteral("' no es una fecha")};
}

} // namespace

QString LeerRegistro(const QString& fullPath) {
    const keystore::KeyStore almacen;
    const keystore::ReadResult r = almacen.readValue(fullPath);
    if (r.error.isSet()) {
        // The store is named: "Permiso denegado" alone does not say which file to look at.
        avisar(MsgIcon::Critical,
               r.error.description + QStringLiteral(" (") + almacen.file() + QStringLiteral(")") + err::kCrLf +
                   QStringLiteral("RegRead, línea 1"),
               MsgButtons::Ok, QStringLiteral("Error") + QString::number(r.error.number));
        return QString();
    }
    return r.value;
}

QString DescifrarCadena(const QString& scrambled) {
    return v7::DescifrarCadena(scrambled, false);
}

std::optional<QString> CifrarCadena(const QString& plain, Falla& falla) {
    bool claveA = true;
    if (autobackup::ExisteColumna(QStringLiteral("config_veliro"), QStringLiteral("configuracion"))) {
        int count = 0;
        QString err;
        auto rs = autobackup::ExecuteSQLrs(
            QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = 'VER_V7TOOLS'"), count,
            err);
        if (!rs) {
            falla = Falla{db::kProviderErrorNumber, err};
            return std::nullopt;
        }
        const QString valor = rs->eof() ? QString() : rs->text(0);
        rs->close();
        const auto fecha = fechaDeVersion(valor);
        if (!fecha) {
            falla = noEsFecha(textoFecha(valor));
            return std::nullopt;
        }
        claveA = *fecha <= kFechaCambioClave;
    }
    return cifrarConClave(plain, claveA);
}

bool ValidarVersionModulo(const QString& key, const QString& version, QString& errorText, QString& stored) {
    stored.clear();
    if (key.trimmed().isEmpty() || version.trimmed().isEmpty() || !version.contains(QLatin1Char('-'))) {
        errorText = QStringLiteral("Alguno de los parámetros para la validación no es correcto");
        return false;
    }
    if (!autobackup::ExisteColumna(QStringLiteral("config_veliro"), QStringLiteral("configuracion"))) {
        errorText = QStringLiteral(
            "No existe la tabla de Validaciones de Versión 'configuracion', actualización ultra necesaria");
        return false;
    }
    const QString literalClave = autobackup::FormatearValorSQL(key, kTexto);
    const QString literalVersion = autobackup::FormatearValorSQL(version, kTexto);
    int count = 0;
    QString err;
    // Runs started at once for a module without its row would each insert one: the read and the write
    // hold the configuration table's writer lock in one transaction.
    std::optional<db::Transaccion> transaccion;
    if (const auto& c = sesion().ConexionPrincipal; c && c->isOpen()) {
        db::DbError e;
        QString sentencia;
        if (!bloquearConfiguracion(c, transaccion, e, sentencia)) {
            errorText = QStringLiteral("Error al recuperar información de versión del Módulo...") +
                        sqlErrorText(e, QStringLiteral("ValidarVersionModulo"), sentencia);
            return false;
        }
    }
    auto terminar = [&](bool pasa) {
        db::DbError e;
        if (pasa && transaccion && !transaccion->commit(e)) {
            errorText = QStringLiteral("Error al recuperar información de versión del Módulo...") +
                        sqlErrorText(e, QStringLiteral("ValidarVersionModulo"), QStringLiteral("COMMIT;"));
            return false;
        }
        return pasa;
    };
    auto rs = autobackup::ExecuteSQLrs(
        QStringLiteral("SELECT c.valor FROM config_veliro.configuracion c WHERE c.descripcion=") + literalClave, count,
        err);
    if (!rs) {
        errorText = QStringLiteral("Error al recuperar información de versión del Módulo...") + err;
        return false;
    }
    int rows = 0;
    if (rs->eof()) {
        rs->close();
        errorText =
            QStringLiteral("No existia  la información de versión del Modulo. Se actualizara la version del Módulo");
        if (!autobackup::ExecuteSQLaction(
                QStringLiteral("INSERT INTO config_veliro.configuracion (valor,descripcion) VALUES (") +
                    literalVersion + QLatin1Char(',') + literalClave + QStringLiteral(");"),
                rows, err)) {
            errorText += err::kCrLf + err;
            return false;
        }
        return terminar(true);
    }
    stored = rs->text(0);
    rs->close();

    const QString guardada = textoFecha(stored);
    const QString dada = textoFecha(version);
    if (guardada == dada) {
        errorText.clear();
        return terminar(true);
    }
    const auto fechaGuardada = fechaDeVersion(stored);
    const auto fechaDada = fechaDeVersion(version);
    if (!fechaGuardada || !fechaDada) {
        const Falla f = noEsFecha(fechaGuardada ? dada : guardada);
        errorText = QStringLiteral("Ocurrió un error imprevisto en la detección de la versión del módulo.") +
                    err::kCrLf + QString::number(f.numero) + QStringLiteral(", ") + f.descripcion;
        return false;
    }
    if (*fechaDada > *fechaGuardada) {
        errorText.clear();
        (void)autobackup::ExecuteSQLaction(QStringLiteral("UPDATE config_veliro.configuracion SET valor=") +
                                               literalVersion + QStringLiteral(" WHERE descripcion=") + literalClave,
                                           rows, err);
        return terminar(true);
    }
    errorText =
        QStringLiteral("La versión del Módulo actual es obsoleta. Es necesario actualizar su módulo de VELIRO7.");
    return false;
}

} // namespace v7::autobackup
