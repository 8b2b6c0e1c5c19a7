#include "catalogues/catalogo.h"

#include "core/session.h"
#include "core/sqlutil.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace v7 {

namespace {

const QString kEsquema = QStringLiteral("catalogos");
const QString kTabla = QStringLiteral("bibliotecas");

bool esTipoTexto(const QString& tipo) {
    return tipo == QLatin1String("character varying") || tipo == QLatin1String("character") ||
           tipo == QLatin1String("text");
}

db::FieldType tipoParametro(const QString& tipo) {
    if (tipo == QLatin1String("smallint")) {
        return db::FieldType::SmallInt;
    }
    if (tipo == QLatin1String("integer")) {
        return db::FieldType::Integer32;
    }
    if (tipo == QLatin1String("bigint")) {
        return db::FieldType::Integer64;
    }
    if (tipo == QLatin1String("numeric")) {
        return db::FieldType::Numeric;
    }
    if (tipo == QLatin1String("date")) {
        return db::FieldType::Date;
    }
    return esTipoTexto(tipo) ? db::FieldType::Text : db::FieldType::Other;
}

} // namespace

QString consultaCatalogo() {
    return QStringLiteral("SELECT * FROM catalogos.bibliotecas ORDER BY nombre");
}

QString consultaColumnas() {
    return QStringLiteral("SELECT column_name, is_nullable, data_type, character_maximum_length FROM "
                          "information_schema.Columns WHERE table_schema='") +
           kEsquema + QStringLiteral("' AND table_name='") + kTabla + QStringLiteral("' ORDER BY ordinal_position");
}

QVector<ColumnaCatalogo> leerColumnas(db::Recordset& rs) {
    QVector<ColumnaCatalogo> out;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        ColumnaCatalogo c;
        c.nombre = rs.text(QStringLiteral("column_name"));
        c.requerido = rs.text(QStringLiteral("is_nullable")) == QLatin1String("NO");
        c.tipo = rs.text(QStringLiteral("data_type"));
        if (const auto l = rs.value(QStringLiteral("character_maximum_length"))) {
            bool ok = false;
            const qint64 n = l->toLongLong(&ok);
            if (ok) {
                c.longitud = n;
            }
        }
        out.push_back(c);
    }
    rs.moveFirst();
    return out;
}

ReglaCampo reglaCampo(const ColumnaCatalogo& columna) {
    ReglaCampo r;
    const QString& t = columna.tipo;
    if (t == QLatin1String("character varying") || t == QLatin1String("character")) {
        // A length beyond what an int holds is no limit at all for a box.
        const qint64 l = columna.longitud.value_or(0);
        r.longitud = l > 0 && l <= std::numeric_limits<int>::max() ? int(l) : 0;
    } else if (t == QLatin1String("date")) {
        r.longitud = 12;
        r.fecha = true;
    } else if (t == QLatin1String("smallint")) {
        r = {4, true, true, false};
    } else if (t == QLatin1String("integer")) {
        r = {9, true, true, false};
    } else if (t == QLatin1String("bigint")) {
        r = {18, true, true, false};
    } else if (t == QLatin1String("numeric")) {
        r = {6, true, false, false};
    }
    return r;
}

int anchoCaja(int longitud) {
    if (longitud > 0 && longitud <= 34) {
        return longitud * 150 + 10;
    }
    return 5260;
}

QString etiquetaCampo(const QString& columna) {
    QString s = columna;
    s.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (!s.isEmpty()) {
        s[0] = s.at(0).toUpper();
    }
    return s;
}

bool campoOculto(const QString& columna) {
    return etiquetaCampo(columna).toUpper() == QLatin1String("ANALISTA");
}

bool campoFoto(const QString& columna) {
    return etiquetaCampo(columna).toUpper() == QLatin1String("FOTO");
}

int maximoDesplazamiento(int filas, int filasVisibles) {
    const int mitad = int(std::nearbyint(filas / 2.0)); // halves to even
    return qMax(mitad + 1, filas - qMax(1, filasVisibles));
}

bool caracterPermitido(QChar c, bool numerico, bool soloEnteros) {
    if (!numerico) {
        return true;
    }
    if (c == QChar(8) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
        return true;
    }
    return !soloEnteros && c == QLatin1Char('.');
}

