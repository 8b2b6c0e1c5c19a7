#include "console/ruta_trabajo.h"

#include "console/reportes.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/versiones.h"
#include "platform/archivo_seguro.h"
#include "platform/db.h"
#include "platform/paths.h"
#include "resources/recursos.h"

#include <cerrno>

namespace v7 {

namespace {

// Where the insert script takes the merge script, written as psql would take a variable.
const QString kVariableRestauraAcervo = QStringLiteral(":'restaura_acervo'");

const QString kRutina = QStringLiteral("DeshabilitarCarpetaCompartida");

// A long script echoed in an error text: its start is enough to tell which one failed.
QString inicioDe(const QString& sql) {
    constexpr int kLargo = 160;
    return sql.size() <= kLargo ? sql : sql.left(kLargo) + QStringLiteral("…");
}

} // namespace

QString rutaCompartidaEstandar(const QString& servidor) {
    return QStringLiteral("\\\\") + servidor + QStringLiteral("\\ArchivosV7\\");
}

RechazoRuta ValidarRutaTrabajo(const QString& texto, const QString& servidor) {
    if (texto != rutaCompartidaEstandar(servidor) && (texto.isEmpty() || !texto.toLower().contains(kArchivoMarca))) {
        return RechazoRuta::SinArchivoMarca;
    }
    if (texto.size() >= 2 && texto.at(1) == u':') {
        return RechazoRuta::UnidadLocal;
    }
    return RechazoRuta::Ninguno;
}

QString carpetaDeRuta(const QString& texto) {
    return texto.toLower().remove(kArchivoMarca).trimmed();
}

bool LeerRutaTrabajo(QString* ruta, QString* errorText) {
    int total = 0;
    QString error;
    RecordsetPtr rs = ExecuteSQLrs(
        QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'"),
        total, error);
    if (!rs) {
        if (errorText != nullptr) {
            *errorText = error;
        }
        return false;
    }
    if (rs->eof()) {
        *ruta = QStringLiteral(" Pendiente de configurar...");
    } else if (rs->isNull(QStringLiteral("valor"))) {
        *ruta = QStringLiteral(" Pendiente de configurar");
    } else {
        *ruta = QLatin1Char(' ') + rs->text(QStringLiteral("valor"));
    }
    rs->close();
    return true;
}

bool GuardarRutaTrabajo(const QString& carpeta, QString* errorText) {
    auto& con = conexionPrincipal();
    if (!con.isOpen()) {
        if (errorText != nullptr) {
            *errorText = QStringLiteral("La conexión con el servidor está cerrada.");
        }
        return false;
    }
    const QString sql = QStringLiteral("UPDATE config_veliro.configuracion SET valor = ") + citarLiteral(carpeta) +
                        QStringLiteral(" WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'");
    // Straight on the open shared connection, never reopened for it: the row count alone decides.
    qint64 rows = 0;
    db::DbError e;
    if (!con.execute(sql, rows, e)) {
        if (errorText != nullptr) {
            *errorText = sqlErrorText(e, QStringLiteral("GuardarRutaTrabajo"), sql);
        }
        return false;
    }
    return rows > 0;
}

QStringList sentenciasDeshabilitar(const QString& usuario) {
    const QString login = citarIdentificador(usuario);
    const QStringList grupos{QStringLiteral("v7_super"), QStringLiteral("v7_admin"), QStringLiteral("v7_usuario1"),
                             QStringLiteral("v7_usuario2")};
    QStringList s;
    s << QStringLiteral("CREATE SCHEMA reportes;");
    s << QStringLiteral("GRANT ALL ON SCHEMA reportes TO ") + login + QLatin1Char(';');
    for (const QString& g : grupos) {
        s << QStringLiteral("GRANT USAGE ON SCHEMA reportes TO ") + g + QLatin1Char(';');
    }
    struct Tabla {
        const char* nombre;
        const char* llave; // the serial column, whose sequence inserts draw from
        QString crear;
    };
    const Tabla tablas[] = {
        {"modulos", "idmodulo",
         QStringLiteral("CREATE TABLE reportes.modulos ( idmodulo serial NOT NULL, modulo character varying(50), "
                        "CONSTRAINT pk_idmodulo PRIMARY KEY (idmodulo));")},
        {"plantillas", "idplantilla",
         QStringLiteral("CREATE TABLE reportes.plantillas (\r\nidplantilla serial NOT NULL, \r\nidmodulo bigint, "
                        "\r\nnombre character varying(255), \r\nplantilla text, \r\nversion smallint, \r\n"
                        "CONSTRAINT pk_idplantilla PRIMARY KEY (idplantilla));")},
        {"reporte", "idreporte",
         QStringLiteral("CREATE TABLE reportes.reporte ( \r\nidreporte serial NOT NULL, \r\nidmodulo bigint, "
                        "\r\nidseccion bigint, \r\nnombre character varying(255), \r\nreporte text, \r\n"
                        "version smallint DEFAULT 1 NOT NULL, \r\nCONSTRAINT pk_idreporte PRIMARY KEY (idreporte));")},
        {"seccion", "idseccion",
         QStringLiteral("CREATE TABLE reportes.seccion (\r\nidseccion serial NOT NULL, \r\nseccion character "
                        "varying(255), \r\nidmodulo bigint, CONSTRAINT pk_idseccion PRIMARY KEY (idseccion));")},
    };
    for (const Tabla& t : tablas) {
        const QString tabla = QStringLiteral("reportes.") + QString::fromLatin1(t.nombre);
        s << t.crear;
        s << QStringLiteral("GRANT ALL ON TABLE ") + tabla + QStringLiteral(" TO ") + login + QLatin1Char(';');
        s << QStringLiteral("GRANT ALL ON TABLE ") + tabla + QStringLiteral(" TO v7_super;");
        for (const QString& g : grupos.mid(1)) {
            s << QStringLiteral("GRANT SELECT, UPDATE, INSERT, DELETE ON TABLE ") + tabla + QStringLiteral(" TO ") + g +
                     QLatin1Char(';');
        }
        // Whoever may insert must also draw the next id.
        const QString secuencia = tabla + QLatin1Char('_') + QString::fromLatin1(t.llave) + QStringLiteral("_seq");
        s << QStringLiteral("GRANT ALL ON SEQUENCE ") + secuencia + QStringLiteral(" TO ") + login +
                 QStringLiteral(", v7_super;");
        s << QStringLiteral("GRANT USAGE, SELECT ON SEQUENCE ") + secuencia +
                 QStringLiteral(" TO v7_admin, v7_usuario1, v7_usuario2;");
    }
    s << QStringLiteral("ALTER TABLE catalogos.usuarios ADD COLUMN imagen oid;");
    s << QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS';");
    return s;
}

QString scriptReportes(bool* ok) {
    bool hayReportes = false;
    bool hayAcervo = false;
    QString script = recurso(QStringLiteral("reportes.sql"), &hayReportes);
    const QString acervo = recurso(QStringLiteral("restaura_acervo.sql"), &hayAcervo);
    const bool completo = hayReportes && hayAcervo && script.count(kVariableRestauraAcervo) == 1;
    if (ok != nullptr) {
        *ok = completo;
    }
    if (!completo) {
        return QString();
    }
    return script.replace(kVariableRestauraAcervo, citarLiteral(acervo));
}

QString rutaPlantillaConstNo() {
    return paths::programFolder() + QStringLiteral("ArchivosV7/plantillas/reportes/constNO.fdc");
}

const QVector<VersionModulo>& versionesModulosReportes() {
    static const QVector<VersionModulo> versiones{
        {QStringLiteral("VER_ADQUISICIONES"), QStringLiteral("1.120216 - 2015/09/21")},
        {QStringLiteral("VER_CONVERSION"), QStringLiteral("1.120216 - 2015/09/21")},
        {QStringLiteral("VER_ANALISIS"), QStringLiteral("1.120216 - 2015/09/21")},
        {QStringLiteral("VER_INVENTARIO"), QStringLiteral("1.120216 - 2015/09/21")},
        {QStringLiteral("VER_SERVICIOS"), QStringLiteral("1.120216 - 2015/09/21")},
        {QStringLiteral("VER_PRESTAMO"), QStringLiteral("1.1 - 2012/01/01")},
        {QStringLiteral("VER_CONSULTA"), QStringLiteral("1.1 - 2012/01/01")},
    };
    return versiones;
}

ResultadoDeshabilitar DeshabilitarCarpetaCompartida(const QString& usuario, const QString& reportes,
                                                    const QString& plantillaConstNo) {
    ResultadoDeshabilitar r;
    auto con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        r.errorText = QStringLiteral("La conexión con el servidor está cerrada.");
        return r;
    }
    if (reportes.trimmed().isEmpty()) {
        r.errorText = QStringLiteral("No se encontró el script de plantillas de reportes.");
        return r;
    }

