#include "core/sqlutil.h"

#include "core/session.h"
#include "core/sql.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>

namespace v7 {

QString EscaparComillas(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

QString citarIdentificador(const QString& name) {
    QString out = name;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString citarIdentificador(const QString& schema, const QString& name) {
    return citarIdentificador(schema) + QLatin1Char('.') + citarIdentificador(name);
}

QString citarLiteral(const QString& text) {
    QString out = EscaparComillas(text);
    if (!out.contains(QLatin1Char('\\'))) {
        return QLatin1Char('\'') + out + QLatin1Char('\'');
    }
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QStringLiteral("E'") + out + QLatin1Char('\'');
}

QString listaLiterales(const QStringList& textos) {
    QStringList l;
    for (const QString& t : textos) {
        l << citarLiteral(t);
    }
    return l.join(QStringLiteral(", "));
}

namespace {

std::optional<QDateTime> comoFecha(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime();
    case QMetaType::QDate:
        return QDateTime(v.toDate(), QTime(0, 0));
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        for (const char* f : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd",
                              "dd/MM/yyyy HH:mm:ss", "dd/MM/yyyy", "yyyy/MM/dd HH:mm:ss", "yyyy/MM/dd"}) {
            QDateTime d = QDateTime::fromString(s, QString::fromLatin1(f));
            if (d.isValid()) {
                return d;
            }
        }
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> comoNumero(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return QString::fromLatin1(v.toBool() ? "-1" : "0"); // the system's numeric value of True
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    default: {
        bool ok = false;
        const QString s = v.toString().trimmed();
        qlonglong i = s.toLongLong(&ok);
        if (ok) {
            return QString::number(i);
        }
        double d = s.toDouble(&ok); // C locale: "1.50", never "1,50"
        if (ok) {
            return QString::number(d, 'g', QLocale::FloatingPointShortest);
        }
        return std::nullopt;
    }
    }
}

} // namespace

QString FormatearValorSQL(const QVariant& value, int kind) {
    const QString kNull = QStringLiteral("NULL");
    if (!value.isValid() || value.isNull()) {
        return kNull;
    }
    switch (kind) {
    case kTipoTexto: {
        const QString s = value.toString().trimmed();
        return s.isEmpty() ? kNull : citarLiteral(s);
    }
    case kTipoFecha: {
        auto d = comoFecha(value);
        if (!d || !d->isValid()) {
            return kNull;
        }
        return QLatin1Char('\'') + d->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('\'');
    }
    case kTipoBooleano: {
        if (value.typeId() == QMetaType::Bool) {
            return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        }
        bool ok = false;
        bool b = textoABooleano(value.toString(), &ok);
        if (!ok) {
            return kNull;
        }
        return b ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    default:
        return comoNumero(value).value_or(kNull);
    }
}

bool ExisteColumna(const QString& schema, const QString& table, const QString& column) {
    QString sql = QStringLiteral("SELECT column_name FROM information_schema.columns WHERE table_schema='") + schema +
                  QStringLiteral("' AND table_name='") + table;
    if (column.isEmpty()) {
        sql += QStringLiteral("';");
    } else {
        sql += QStringLiteral("' AND column_name='") + column + QStringLiteral("';");
    }
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(sql, total, err);
    return rs && !rs->eof();
}

QString FechaServidor(bool raw, bool* ok) {
    // The secondary connection, as the collection transfer keeps it: not the shared one of the SQL layer.
    db::DbError e;
    auto rs = conexionSecundaria().query(QStringLiteral("SELECT now()::timestamp(0) AS fecha"), e);
    if (ok != nullptr) {
        *ok = rs != nullptr;
    }
    if (!rs || rs->eof()) {
        return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    }
    const QString ts = rs->text(0);
    QDateTime d = QDateTime::fromString(ts, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (raw) {
        return d.isValid() ? QLocale::system().toString(d, QLocale::ShortFormat) : ts;
    }
    return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : ts.left(10);
}

QString nombreVersionWindows(int platform, int major, int minor) {
    if (platform == 1) {
        switch (minor) {
        case 0:
            return QStringLiteral("Windows 95");
        case 10:
            return QStringLiteral("Windows 98");
        case 90:
            return QStringLiteral("Windows Me");
        default:
            return QString();
        }
    }
    if (platform == 2) {
        if (major == 3) {
            return QStringLiteral("Windows NT35");
        }
        if (major == 4) {
            return QStringLiteral("Windows NT4");
        }
        if (major == 5) {
            switch (minor) {
            case 0:
                return QStringLiteral("Windows 2000");
            case 1:
                return QStringLiteral("Windows XP");
            case 2:
                return QStringLiteral("WindowsServer 2003");
            default:
                return QString();
            }
        }
        if (major == 6) {
            return QStringLiteral("Windows Vista");
        }
    }
    return QString();
}

QString VersionWindows() {
    return QString();
} // no Windows version on this system: the unknown answer

bool textoABooleano(const QString& text, bool* ok) {
    const QString t = text.trimmed().toUpper();
    auto set = [&](bool v) {
        if (ok != nullptr) {
            *ok = true;
        }
        return v;
    };
    if (t == QLatin1String("TRUE") || t == QLatin1String("VERDADERO")) {
        return set(true);
    }
    if (t == QLatin1String("FALSE") || t == QLatin1String("FALSO")) {
        return set(false);
    }
    bool num = false;
    double d = t.toDouble(&num);
    if (num) {
        return set(d != 0.0);
    }
    if (ok != nullptr) {
        *ok = false;
    }
    return false;
}

QString booleanoATexto(bool value) {
    return value ? QStringLiteral("Verdadero") : QStringLiteral("Falso");
}

} // namespace v7
