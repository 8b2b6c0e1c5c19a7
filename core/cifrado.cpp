#include "core/cifrado.h"

#include <QStringDecoder>

#include "core/config.h"
#include "core/sql.h"

#include <array>

namespace v7 {

namespace {

// Windows-1252 codes 0x80..0x9F; 0 marks the five unassigned codes, which Windows maps to the C1
// code point of the same number.
constexpr std::array<char16_t, 32> kC1 = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                          0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const QString& clave(bool useKeyA) {
    return useKeyA ? kClaveA : kClaveB;
}

// A pair of the scrambled text as the system reads it: its leading hex digits, none giving 0.
int leerHex(QStringView pair) {
    int value = 0;
    for (QChar c : pair) {
        int digit = -1;
        if (c >= u'0' && c <= u'9') {
            digit = c.unicode() - u'0';
        } else if (c >= u'A' && c <= u'F') {
            digit = c.unicode() - u'A' + 10;
        } else if (c >= u'a' && c <= u'f') {
            digit = c.unicode() - u'a' + 10;
        }
        if (digit < 0) {
            break;
        }
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

unsigned char codigoWindows1252(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        return static_cast<unsigned char>(u);
    }
    for (int i = 0; i < int(kC1.size()); ++i) {
        if (kC1[i] == u || (kC1[i] == 0 && u == 0x80 + i)) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return '?';
}

bool cabeEnWindows1252(const QString& text, QString* fuera) {
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('?') && codigoWindows1252(c) == '?') {
            if (fuera != nullptr) {
                // A character outside the basic plane is two UTF-16 units: name it whole.
                *fuera = c.isHighSurrogate() && i + 1 < text.size() ? text.mid(i, 2) : QString(c);
            }
            return false;
        }
    }
    return true;
}

QChar caracterWindows1252(unsigned char code) {
    if (code < 0x80 || code >= 0xA0) {
        return QChar(char16_t(code));
    }
    const char16_t u = kC1[code - 0x80];
    return QChar(u != 0 ? u : char16_t(code));
}

QString cifrarConClave(const QString& plain, bool useKeyA) {
    static const char kHex[] = "0123456789ABCDEF";
    const QString& key = clave(useKeyA);
    QString out;
    out.reserve(plain.size() * 2);
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const unsigned char code = codigoWindows1252(plain.at(i)) ^ codigoWindows1252(key.at(i % key.size()));
        out.append(QLatin1Char(kHex[code >> 4]));
        out.append(QLatin1Char(kHex[code & 0x0F]));
    }
    return out;
}

QString textoWindows1252(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        text.append(caracterWindows1252(static_cast<unsigned char>(c)));
    }
    return text;
}

QString textoUtf8OWindows1252(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? textoWindows1252(bytes) : text;
}

QString DescifrarCadena(const QString& scrambled, bool useKeyA) {
    const QString& key = clave(useKeyA);
    QString out;
    out.reserve(scrambled.size() / 2 + 1);
    for (qsizetype pos = 0, n = 0; pos < scrambled.size(); pos += 2, ++n) {
        const int value = leerHex(QStringView(scrambled).mid(pos, 2));
        const unsigned char code = static_cast<unsigned char>(value) ^ codigoWindows1252(key.at(n % key.size()));
        out.append(caracterWindows1252(code));
    }
    return out;
}

std::optional<QDate> fechaDeVersion(const QString& versionText) {
    const qsizetype dash = versionText.indexOf(QLatin1Char('-'));
    const QString text = (dash < 0 ? versionText : versionText.mid(dash + 1)).trimmed();
    // The forms the Windows programs' date conversion took: year first as stored, or the
    // day-first short date of the Spanish locale.
    static const char* const kFormats[] = {"yyyy/M/d", "yyyy-M-d", "yyyy.M.d", "d/M/yyyy", "d-M-yyyy", "d.M.yyyy"};
    for (const char* format : kFormats) {
        const QDate date = QDate::fromString(text, QLatin1String(format));
        if (date.isValid()) {
            return date;
        }
    }
    return std::nullopt;
}

std::optional<bool> claveParaVersion(const QString& storedVersion) {
    const auto date = fechaDeVersion(storedVersion);
    if (!date) {
        return std::nullopt;
    }
    return *date <= kFechaCambioClave;
}

QString CifrarCadena(const QString& plain, bool* ok, QString* errorText) {
    auto fail = [&](const QString& why) {
        if (ok) {
            *ok = false;
        }
        if (errorText) {
            *errorText = why;
        }
        return QString();
    };
    int total = 0;
    QString sqlError;
    auto rs = ExecuteSQLrs(kConsultaConfiguracion, total, sqlError);
    if (!rs) {
        return fail(sqlError);
    }
    const QString stored = ObtenerValorConfiguracion(QStringLiteral("VER_V7TOOLS"), *rs);
    rs->close();
    const auto useKeyA = claveParaVersion(stored);
    if (!useKeyA) {
        return fail(
            stored.isEmpty()
                ? QStringLiteral("No existe la información de versión VER_V7TOOLS para elegir la clave de cifrado")
                : QStringLiteral("La versión VER_V7TOOLS registrada no tiene una fecha válida: ") + stored);
    }
    if (ok) {
        *ok = true;
    }
    if (errorText) {
        errorText->clear();
    }
    return cifrarConClave(plain, *useKeyA);
}

} // namespace v7
