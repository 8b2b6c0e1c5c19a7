#include "core/listas.h"

#include "core/session.h"
#include "core/sql.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

namespace v7 {

bool ExisteArchivo(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo fi(path);
    return fi.exists() && fi.isFile();
}

bool VerificarArchivosCompartidos(QString* errorText) {
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(
        QStringLiteral("SELECT descripcion FROM config_veliro.configuracion WHERE descripcion ='ARCHIVOSCOMPARTIDOS'"),
        total, err);
    if (!rs) {
        if (errorText != nullptr) {
            *errorText = err;
        }
        return false;
    }
    sesion().HayArchivosCompartidos = !rs->eof();
    rs->close();
    return true;
}

QString llaveNumerica(const QString& value) {
    bool ok = false;
    const double d = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) {
        return value;
    }
    const long long n = std::llround(d); // halves away from zero, as the number format rounds
    const QString digits = QString::number(n < 0 ? -n : n).rightJustified(8, QLatin1Char('0'));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

QString llaveFecha(const QString& value) {
    const QString v = value.trimmed();
    QDateTime dt = QDateTime::fromString(QString(v).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODateWithMs);
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(v, Qt::ISODate);
        if (!d.isValid()) {
            return QString();
        }
        dt = QDateTime(d, QTime(0, 0));
    }
    return dt.toString(QStringLiteral("yyyyMMdd HH:mm:ss"));
}

QString llaveCampo(const db::Column& column, const std::optional<QString>& value) {
    if (!value) {
        return QString();
    }
    switch (column.type) {
    case db::FieldType::Integer32:
    case db::FieldType::Integer64:
    case db::FieldType::SmallInt:
    case db::FieldType::Numeric:
    case db::FieldType::Double:
        return llaveNumerica(*value);
    case db::FieldType::Date:
    case db::FieldType::Timestamp:
        return llaveFecha(*value);
    case db::FieldType::Text: {
        bool numeric = false;
        const double d = value->trimmed().toDouble(&numeric);
        if ((numeric && std::isfinite(d)) || column.name.contains(QLatin1String("adq"), Qt::CaseInsensitive)) {
            return llaveNumerica(*value);
        }
        return QString();
    }
    default:
        return QString();
    }
}

} // namespace v7