    // The literals of the template script mean their text whatever the server's default.
    QStringList sentencias{QStringLiteral("SET LOCAL standard_conforming_strings TO on;")};
    sentencias << sentenciasDeshabilitar(usuario) << reportes;
    // The program chose this name: a link planted there, a FIFO or a device is not read.
    const archivo::Lectura constNo = archivo::leerRegular(plantillaConstNo, kLimitePlantilla);
    if (constNo.ok()) {
        const QString texto = decodificarArchivoTexto(constNo.datos);
        if (texto.contains(QChar(0))) {
            r.avisoConstNo = QStringLiteral("El archivo ") + plantillaConstNo +
                             QStringLiteral(" contiene caracteres nulos; no es una plantilla de texto.");
        } else {
            sentencias << QStringLiteral("UPDATE reportes.plantillas SET plantilla = ") + citarLiteral(texto) +
                              QStringLiteral(" WHERE nombre = 'CONSTNO';");
        }
    } else if (constNo.numeroError != ENOENT) {
        r.avisoConstNo = constNo.motivo;
    }

    // All or nothing: a half-made schema would leave no ARCHIVOSCOMPARTIDOS row to come back to
    // this switch, and a retry would stop at CREATE SCHEMA.
    db::Transaccion t(con);
    db::DbError e;
    if (!t.begin(e)) {
        r.errorText = sqlErrorText(e, kRutina, QStringLiteral("BEGIN;"));
        return r;
    }
    // On the transaction's own connection: a reopened one would not hold the transaction.
    for (const QString& sql : sentencias) {
        qint64 rows = 0;
        if (!con->execute(sql, rows, e)) {
            r.errorText = sqlErrorText(e, kRutina, inicioDe(sql));
            return r;
        }
    }
    if (!t.commit(e)) {
        r.errorText = sqlErrorText(e, kRutina, QStringLiteral("COMMIT;"));
        return r;
    }

    // Recorded once the templates are in the database; a version that cannot be raised does not
    // undo the switch.
    for (const VersionModulo& v : versionesModulosReportes()) {
        QString message, stored;
        (void)ValidarVersionModulo(v.clave, v.version, message, stored);
    }
    sesion().HayArchivosCompartidos = false;
    r.ok = true;
    return r;
}

} // namespace v7
