#include "core/config.h"

#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"

#include <optional>

namespace v7 {

QString ObtenerValorConfiguracion(const QString& key, db::Recordset& rs) {
    rs.setFilter(QStringLiteral("descripcion"), key);
    QString value;
    if (!rs.eof()) {
        value = rs.value(QStringLiteral("valor")).value_or(QString());
    }
    rs.clearFilter();
    return value;
}

bool bloquearConfiguracion(const std::shared_ptr<db::Connection>& conexion, std::optional<db::Transaccion>& propia,
                           db::DbError& e, QString& sentencia) {
    if (!conexion->inTransaction()) {
        propia.emplace(conexion);
        if (!propia->begin(e)) {
            sentencia = QStringLiteral("BEGIN;");
            return false;
        }
    }
    // On the caller's connection, inside the transaction held there: the SQL layer's shared connection
    // could be another one, and a reopened one would not hold the lock.
    qint64 n = 0;
    if (!conexion->execute(kBloqueoConfiguracion, n, e)) {
        sentencia = kBloqueoConfiguracion;
        return false;
    }
    return true;
}

bool guardarValorConfiguracion(const std::shared_ptr<db::Connection>& conexion, const QString& value,
                               const QString& key, QString* errorText) {
    if (!conexion || !conexion->isOpen()) {
        if (errorText != nullptr) {
            *errorText = QStringLiteral("No existe conexion con el servidor");
        }
        return false;
    }
    QString doblada = value;
    doblada.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    const QString literal = EscaparComillas(doblada).trimmed();
    // The doubled backslashes are escapes: E'…' stores the value as given.
    const QString open = doblada.contains(QLatin1Char('\\')) ? QStringLiteral("E'") : QStringLiteral("'");
    // On the caller's connection (V7backup's and the backup's own too), in the transaction held there: -1 on
    // failure, with the error text.
    auto ejecutar = [&](const QString& sql) -> qint64 {
        qint64 rows = 0;
        db::DbError e;
        if (!conexion->execute(sql, rows, e)) {
            if (errorText != nullptr) {
                *errorText = sqlErrorText(e, QStringLiteral("GuardarConfiguracion"), sql);
            }
            return -1;
        }
        return rows;
    };
    // Two writers of a key without a row would both find nothing to update and both insert.
    std::optional<db::Transaccion> propia;
    {
        db::DbError e;
        QString sentencia;
        if (!bloquearConfiguracion(conexion, propia, e, sentencia)) {
            if (errorText != nullptr) {
                *errorText = sqlErrorText(e, QStringLiteral("GuardarConfiguracion"), sentencia);
            }
            return false;
        }
    }
    const qint64 actualizadas = ejecutar(QStringLiteral("UPDATE config_veliro.configuracion SET valor = ") + open +
                                         literal + QStringLiteral("' WHERE descripcion = '") + key + QLatin1Char('\''));
    if (actualizadas < 0) {
        return false;
    }
    qint64 insertadas = 0;
    if (actualizadas == 0) {
        insertadas = ejecutar(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('") + key +
                              QStringLiteral("', ") + open + literal + QStringLiteral("')"));
        if (insertadas == 0 && errorText != nullptr) {
            // The server took the INSERT and stored nothing (a rule or trigger of the table's).
            *errorText = QStringLiteral("No se guardó ningún registro de la variable de configuración ") + key;
        }
    }
    const bool escrito = actualizadas > 0 || insertadas > 0;
    if (escrito && propia) {
        db::DbError e;
        if (!propia->commit(e)) {
            if (errorText != nullptr) {
                *errorText = sqlErrorText(e, QStringLiteral("GuardarConfiguracion"), QStringLiteral("COMMIT;"));
            }
            return false;
        }
    }
    return escrito;
}

bool GuardarConfiguracion(QString& value, const QString& key, QString* errorText) {
    const bool escrito = guardarValorConfiguracion(sesion().ConexionPrincipal, value, key, errorText);
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return escrito;
}

Configuracion& configuracion() {
    static Configuracion c;
    return c;
}

namespace {

bool aBooleano(const QString& text) {
    return textoABooleano(text);
} // absent or unreadable: false

int aEntero(const QString& text, int min, int max) {
    bool ok = false;
    double d = text.trimmed().toDouble(&ok);
    if (!ok || d < min || d > max) {
        return 0;
    }
    return int(qRound(d));
}

QString primerCaracter(const QString& text) {
    return text.isEmpty() ? QStringLiteral(" ") : text.left(1);
}

} // namespace

bool CargarConfiguracion(QString* errorText) {
    // Whichever connection is open, the shared one winning, and neither reopened for it.
    std::unique_ptr<db::Recordset> rs;
    db::DbError e;
    auto& s = sesion();
    if (s.ConexionSecundaria && s.ConexionSecundaria->isOpen()) {
        rs = s.ConexionSecundaria->query(kConsultaConfiguracion, e);
    }
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        rs = s.ConexionPrincipal->query(kConsultaConfiguracion, e);
    }
    if (!rs) {
        if (errorText != nullptr) {
            *errorText = e.isSet() ? sqlErrorText(e, QStringLiteral("CargarConfiguracion"), kConsultaConfiguracion)
                                   : QStringLiteral("No existe conexion con el servidor");
        }
        return false;
    }
    auto v = [&](const char* key) { return ObtenerValorConfiguracion(QString::fromLatin1(key), *rs); };
    auto& c = configuracion();
    c.Sabados = aBooleano(v("SABADOS"));
    c.Domingos = aBooleano(v("DOMINGOS"));
    c.Estanteria = v("ESTANTERIA");
    c.Vigencia = v("VIGENCIA");
    const QString correo = v("CORREO");
    if (!correo.isEmpty()) {
        const int at = correo.indexOf(QChar(0x00E6)); // "æ"
        c.CorreoNumero = aEntero(at < 0 ? correo : correo.left(at), INT_MIN, INT_MAX);
        c.CorreoTexto = at < 0 ? QString() : correo.mid(at + 1);
    }
    c.Impresora = v("IMPRESORA");
    c.ImpresoraPort = v("IMPRESORA_PORT");
    c.TktPExterno = aBooleano(v("TKT_PEXTERNO"));
    c.TktPInterno = aBooleano(v("TKT_PINTERNO"));
    c.TktDExterno = aBooleano(v("TKT_DEXTERNO"));
    c.TktDInterno = aBooleano(v("TKT_DINTERNO"));
    c.TktMulta = aBooleano(v("TKT_MULTA"));
    c.Institucion = v("INSTITUCION");
    c.Biblioteca = v("BIBLIOTECA");
    c.BiblioActiva = aEntero(v("BIBLIO_ACTIVA"), -32768, 32767);
    c.ServerMail = v("SERVER_MAIL");
    c.MailVencidos = v("MAIL_VENCIDOS");
    c.MailMultas = v("MAIL_MULTAS");
    c.Word = aBooleano(v("WORD"));
    c.WordReporte = aEntero(v("WORD_REPORTE"), -32768, 32767);
    const QString fuente = v("WORD_FUENTE");
    const int slash = fuente.indexOf(QLatin1Char('/'));
    c.WordFuenteNombre = slash < 0 ? fuente : fuente.left(slash);
    c.WordFuenteTamano = slash < 0 ? 0 : aEntero(fuente.mid(slash + 1), -32768, 32767);
    c.ArchivosCompartidos = v("ARCHIVOSCOMPARTIDOS");
    c.AutoUpdate = primerCaracter(v("AUTO_UPDATE"));
    c.BetaUpdate = primerCaracter(v("BETA_UPDATE"));
    c.Departamento = v("DEPARTAMENTO");
    c.Institucion2 = v("INSTITUCION");
    c.XmlEtiquetasLibros = v("XMLETIQUETASLIBROS");
    c.CatalogoLibrosDefault = v("CATALOGOLIBROSDEFAULT");
    rs->close();
    return true;
}

} // namespace v7
