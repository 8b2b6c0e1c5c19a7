#include "core/inicio_sesion.h"

#include "core/config.h"
#include "core/errores.h"
#include "core/login.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/versiones.h"
#include "platform/netaddr.h"

namespace v7 {

using err::kCrLf;

namespace {

const QString kConsultaTablaAnalistas =
    QStringLiteral("SELECT distinct(table_schema) FROM information_schema.columns WHERE table_schema = 'catalogos' AND "
                   "table_name = 'analistas'");

const QString kConsultaVersionServidor = QStringLiteral("SELECT substring(version() FROM 1 FOR 14)");

// A stored Boolean as the login reads it: VERDADERO or TRUE in any case, anything else is false.
bool leidoVerdadero(const QString& valor) {
    const QString t = valor.toUpper();
    return t == QLatin1String("VERDADERO") || t == QLatin1String("TRUE");
}

AvisoInicio avisoRespaldosSinConfigurar() {
    return {fallo(QStringLiteral("! ! ! I M P O R T A N T E ¡ ¡ ¡") + kCrLf + kCrLf +
                  QStringLiteral("Es necesario programar los respaldos automáticos, esto permitirá contar con un "
                                 "respaldo de la información en caso de alguna contingencia en la computadora. Para "
                                 "realizar dicha configuración ") +
                  kCrLf + QStringLiteral("por favor diríjase a la opcion \"Respaldos\" ")),
            QStringLiteral("IMPORTANTE: aún no se configuran los respaldos automáticos")};
}

AvisoInicio avisoRespaldosFallidos(const QString& carpetaLog) {
    return {
        fallo(QStringLiteral("Se ha detectado que no se estan realizando los respaldos automáticos, esto puede ser por "
                             "alguna de las siguientes razones:") +
              kCrLf + QStringLiteral("- La pc se encuentra apagada a la hora en la cual se programó el respaldo ") +
              kCrLf +
              QStringLiteral("- Se eliminó la tarea del programador de tareas de Windows o marco algún conflicto") +
              kCrLf + kCrLf +
              QStringLiteral("Este último punto se puede conocer a través de un archivo log que se genera en el "
                             "servidor en la siguiente ubicación: ") +
              carpetaLog +
              QStringLiteral(", es necesario localizar dicha carpeta y posteriormente abrir el archivo más "
                             "reciente, ahi deberá indicar la causa por la cual no se generó el respaldo")),
        QString()};
}

AvisoInicio avisoNoSeGrabo(const QString& clave) {
    return {fallo(QStringLiteral("No se logró grabar la variable de configuración ") + clave), QString()};
}

} // namespace

QString textoFaltanParametros() {
    return QStringLiteral("No se puede inciar la sesión debido a que faltan parámetros de conexión. Verifique") +
           kCrLf + QStringLiteral("que la información correspondiente al Usuario, Password, Ip y Puerto no este vacia");
}

QString textoGrupoNoAdmitido() {
    return QStringLiteral(
        "Solo un usuario con permisos de Superusuario ó Administrador pueden hacer uso de esta funcionalidad");
}

QString textoOfrecerRestauracion() {
    return QStringLiteral("No se encontro la base de VELIRO7") + kCrLf +
           QStringLiteral("Se recomienda montar el último respaldo") + kCrLf + QString(12, QLatin1Char(' ')) +
           QStringLiteral("¿ Desea hacerlo ahora ?");
}

QString textoSinCatalogos() {
    return QStringLiteral("No se encontraron los catalogos de la base de veliro7");
}

QString textoDireccionNoLocal() {
    return QStringLiteral("Esta aplicación solo funciona en la PC donde se encuentra instalado el") + kCrLf +
           QStringLiteral("servidor de VELIRO7, si se utiliza fuera de esta no tendra acceso a las") + kCrLf +
           QStringLiteral("herramientas que lo integran.");
}

QString textoRestaurarNuevamente(const MarcaRestauracion& marca) {
    return textoRestauracionPendiente(marca) + kCrLf + kCrLf +
           QStringLiteral("Se recomienda restaurar nuevamente el respaldo antes de continuar.") + kCrLf +
           QString(12, QLatin1Char(' ')) + QStringLiteral("¿ Desea hacerlo ahora ?");
}

bool esDireccionLocal(const QString& servidor) {
    if (servidor == QLatin1String("127.0.0.1")) {
        return true;
    }
    return net::direccionesLocales().contains(servidor.trimmed());
}

namespace {

DecisionAcceso decidirClase(db::Connection& conexion) {
    DecisionAcceso d;
    auto falla = [&d](const db::DbError& e, int linea) {
        d.acceso = Acceso::Fallo;
        d.error = e;
        d.linea = linea;
        return d;
    };
    // Straight on the connection, not through the SQL layer: the login's failure handler classifies the
    // driver's own error (its number, SQLSTATE and words), which the layer's error text does not keep.
    db::DbError e;
    // Is there a staff table?
    auto rs = conexion.query(kConsultaTablaAnalistas, e);
    if (!rs) {
        return falla(e, 7);
    }
    if (rs->eof()) {
        // Not seen: missing, or hidden from a login without privileges on it (then the database is
        // there and no restore may be offered over it).
        auto existe = conexion.query(consultaExisteAnalistas(), e);
        if (!existe) {
            return falla(e, 7);
        }
        if (!existe->eof()) {
            conexion.close();
            d.acceso = Acceso::SinPermisos;
            return d;
        }
        d.acceso = Acceso::Concedido;
        d.tipoUsuario = QStringLiteral("superusuario");
        return d;
    }
    d.tieneCatalogos = true;
    rs->close();
    // The user class from the login's group role (only the first row counts).
    rs = conexion.query(consultaClaseUsuario(), e);
    if (!rs) {
        return falla(e, 8);
    }
    const QString grupo = rs->eof() ? QString() : rs->text(QStringLiteral("groname"));
    rs->close();
    d.tipoUsuario = claseDeGrupo(grupo);
    if (d.tipoUsuario.isEmpty()) {
        conexion.close();
        d.acceso = Acceso::GrupoNoAdmitido;
        return d;
    }
    d.acceso = Acceso::Concedido;
    d.grupoSuper = grupo == QLatin1String("v7_super");
    return d;
}

} // namespace

DecisionAcceso decidirAcceso(db::Connection& conexion) {
    DecisionAcceso d = decidirClase(conexion);
    if (d.acceso == Acceso::Concedido) {
        // A server mark that cannot be read leaves this folder's file mark to decide.
        d.restauracion = restauracionPendiente(conexion).pendiente;
    }
    return d;
}

std::optional<AvisoInicio> compuertaVersionHerramienta(const QString& versionHerramienta) {
    QString version = versionHerramienta;
    QString mensaje;
    const QString formateada = FormatearVersion(version, mensaje);
    QString almacenada;
    if (ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), formateada, mensaje, almacenada)) {
        return std::nullopt;
    }
    const QString titulo = QStringLiteral("Falta actualizar Módulo");
    if (!almacenada.isEmpty()) {
        return AvisoInicio{
            fallo(QStringLiteral("Se ha detectado que su Módulo de Administración no cuenta con la versión "
                                 "de actualización más reciente.") +
                      kCrLf + QStringLiteral("La última versión disponible es ") + almacenada + kCrLf + kCrLf + mensaje,
                  Gravedad::Aviso),
            titulo};
    }
    return AvisoInicio{
        fallo(QStringLiteral("Se ha detectado que su Módulo de Administración no coincide con la versión de "
                             "actualización más reciente.") +
                  kCrLf + QStringLiteral("Deberá actualizar su VELIRO7 para poder continuar") + kCrLf + mensaje,
              Gravedad::Aviso),
        titulo};
}

