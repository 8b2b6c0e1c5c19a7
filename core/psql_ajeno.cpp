#include "core/psql_ajeno.h"

#include "platform/process.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <iterator>

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
bool esParRestrictDelVolcado(QByteArrayView linea) {
    static const QRegularExpression re(QStringLiteral("^\\\\(un)?restrict[ \\t]+\\S+[ \\t\\r]*$"));
    return re.match(QString::fromLatin1(linea)).hasMatch();
}

// The character classes of psql's lexer, byte by byte: every byte from 0x80 up counts as a letter.
bool inicioNombre(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u >= 0x80;
}
bool digito(char c) {
    return c >= '0' && c <= '9';
}
bool parteNombre(char c) {
    return inicioNombre(c) || digito(c) || c == '$';
}
bool parteEtiqueta(char c) {
    return inicioNombre(c) || digito(c);
}

bool esPalabra(const TokenSql& t, const char* palabra) {
    return t.tipo == TokenSql::Tipo::Palabra && t.texto.compare(palabra, Qt::CaseInsensitive) == 0;
}
bool esSimbolo(const TokenSql& t, char c) {
    return t.tipo == TokenSql::Tipo::Simbolo && t.texto.size() == 1 && t.texto.at(0) == c;
}
bool esNombre(const TokenSql& t) {
    return t.tipo == TokenSql::Tipo::Palabra || t.tipo == TokenSql::Tipo::Citado;
}

const QString kMetaComando = QStringLiteral("una instrucción de psql no permitida");

// One pass of psql's lexer over a script.
class Lector {
public:
    Lector(const QByteArray& script, const RevisorSentencias& revisor) : m_s(script), m_revisor(revisor) {}

    ScriptAjeno revisar() {
        ScriptAjeno r;
        r.clave = claveNueva();
        if (recorrer()) {
            r.entrada = entrada(r.clave);
        } else {
            r.motivo = QStringLiteral("El archivo contiene ") + m_que + QStringLiteral(" en la línea ") +
                       QString::number(m_lineaRechazo) + QStringLiteral(" (") + textoLinea(m_lineaRechazo) +
                       QStringLiteral("); por seguridad no se ejecutó nada.");
            r.linea = m_lineaRechazo;
        }
        return r;
    }

private:
    // A part of the script that psql does not get: taken out (the dump's \restrict pair) or blanked.
    struct Tramo {
        qsizetype inicio;
        qsizetype fin;
        bool quitar;
    };

    char en(qsizetype i) const { return i < m_s.size() ? m_s.at(i) : '\0'; }
    qsizetype finLinea(qsizetype i) const {
        const qsizetype f = m_s.indexOf('\n', i);
        return f < 0 ? m_s.size() : f;
    }
    // Nothing but carriage returns from i to the end of its line: the line's own end, as a file written on
    // Windows has it.
    bool soloCrHastaFin(qsizetype i) const {
        const qsizetype f = finLinea(i);
        for (; i < f; ++i) {
            if (m_s.at(i) != '\r') {
                return false;
            }
        }
        return true;
    }
    int lineaDe(qsizetype pos) const { return 1 + int(std::count(m_s.cbegin(), m_s.cbegin() + pos, '\n')); }
    // Moves to pos, counting the lines passed.
    void avanzar(qsizetype pos) {
        pos = std::min(pos, m_s.size());
        m_linea += int(std::count(m_s.cbegin() + m_pos, m_s.cbegin() + pos, '\n'));
        m_pos = pos;
    }

    // A line's text for the message: control characters as blanks, at most 60 characters.
    QString textoLinea(int linea) const {
        qsizetype inicio = 0;
        for (int n = 1; n < linea && inicio >= 0; ++n) {
            inicio = m_s.indexOf('\n', inicio);
            if (inicio >= 0) {
                ++inicio;
            }
        }
        if (inicio < 0) {
            return QString();
        }
        QString t = QString::fromUtf8(m_s.mid(inicio, finLinea(inicio) - inicio));
        for (QChar& c : t) {
            if (c.unicode() < 0x20 && c != QLatin1Char('\t')) {
                c = QLatin1Char(' ');
            }
        }
        return t.trimmed().left(60);
    }

    bool rechazar(int linea, const QString& que) {
        m_lineaRechazo = linea;
        m_que = que;
        return false;
    }