QString celdaClave(const std::optional<QString>& valor) {
    return valor.value_or(QString()).rightJustified(10, QLatin1Char(' '));
}

double valorNumerico(const QString& texto) {
    static const QRegularExpression numero(QStringLiteral("^\\s*([+-]?(\\d+\\.?\\d*|\\.\\d+))"));
    const auto m = numero.match(texto);
    return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
}

bool esNumerico(const QString& texto) {
    bool ok = false;
    const double d = texto.trimmed().toDouble(&ok);
    return ok && std::isfinite(d);
}

QString literalClave(const QString& clave) {
    const QString t = clave.trimmed();
    bool entero = false;
    const qint64 n = t.toLongLong(&entero);
    return entero ? QString::number(n) : citarLiteral(t);
}

QString sentenciaModificar(const QVector<CambioCampo>& cambios, const QString& clave) {
    if (cambios.isEmpty()) {
        return QString();
    }
    QStringList asignaciones;
    for (const CambioCampo& c : cambios) {
        asignaciones << c.columna + QStringLiteral("= ") + citarLiteral(c.texto.trimmed());
    }
    return QStringLiteral("UPDATE catalogos.bibliotecas SET ") + asignaciones.join(QStringLiteral(", ")) +
           QStringLiteral(" WHERE idbiblioteca= ") + literalClave(clave);
}

QString sentenciaBorrar(const QString& clave) {
    return QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE idbiblioteca = ") + literalClave(clave);
}

bool InsertarRegistro(const QVector<ColumnaCatalogo>& columnas, const QVector<ValorCampo>& valores,
                      db::DbError& error) {
    QStringList nombres;
    QStringList marcas;
    QVector<db::Parametro> params;
    for (int k = 0; k < columnas.size(); ++k) {
        const ColumnaCatalogo& c = columnas[k];
        const ValorCampo v = valores.value(k);
        db::Parametro p;
        p.tipo = tipoParametro(c.tipo);
        if (v.esFecha) {
            if (v.fecha.isValid()) {
                p.valor = v.fecha.toString(QStringLiteral("yyyy-MM-dd"));
            }
        } else {
            const QString t = v.texto.trimmed();
            if (!t.isEmpty() || esTipoTexto(c.tipo)) {
                p.valor = t;
            }
        }
        nombres << citarIdentificador(c.nombre);
        marcas << QStringLiteral("?");
        params.push_back(p);
    }
    const QString sql = QStringLiteral("INSERT INTO ") + citarIdentificador(kEsquema, kTabla) + QStringLiteral(" (") +
                        nombres.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
                        marcas.join(QStringLiteral(", ")) + QStringLiteral(")");
    qint64 filas = 0;
    return conexionPrincipal().execute(sql, params, filas, error);
}

FallaEscritura clasificarFalla(const db::DbError& error) {
    // The state decides; the old servers' English wording is still recognised where a driver gives no state.
    if (error.sqlState == QLatin1String("23505") ||
        error.description.contains(QLatin1String("duplicate key violates"))) {
        return FallaEscritura::ClaveDuplicada;
    }
    if (error.sqlState == QLatin1String("23503") || error.description.contains(QLatin1String("violates foreign key"))) {
        return FallaEscritura::Referenciado;
    }
    return FallaEscritura::Otra;
}

bool coincideCelda(const QString& celda, const QString& cadena, bool fraseCompleta) {
    const QString c = celda.toLower();
    const QString s = cadena.toLower();
    return fraseCompleta ? c == s : c.contains(s);
}

// These keep the connection's own calls: the window sorts a failure by the server's SQLSTATE, which the
// layer's error text does not carry.
std::unique_ptr<db::Recordset> LeerFilasCatalogo(db::DbError& error) {
    return conexionPrincipal().query(consultaCatalogo(), error);
}

bool LeerCatalogo(std::unique_ptr<db::Recordset>& filas, std::unique_ptr<db::Recordset>& columnas, db::DbError& error) {
    filas = LeerFilasCatalogo(error);
    columnas = filas ? conexionPrincipal().query(consultaColumnas(), error) : nullptr;
    if (!columnas) {
        filas.reset();
    }
    return columnas != nullptr;
}

bool BorrarRegistro(const QString& clave, qint64& filas, db::DbError& error) {
    return conexionPrincipal().execute(sentenciaBorrar(clave), filas, error);
}

} // namespace v7