AvisosInicio avisosDeInicio(db::Connection& conexion, const QString& carpetaLog) {
    AvisosInicio r;
    // The staff table's layout version: a notice only.
    QString mensaje, versionTabla;
    if (!ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, mensaje, versionTabla)) {
        r.avisos.push_back({fallo(QStringLiteral("Error de versión de tablas. Actualizar con script") + kCrLf + mensaje,
                                  Gravedad::Informacion),
                            QString(), true});
    }
    // The server's version; a failure is not reported.
    int total = 0;
    QString errorTexto;
    if (auto v = ExecuteSQLrs(kConsultaVersionServidor, total, errorTexto); v && errorTexto.isEmpty() && !v->eof()) {
        r.versionServidor = v->text(0);
    }
    // The automatic backups; the driver's own error goes to the login's failure handler (see decidirAcceso).
    db::DbError e;
    auto cfg = conexion.query(kConsultaConfiguracion, e);
    if (!cfg) {
        r.fallo = true;
        r.error = e;
        r.linea = 16;
        return r;
    }
    const QString configurado = ObtenerValorConfiguracion(QStringLiteral("RESPALDOCONFIG"), *cfg);
    const QString respaldoOk = ObtenerValorConfiguracion(QStringLiteral("RESPALDOOK"), *cfg);
    cfg->close();
    bool respaldoConfigurado = false;
    if (configurado.isEmpty()) {
        QString falso = booleanoATexto(false);
        if (!GuardarConfiguracion(falso, QStringLiteral("RESPALDOCONFIG"))) {
            r.avisos.push_back(avisoNoSeGrabo(QStringLiteral("RESPALDOCONFIG")));
        }
    } else {
        respaldoConfigurado = leidoVerdadero(configurado.trimmed());
    }
    if (!respaldoConfigurado) {
        r.avisos.push_back(avisoRespaldosSinConfigurar());
    } else if (respaldoOk.isEmpty()) {
        QString verdadero = booleanoATexto(true);
        if (!GuardarConfiguracion(verdadero, QStringLiteral("RESPALDOOK"))) {
            r.avisos.push_back(avisoNoSeGrabo(QStringLiteral("RESPALDOOK")));
        }
    } else if (!leidoVerdadero(respaldoOk)) {
        // Not trimmed: " true" reads as false.
        r.avisos.push_back(avisoRespaldosFallidos(carpetaLog));
    }
    return r;
}

} // namespace v7