    void agregar(TokenSql::Tipo tipo, qsizetype inicio, QByteArray texto, char prefijo = 0) {
        if (m_sentencia.tokens.isEmpty()) {
            m_sentencia.linea = m_linea;
            m_inicioSentencia = inicio;
        }
        TokenSql t;
        t.tipo = tipo;
        t.texto = std::move(texto);
        t.prefijo = prefijo;
        t.linea = m_linea;
        m_sentencia.tokens.push_back(std::move(t));
    }

    bool recorrer() {
        // psql reads a line only up to a NUL byte: what follows it on the line never reaches its lexer.
        if (const qsizetype nul = m_s.indexOf('\0'); nul >= 0) {
            return rechazar(lineaDe(nul), QStringLiteral("un carácter nulo, tras el cual psql no lee la línea"));
        }
        bool inicioDeLinea = true;
        while (m_pos < m_s.size()) {
            if (inicioDeLinea) {
                inicioDeLinea = false;
                const qsizetype fin = finLinea(m_pos);
                const QByteArrayView linea(m_s.constData() + m_pos, fin - m_pos);
                if (m_enDatos) {
                    if (linea == "\\." || linea == "\\.\r") {
                        m_enDatos = false;
                    }
                    avanzar(fin + 1);
                    inicioDeLinea = true;
                    continue;
                }
                if (esParRestrictDelVolcado(linea)) {
                    m_tramos.push_back({m_pos, fin, true});
                    avanzar(fin + 1);
                    inicioDeLinea = true;
                    continue;
                }
            }
            if (m_s.at(m_pos) == '\n') {
                if (m_datosAbiertos) {
                    m_enDatos = true;
                    m_datosAbiertos = false;
                }
                avanzar(m_pos + 1);
                inicioDeLinea = true;
                continue;
            }
            if (!token()) {
                return false;
            }
        }
        // psql sends what is left at the end of its input as it stands.
        return m_sentencia.tokens.isEmpty() || terminarSentencia(m_s.size());
    }

