#include "console/reportes.h"

#include "core/cifrado.h"
#include "core/sqlutil.h"
#include "platform/archivo_seguro.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>

namespace v7 {

namespace {

const QChar kMarcaOrden(0xFEFF);

QString conDecodificador(QStringDecoder::Encoding encoding, QByteArrayView bytes) {
    QStringDecoder d(encoding, QStringDecoder::Flag::Stateless);
    return d(bytes);
}

// The encoding named by a leading XML declaration, in lower case; empty without one.
QString codificacionDeclarada(const QByteArray& bytes) {
    if (!bytes.startsWith("<?xml")) {
        return QString();
    }
    const qsizetype fin = bytes.indexOf("?>");
    if (fin < 0) {
        return QString();
    }
    static const QRegularExpression encoding(QStringLiteral("encoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)[\"']"));
    const auto m = encoding.match(QString::fromLatin1(bytes.left(fin)));
    return m.hasMatch() ? m.captured(1).toLower() : QString();
}

bool esIdentificador(const QString& id) {
    bool ok = false;
    (void)id.trimmed().toLongLong(&ok);
    return ok;
}

QString errorIdentificador(const QString& id) {
    return QStringLiteral("El identificador del reporte no es válido: ") + id;
}

} // namespace

QString consultaSecciones(qint64 idModulo) {
    return QStringLiteral("SELECT idseccion, seccion FROM reportes.seccion WHERE idmodulo = ") +
           QString::number(idModulo);
}

RecordsetPtr ConsultarReportes(QString& errorText) {
    int total = 0;
    return ExecuteSQLrs(kConsultaReportes, total, errorText);
}

RecordsetPtr ConsultarModulosReporte(QString& errorText) {
    int total = 0;
    return ExecuteSQLrs(kConsultaModulosReporte, total, errorText);
}

RecordsetPtr ConsultarSecciones(qint64 idModulo, QString& errorText) {
    int total = 0;
    return ExecuteSQLrs(consultaSecciones(idModulo), total, errorText);
}

QString motivoNombreReporte(const QString& name) {
    if (name.size() <= kMaxNombreReporte) {
        return QString();
    }
    return QStringLiteral("El nombre del reporte tiene %1 caracteres; el máximo es %2, es necesario cambiar el "
                          "nombre y reintentar nuevamente")
        .arg(name.size())
        .arg(kMaxNombreReporte);
}

QString motivoTextoReporte(const QString& text) {
    if (!text.contains(QChar(0))) {
        return QString();
    }
    return QStringLiteral("El texto del reporte contiene caracteres nulos (código 0), que la base de datos no "
                          "admite; no es un archivo de texto XML.");
}

ArchivoReporte leerArchivoReporte(const QString& ruta) {
    ArchivoReporte a;
    // Chosen by its name like every other file: a link is not followed, in any folder of the path that
    // someone else could change nor at the name itself (a link to a root-only file would otherwise show its
    // text, ready to be stored where the staff read it).
    const QFileInfo info(ruta);
    const archivo::Carpeta carpeta = archivo::Carpeta::abrir(info.absolutePath());
    if (!carpeta.ok()) {
        a.motivo = carpeta.motivo();
        return a;
    }
    const archivo::Lectura l = carpeta.leerRegular(info.fileName(), kLimiteArchivoReporte);
    if (!l.ok()) {
        a.motivo = l.numeroError == ELOOP
                       ? QStringLiteral("El archivo ") + ruta +
                             QStringLiteral(" es un enlace simbólico; por seguridad no se sigue. Elija el archivo "
                                            "mismo, no un enlace a él.")
                       : l.motivo;
        return a;
    }
    a.texto = decodificarArchivoTexto(l.datos);
    a.motivo = motivoTextoReporte(a.texto);
    if (!a.ok()) {
        a.texto.clear();
    }
    return a;
}

QString decodificarArchivoTexto(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return textoUtf8OWindows1252(QByteArrayView(bytes).sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return conDecodificador(QStringDecoder::Utf16LE, QByteArrayView(bytes).sliced(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return conDecodificador(QStringDecoder::Utf16BE, QByteArrayView(bytes).sliced(2));
    }
    // UTF-16 without a mark still starts with "<?" in its own layout.
    if (bytes.startsWith(QByteArrayView("<\0?\0", 4))) {
        return conDecodificador(QStringDecoder::Utf16LE, bytes);
    }
    if (bytes.startsWith(QByteArrayView("\0<\0?", 4))) {
        return conDecodificador(QStringDecoder::Utf16BE, bytes);
    }
    const QString declarada = codificacionDeclarada(bytes);
    if (declarada == QLatin1String("windows-1252") || declarada == QLatin1String("cp1252") ||
        declarada == QLatin1String("iso-8859-1") || declarada == QLatin1String("latin1") ||
        declarada == QLatin1String("iso-8859-15")) {
        // Windows wrote Latin-1 files with its own superset.
        return textoWindows1252(bytes);
    }
    return textoUtf8OWindows1252(bytes);
}

QString prepararTextoReporte(const QString& text) {
    QString t = text;
    t.remove(kMarcaOrden);
    t = t.trimmed();
    if (t.startsWith(QLatin1String("<?xml"))) {
        const qsizetype fin = t.indexOf(QLatin1String("?>"));
        if (fin >= 0) {
            qsizetype siguiente = fin + 2;
            while (siguiente < t.size() && (t.at(siguiente) == u'\r' || t.at(siguiente) == u'\n')) {
                ++siguiente;
            }
            t.remove(fin + 2, siguiente - fin - 2);
        }
    }
    return t;
}

bool InsertarReporte(const UbicacionReporte& u, const QString& texto, QString& errorText) {
    // Refused before anything is sent: the server would only echo the statement back.
    errorText = motivoNombreReporte(u.NombreReporte);
    if (errorText.isEmpty()) {
        errorText = motivoTextoReporte(texto);
    }
    if (!errorText.isEmpty()) {
        return false;
    }
    int rows = 0;
    return ExecuteSQLaction(QStringLiteral("INSERT INTO reportes.reporte (idmodulo, idseccion, reporte, nombre, "
                                           "version) VALUES (") +
                                QString::number(u.IdModuloReporte) + QStringLiteral(", ") +
                                QString::number(u.IdSeccionReporte) + QStringLiteral(",") + citarLiteral(texto) +
                                QStringLiteral(",") + citarLiteral(u.NombreReporte) + QStringLiteral(", 1)"),
                            rows, errorText);
}

bool ActualizarReporte(const QString& idReporte, const QString& texto, QString& errorText) {
    if (!esIdentificador(idReporte)) {
        errorText = errorIdentificador(idReporte);
        return false;
    }
    errorText = motivoTextoReporte(texto);
    if (!errorText.isEmpty()) {
        return false;
    }
    int rows = 0;
    return ExecuteSQLaction(QStringLiteral("UPDATE reportes.reporte SET reporte = ") + citarLiteral(texto) +
                                QStringLiteral(" WHERE idreporte = ") + idReporte.trimmed(),
                            rows, errorText);
}

bool EliminarReporte(const QString& idReporte, QString& errorText) {
    if (!esIdentificador(idReporte)) {
        errorText = errorIdentificador(idReporte);
        return false;
    }
    int rows = 0;
    return ExecuteSQLaction(QStringLiteral("DELETE FROM reportes.reporte WHERE idreporte = ") + idReporte.trimmed(),
                            rows, errorText);
}

bool esNombreNumerico(const QString& name) {
    // Digits with either separator in either role, as a Spanish or an English locale reads them.
    static const QRegularExpression numero(
        QStringLiteral("^[+-]?(\\d+|\\d{1,3}([.,]\\d{3})+)?([.,]\\d+)?([eE][+-]?\\d+)?$"));
    const QString t = name.trimmed();
    return t.contains(QRegularExpression(QStringLiteral("\\d"))) && numero.match(t).hasMatch();
}

QString quitarAcentos(const QString& text) {
    static const QString conAcento = QStringLiteral("áéíóúÁÉÍÓÚ");
    static const QString sinAcento = QStringLiteral("aeiouAEIOU");
    QString out = text;
    for (QChar& c : out) {
        const qsizetype i = conAcento.indexOf(c);
        if (i >= 0) {
            c = sinAcento.at(i);
        }
    }
    return out;
}

BusquedaNombre BuscarNombreReporte(const QString& name) {
    BusquedaNombre b;
    int total = 0;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT r.nombre AS reporte, m.modulo, s.seccion FROM (reportes.reporte r "
                                          "INNER JOIN reportes.modulos m ON r.idmodulo = m.idmodulo) "
                                          "INNER JOIN reportes.seccion s ON r.idseccion = s.idseccion WHERE "
                                          "upper(r.nombre) = upper(") +
                               citarLiteral(name) + QStringLiteral(")"),
                           total, b.errorText);
    if (!rs) {
        return b;
    }
    b.ok = true;
    if (!rs->eof()) {
        b.usado = ReporteExistente{rs->text(QStringLiteral("modulo")), rs->text(QStringLiteral("seccion"))};
    }
    rs->close();
    return b;
}

} // namespace v7
