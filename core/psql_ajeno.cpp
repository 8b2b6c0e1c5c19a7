#include "core/psql_ajeno.h"

#include "platform/process.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <cctype>

namespace v7 {

namespace {

// A fresh key of letters and digits, as \restrict takes it.
QString claveNueva() {
    static const char kAlfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString k;
    for (int i = 0; i < 40; ++i) {
        k += QLatin1Char(kAlfabeto[QRandomGenerator::system()->bounded(int(sizeof kAlfabeto - 1))]);
    }
    return k;
}

// The dump's own \restrict / \unrestrict line (a key of non-blank characters), alone on its line.
bool esParRestrictDelVolcado(const QByteArray& linea) {
    static const QRegularExpression re(QStringLiteral("^\\\\(un)?restrict[ \\t]+\\S+[ \\t\\r]*$"));
    return re.match(QString::fromLatin1(linea)).hasMatch();
}

// The statement just ended starts a COPY … FROM stdin whose data lines follow.
bool abreDatosCopy(const QByteArray& sentencia) {
    static const QRegularExpression re(QStringLiteral("^\\s*COPY\\b.*\\bFROM\\s+STDIN\\b"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
    return re.match(QString::fromLatin1(sentencia)).hasMatch();
}

// standard_conforming_strings as the script sets it (older dumps turn it off: then '\'' is a quote).
void notarConformes(const QByteArray& sentencia, bool& conformes) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*SET\\s+standard_conforming_strings\\s*(=|TO)\\s*'?(on|off|true|false)'?"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(sentencia));
    if (m.hasMatch()) {
        const QString v = m.captured(2).toLower();
        conformes = v == QLatin1String("on") || v == QLatin1String("true");
    }
}

} // namespace

ScriptAjeno prepararScriptAjeno(const QByteArray& script) {
    ScriptAjeno r;
    r.clave = claveNueva();
    QByteArray salida = QByteArrayLiteral("\\restrict ") + r.clave.toLatin1() + '\n';
    salida.reserve(script.size() + salida.size() + 1);

    enum class Estado { Normal, Comilla, ComillaE, Identificador, Dolar, ComentarioBloque };
    Estado estado = Estado::Normal;
    bool conformes = true;
    bool enDatos = false; // COPY data lines
    int profundidad = 0;  // nested /* */
    QByteArray etiquetaDolar;
    QByteArray sentencia; // the statement so far, outside data (for COPY and SET)

    int numero = 0;
    qsizetype pos = 0;
    while (pos < script.size()) {
        qsizetype fin = script.indexOf('\n', pos);
        const bool ultima = fin < 0;
        if (ultima) {
            fin = script.size();
        }
        const QByteArray linea = script.mid(pos, fin - pos);
        pos = fin + 1;
        ++numero;

        if (enDatos) {
            if (linea == "\\." || linea == "\\.\r") {
                enDatos = false;
            }
            salida += linea;
            salida += '\n';
            continue;
        }
        if (estado == Estado::Normal && esParRestrictDelVolcado(linea)) {
            salida += '\n';
            continue;
        }
        for (qsizetype i = 0; i < linea.size(); ++i) {
            const char c = linea.at(i);
            const char sig = i + 1 < linea.size() ? linea.at(i + 1) : '\0';
            switch (estado) {
            case Estado::Normal:
                if (c == '\\') {
                    r.motivo = QStringLiteral("El archivo contiene una instrucción de psql no permitida en la línea ") +
                               QString::number(numero) + QStringLiteral(" (") +
                               QString::fromUtf8(linea.trimmed().left(60)) +
                               QStringLiteral("); por seguridad no se ejecutó nada.");
                    r.linea = numero;
                    r.entrada.clear();
                    return r;
                }
                if (c == '-' && sig == '-') {
                    i = linea.size(); // a comment to the end of the line
                    continue;
                }
                if (c == '/' && sig == '*') {
                    estado = Estado::ComentarioBloque;
                    profundidad = 1;
                    ++i;
                    continue;
                }
                if (c == '\'') {
                    const bool prefijoE = i > 0 && (linea.at(i - 1) == 'E' || linea.at(i - 1) == 'e') &&
                                          (i < 2 || !(std::isalnum(static_cast<unsigned char>(linea.at(i - 2))) ||
                                                      linea.at(i - 2) == '_'));
                    estado = (prefijoE || !conformes) ? Estado::ComillaE : Estado::Comilla;
                } else if (c == '"') {
                    estado = Estado::Identificador;
                } else if (c == '$') {
                    // $tag$ (tag of letters, digits, _ not starting with a digit) or $$; not $1.
                    qsizetype j = i + 1;
                    while (j < linea.size() &&
                           (std::isalnum(static_cast<unsigned char>(linea.at(j))) || linea.at(j) == '_' ||
                            static_cast<unsigned char>(linea.at(j)) >= 0x80)) {
                        ++j;
                    }
                    const bool antesIdent =
                        i > 0 && (std::isalnum(static_cast<unsigned char>(linea.at(i - 1))) || linea.at(i - 1) == '_');
                    if (!antesIdent && j < linea.size() && linea.at(j) == '$' &&
                        (j == i + 1 || !std::isdigit(static_cast<unsigned char>(linea.at(i + 1))))) {
                        etiquetaDolar = linea.mid(i, j - i + 1);
                        estado = Estado::Dolar;
                        sentencia += etiquetaDolar;
                        i = j;
                        continue;
                    }
                } else if (c == ';') {
                    sentencia += c;
                    notarConformes(sentencia, conformes);
                    if (abreDatosCopy(sentencia)) {
                        enDatos = true; // data starts on the next line
                    }
                    sentencia.clear();
                    continue;
                }
                break;
            case Estado::ComillaE:
                if (c == '\\') { // an escaped character, a quote included
                    sentencia += c;
                    ++i;
                    if (i < linea.size()) {
                        sentencia += linea.at(i);
                    }
                    continue;
                }
                [[fallthrough]];
            case Estado::Comilla:
                if (c == '\'') {
                    if (sig == '\'') { // a doubled quote stays inside
                        sentencia += c;
                        ++i;
                    } else {
                        estado = Estado::Normal;
                    }
                }
                break;
            case Estado::Identificador:
                if (c == '"') {
                    estado = Estado::Normal;
                }
                break;
            case Estado::Dolar:
                if (c == '$' && linea.mid(i, etiquetaDolar.size()) == etiquetaDolar) {
                    sentencia += etiquetaDolar;
                    i += etiquetaDolar.size() - 1;
                    estado = Estado::Normal;
                    continue;
                }
                break;
            case Estado::ComentarioBloque:
                if (c == '*' && sig == '/') {
                    if (--profundidad == 0) {
                        estado = Estado::Normal;
                    }
                    ++i;
                } else if (c == '/' && sig == '*') {
                    ++profundidad;
                    ++i;
                }
                continue;
            }
            sentencia += c;
        }
        if (estado != Estado::ComentarioBloque) {
            sentencia += '\n';
        }
        salida += linea;
        if (!ultima || !linea.isEmpty()) {
            salida += '\n';
        }
        if (enDatos && ultima) {
            break;
        }
    }
    r.entrada = salida;
    return r;
}

bool versionConRestrict(const QString& textoVersion) {
    static const QRegularExpression re(QStringLiteral("(\\d+)(?:\\.(\\d+))?"));
    const auto m = re.match(textoVersion);
    if (!m.hasMatch()) {
        return false;
    }
    const int mayor = m.captured(1).toInt();
    const int menor = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    switch (mayor) {
    case 13:
        return menor >= 22;
    case 14:
        return menor >= 19;
    case 15:
        return menor >= 14;
    case 16:
        return menor >= 10;
    case 17:
        return menor >= 6;
    default:
        return mayor >= 18;
    }
}

QString psqlRestringible(const QString& programaPsql) {
    process::Command c;
    c.program = programaPsql;
    c.arguments = QStringList{QStringLiteral("--version")};
    c.cLocale = true;
    c.out = process::Sink::Capture;
    c.timeoutMs = 30000;
    const process::Result r = process::run(c);
    const QString texto = QString::fromLocal8Bit(r.output).trimmed();
    if (!r.ok()) {
        return QStringLiteral("No se pudo ejecutar psql (") + programaPsql + QStringLiteral(").");
    }
    if (!versionConRestrict(texto)) {
        return QStringLiteral("El psql instalado (") + texto +
               QStringLiteral(") no puede restringir las instrucciones de un archivo ajeno; por seguridad no se "
                              "ejecuta. Actualice los programas cliente de PostgreSQL (15.14 o posterior).");
    }
    return QString();
}

} // namespace v7