    bool token() {
        const qsizetype i = m_pos;
        const char c = m_s.at(i);
        const char sig = en(i + 1);
        if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
            avanzar(i + 1);
            return true;
        }
        if (c == '\r') {
            // psql takes a carriage return for the end of a line (of a comment, of a string's continuation).
            if (!soloCrHastaFin(i)) {
                return rechazar(m_linea, QStringLiteral("un retorno de carro (CR) dentro de la línea, que psql lee "
                                                        "como fin de línea"));
            }
            avanzar(finLinea(i));
            return true;
        }
        if (c == '\\') {
            return rechazar(m_linea, kMetaComando);
        }
        if (c == '-' && sig == '-') {
            const qsizetype fin = finLinea(i);
            const qsizetype cr = QByteArrayView(m_s).sliced(i, fin - i).indexOf('\r');
            if (cr >= 0 && !soloCrHastaFin(i + cr)) {
                return rechazar(m_linea, QStringLiteral("un retorno de carro (CR) dentro de la línea, que psql lee "
                                                        "como fin de un comentario"));
            }
            avanzar(fin);
            return true;
        }
        if (c == '/' && sig == '*') {
            comentarioBloque(i);
            return true;
        }
        if (m_datosAbiertos) {
            // psql reads the data from the next line and goes on with the rest of this one after them.
            return rechazar(m_linea, QStringLiteral("texto después de un COPY … FROM STDIN en su misma línea"));
        }
        if (c == '\'') {
            return cadena(i, i, 0);
        }
        if (c == '"') {
            citado(i, i);
            return true;
        }
        if (c == '$') {
            return dolar(i);
        }
        if (digito(c) || (c == '.' && digito(sig))) {
            return numero(i);
        }
        if (inicioNombre(c)) {
            return palabra(i);
        }
        if (c == '(') {
            ++m_parentesis;
        } else if (c == ')' && m_parentesis > 0) {
            --m_parentesis;
        } else if (c == ';' && m_parentesis == 0) {
            if (m_begin > 0) {
                return rechazar(m_linea, QStringLiteral("el cuerpo BEGIN … END de una función, que cada versión de "
                                                        "psql divide en sentencias de otra manera"));
            }
            avanzar(i + 1);
            return terminarSentencia(i + 1);
        }
        agregar(TokenSql::Tipo::Simbolo, i, QByteArray(1, c));
        avanzar(i + 1);
        return true;
    }

    // Where a quoted string that opens at comilla ends (its closing quote), with or without backslash
    // escapes; -1 when it runs to the end. A backslash at the end of a line escapes nothing: psql never
    // gives its lexer the line's end.
    qsizetype finCadena(qsizetype comilla, bool escapes) const {
        for (qsizetype k = comilla + 1; k < m_s.size(); ++k) {
            const char ch = m_s.at(k);
            if (escapes && ch == '\\') {
                if (en(k + 1) != '\n') {
                    ++k;
                }
            } else if (ch == '\'') {
                if (en(k + 1) != '\'') {
                    return k;
                }
                ++k;
            }
        }
        return -1;
    }

    bool cadena(qsizetype inicio, qsizetype comilla, char prefijo) {
        qsizetype fin;
        if (prefijo == 'E') {
            fin = finCadena(comilla, true);
        } else if (prefijo == 0 || prefijo == 'N') {
            // Backslashes escape here or not as standard_conforming_strings stands when psql reads the line,
            // which SQL may change out of sight: the string must end in the same place either way.
            fin = finCadena(comilla, false);
            if (fin != finCadena(comilla, true)) {
                return rechazar(m_linea, QStringLiteral("una cadena entre comillas cuyo fin depende de "
                                                        "standard_conforming_strings"));
            }
        } else {
            fin = finCadena(comilla, false); // B'', X'', U&'': no backslash escapes
        }
        const qsizetype hasta = fin < 0 ? m_s.size() : fin;
        agregar(TokenSql::Tipo::Cadena, inicio, m_s.mid(comilla + 1, hasta - comilla - 1), prefijo);
        avanzar(fin < 0 ? m_s.size() : fin + 1);
        return true;
    }

    void citado(qsizetype inicio, qsizetype comilla) {
        QByteArray nombre;
        qsizetype k = comilla + 1;
        for (;;) {
            const qsizetype f = m_s.indexOf('"', k);
            if (f < 0) {
                nombre += m_s.mid(k);
                k = m_s.size();
                break;
            }
            nombre += m_s.mid(k, f - k);
            if (en(f + 1) == '"') {
                nombre += '"';
                k = f + 2;
                continue;
            }
            k = f + 1;
            break;
        }
        agregar(TokenSql::Tipo::Citado, inicio, nombre);
        avanzar(k);
    }

    void comentarioBloque(qsizetype i) {
        int profundidad = 1;
        qsizetype k = i + 2;
        while (k < m_s.size() && profundidad > 0) {
            if (m_s.at(k) == '*' && en(k + 1) == '/') {
                --profundidad;
                k += 2;
            } else if (m_s.at(k) == '/' && en(k + 1) == '*') {
                ++profundidad;
                k += 2;
            } else {
                ++k;
            }
        }
        avanzar(k);
    }

    bool dolar(qsizetype i) {
        if (digito(en(i + 1))) {
            qsizetype k = i + 1;
            while (digito(en(k))) {
                ++k;
            }
            if (inicioNombre(en(k))) {
                return rechazar(m_linea, QStringLiteral("un parámetro seguido de letras, que cada versión de psql "
                                                        "separa de otra manera"));
            }
            agregar(TokenSql::Tipo::Parametro, i, m_s.mid(i, k - i));
            avanzar(k);
            return true;
        }
        qsizetype k = i + 1;
        if (inicioNombre(en(k))) {
            while (parteEtiqueta(en(k))) {
                ++k;
            }
        }
        if (en(k) != '$') {
            // Not a delimiter: psql takes the "$" alone and reads on.
            agregar(TokenSql::Tipo::Simbolo, i, QByteArray(1, '$'));
            avanzar(i + 1);
            return true;
        }
        const QByteArray etiqueta = m_s.mid(i, k - i + 1);
        const qsizetype fin = m_s.indexOf(etiqueta, k + 1);
        const qsizetype hasta = fin < 0 ? m_s.size() : fin;
        agregar(TokenSql::Tipo::Cadena, i, m_s.mid(k + 1, hasta - k - 1), '$');
        avanzar(fin < 0 ? m_s.size() : fin + etiqueta.size());
        return true;
    }

    bool numero(qsizetype i) {
        qsizetype k = i;
        while (digito(en(k))) {
            ++k;
        }
        if (en(k) == '.' && en(k + 1) != '.') {
            ++k;
            while (digito(en(k))) {
                ++k;
            }
        }
        if ((en(k) == 'e' || en(k) == 'E') &&
            (digito(en(k + 1)) || ((en(k + 1) == '+' || en(k + 1) == '-') && digito(en(k + 2))))) {
            k += 2;
            while (digito(en(k))) {
                ++k;
            }
        }
        if (inicioNombre(en(k))) {
            // 1e'…', 1a$b$: one psql reads a number and a name, another a single wrong token.
            return rechazar(
                m_linea, QStringLiteral("un número seguido de letras, que cada versión de psql separa de otra manera"));
        }
        agregar(TokenSql::Tipo::Numero, i, m_s.mid(i, k - i));
        avanzar(k);
        return true;
    }

    bool palabra(qsizetype i) {
        const char c = m_s.at(i);
        const char sig = en(i + 1);
        const char mayuscula = char(c & ~0x20);
        if (sig == '\'' && (mayuscula == 'E' || mayuscula == 'N' || mayuscula == 'B' || mayuscula == 'X')) {
            return cadena(i, i + 1, mayuscula);
        }
        if (mayuscula == 'U' && sig == '&' && en(i + 2) == '\'') {
            return cadena(i, i + 2, 'U');
        }
        if (mayuscula == 'U' && sig == '&' && en(i + 2) == '"') {
            citado(i, i + 2);
            return true;
        }
        qsizetype k = i;
        while (parteNombre(en(k))) {
            ++k;
        }
        const QByteArray texto = m_s.mid(i, k - i);
        seguirCuerpoDeFuncion(texto.toLower());
        agregar(TokenSql::Tipo::Palabra, i, texto);
        avanzar(k);
        return true;
    }

    // psql (14 and later) keeps the ";" of a CREATE FUNCTION or PROCEDURE body of BEGIN … END inside the
    // statement, by this rule of its own; psql 13 does not.
    void seguirCuerpoDeFuncion(const QByteArray& palabra) {
        if (m_nombres == 0) {
            std::fill(std::begin(m_iniciales), std::end(m_iniciales), '\0');
        }
        if (palabra == "create" || palabra == "function" || palabra == "procedure" || palabra == "or" ||
            palabra == "replace") {
            if (m_nombres < int(sizeof m_iniciales)) {
                m_iniciales[m_nombres] = palabra.at(0);
            }
        }
        ++m_nombres;
        const char* n = m_iniciales;
        if (n[0] == 'c' &&
            (n[1] == 'f' || n[1] == 'p' || (n[1] == 'o' && n[2] == 'r' && (n[3] == 'f' || n[3] == 'p'))) &&
            m_parentesis == 0) {
            if (palabra == "begin") {
                ++m_begin;
            } else if (palabra == "case") {
                if (m_begin >= 1) {
                    ++m_begin;
                }
            } else if (palabra == "end" && m_begin > 0) {
                --m_begin;
            }
        }
    }

    // COPY … FROM STDIN in its plain form: COPY [BINARY] table [(columns)] FROM STDIN …
    static bool esCopiaDesdeStdin(const QVector<TokenSql>& t) {
        qsizetype k = 1;
        if (k < t.size() && esPalabra(t[k], "BINARY")) {
            ++k;
        }
        if (k >= t.size() || !esNombre(t[k])) {
            return false;
        }
        ++k;
        while (k + 1 < t.size() && esSimbolo(t[k], '.') && esNombre(t[k + 1])) {
            k += 2;
        }
        if (k < t.size() && esSimbolo(t[k], '(')) {
            for (++k; k < t.size() && !esSimbolo(t[k], ')'); ++k) {
                if (esSimbolo(t[k], '(')) {
                    return false;
                }
            }
            if (k >= t.size()) {
                return false;
            }
            ++k;
        }
        return k + 1 < t.size() && esPalabra(t[k], "FROM") && esPalabra(t[k + 1], "STDIN");
    }

    // psql splits the following lines by the client encoding: only a plain SET to an encoding that it reads as
    // it reads UTF-8 can be followed.
    static bool cambioDeCodificacionSeguro(const QVector<TokenSql>& t) {
        bool nombra = false;
        for (const TokenSql& x : t) {
            if ((x.tipo == TokenSql::Tipo::Palabra || x.tipo == TokenSql::Tipo::Cadena ||
                 x.tipo == TokenSql::Tipo::Citado) &&
                x.texto.trimmed().compare("client_encoding", Qt::CaseInsensitive) == 0) {
                nombra = true;
            }
        }
        qsizetype k = 1;
        if (!t.isEmpty() && esPalabra(t[0], "SET")) {
            if (k < t.size() && esPalabra(t[k], "SESSION")) {
                ++k;
            }
            if (k < t.size() && esPalabra(t[k], "NAMES")) {
                nombra = true;
                ++k;
            } else if (k + 1 < t.size() && esPalabra(t[k], "client_encoding") &&
                       (esSimbolo(t[k + 1], '=') || esPalabra(t[k + 1], "TO"))) {
                k += 2;
            } else {
                k = -1;
            }
        } else {
            k = -1;
        }
        if (!nombra) {
            return true;
        }
        if (k < 0 || k + 1 != t.size()) {
            return false;
        }
        const TokenSql& v = t[k];
        return (v.tipo == TokenSql::Tipo::Palabra || (v.tipo == TokenSql::Tipo::Cadena && v.prefijo == 0)) &&
               codificacionSegura(QString::fromLatin1(v.texto));
    }

    bool terminarSentencia(qsizetype fin) {
        SentenciaScript s = std::move(m_sentencia);
        const qsizetype inicio = m_inicioSentencia;
        m_sentencia = SentenciaScript();
        m_parentesis = 0;
        m_begin = 0;
        m_nombres = 0;
        if (s.tokens.isEmpty()) {
            return true;
        }
        if (esPalabra(s.tokens.first(), "COPY")) {
            s.abreDatos = esCopiaDesdeStdin(s.tokens);
            if (!s.abreDatos) {
                for (const TokenSql& t : s.tokens) {
                    if (esPalabra(t, "STDIN")) {
                        return rechazar(s.linea, QStringLiteral("una sentencia COPY con STDIN que no es una carga de "
                                                                "datos simple"));
                    }
                }
            }
        }
        if (!cambioDeCodificacionSeguro(s.tokens)) {
            return rechazar(s.linea, QStringLiteral("un cambio de client_encoding que psql leería de otra manera"));
        }
        if (m_revisor) {
            const RevisionSentencia r = m_revisor(s);
            if (r.accion == RevisionSentencia::Accion::Rechazar) {
                return rechazar(r.linea > 0 ? r.linea : s.linea, r.que);
            }
            if (r.accion == RevisionSentencia::Accion::Omitir) {
                m_tramos.push_back({inicio, fin, false});
            }
        }
        m_datosAbiertos = s.abreDatos;
        return true;
    }

    // What psql reads: the fresh \restrict line, then the script without the dump's own pair and with the
    // omitted statements blanked.
    QByteArray entrada(const QString& clave) const {
        QByteArray salida = QByteArrayLiteral("\\restrict ") + clave.toLatin1() + '\n';
        salida.reserve(salida.size() + m_s.size() + 1);
        qsizetype desde = 0;
        for (const Tramo& t : m_tramos) {
            salida.append(m_s.constData() + desde, t.inicio - desde);
            if (!t.quitar) {
                for (qsizetype k = t.inicio; k < t.fin; ++k) {
                    salida += m_s.at(k) == '\n' ? '\n' : ' ';
                }
            }
            desde = t.fin;
        }
        salida.append(m_s.constData() + desde, m_s.size() - desde);
        if (!m_s.isEmpty() && !m_s.endsWith('\n')) {
            salida += '\n';
        }
        return salida;
    }

    const QByteArray& m_s;
    const RevisorSentencias& m_revisor;
    qsizetype m_pos = 0;
    int m_linea = 1;
    bool m_enDatos = false;       // COPY data lines
    bool m_datosAbiertos = false; // a COPY … FROM STDIN ended on this line: its data start on the next
    SentenciaScript m_sentencia;  // the statement so far
    qsizetype m_inicioSentencia = 0;
    int m_parentesis = 0;
    int m_begin = 0;
    int m_nombres = 0;
    char m_iniciales[4] = {};
    QVector<Tramo> m_tramos;
    int m_lineaRechazo = 0;
    QString m_que;
};

} // namespace

ScriptAjeno prepararScriptAjeno(const QByteArray& script, const RevisorSentencias& revisor) {
    return Lector(script, revisor).revisar();
}

bool codificacionSegura(const QString& nombre) {
    // The server's encodings: letters and digits only, as the server compares them.
    QString n;
    for (const QChar c : nombre) {
        if (c.isLetterOrNumber()) {
            n += c.toLower();
        }
    }
    static const QRegularExpression segura(QRegularExpression::anchoredPattern(
        QStringLiteral("utf8|unicode|sqlascii|latin([1-9]|10)|iso8859(1|2|3|4|5|6|7|8|9|10|13|14|15|16)|"
                       "win(125[0-8]|866|874)|windows(125[0-8]|866|874)|koi8r?|koi8u|euc(jp|cn|kr|tw|jis2004)|"
                       "muleinternal|alt|win|tcvn|tcvn5712|vscii|abc")));
    return segura.match(n).hasMatch();
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
