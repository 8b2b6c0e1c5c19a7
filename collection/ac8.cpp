#include "collection/ac8.h"

#include "core/errores.h"
#include "core/sqlutil.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace v7::ac8 {

namespace {

Campo campo(const char* nombre, int tipo, int tamano, int atributos, const char* predeterminado, bool requerido,
            bool permiteVacio = false) {
    return Campo{QString::fromLatin1(nombre),         tipo,      tamano,      atributos,
                 QString::fromLatin1(predeterminado), requerido, permiteVacio};
}

Indice indice(const char* nombre, const char* campo, bool primario, bool unico) {
    return Indice{QString::fromLatin1(nombre), QString::fromLatin1(campo), primario, unico};
}

bool esTexto(int tipo) {
    return tipo == kTexto || tipo == kMemo;
}

// Column constraints are named field + one of these, so a rejected row can be told apart.
const QString kSufijoTamano = QStringLiteral("_tamano");
const QString kSufijoVacio = QStringLiteral("_vacio");
const QString kSufijoRango = QStringLiteral("_rango");

QString definicionCampo(const Campo& c) {
    QString d = citarIdentificador(c.nombre);
    d += esTexto(c.tipo)    ? QStringLiteral(" TEXT COLLATE NOCASE")
         : c.tipo == kFecha ? QStringLiteral(" TEXT")
                            : QStringLiteral(" INT");
    if (c.requerido) {
        d += QStringLiteral(" NOT NULL");
    }
    if (!c.predeterminado.isEmpty()) {
        bool numero = false;
        c.predeterminado.toLongLong(&numero);
        d += QStringLiteral(" DEFAULT ") +
             (numero ? c.predeterminado : QLatin1Char('\'') + EscaparComillas(c.predeterminado) + QLatin1Char('\''));
    }
    const QString col = citarIdentificador(c.nombre);
    if (esTexto(c.tipo) && c.tamano > 0) {
        d += QStringLiteral(" CONSTRAINT ") + citarIdentificador(c.nombre + kSufijoTamano) +
             QStringLiteral(" CHECK (length(") + col + QStringLiteral(") <= ") + QString::number(c.tamano) +
             QLatin1Char(')');
    }
    if (esTexto(c.tipo) && !c.permiteVacio) {
        d += QStringLiteral(" CONSTRAINT ") + citarIdentificador(c.nombre + kSufijoVacio) + QStringLiteral(" CHECK (") +
             col + QStringLiteral(" <> '')");
    }
    if (c.tipo == kEntero16 || c.tipo == kEntero32) {
        const QString limites =
            c.tipo == kEntero16 ? QStringLiteral("-32768 AND 32767") : QStringLiteral("-2147483648 AND 2147483647");
        d += QStringLiteral(" CONSTRAINT ") + citarIdentificador(c.nombre + kSufijoRango) + QStringLiteral(" CHECK (") +
             col + QStringLiteral(" BETWEEN ") + limites + QLatin1Char(')');
    }
    return d;
}

// The statements that define a table: the table (its primary key as a named constraint), then the other
// indexes in their order. Index names are per table in the original format and per file here, so they
// carry the table's name.
QStringList ddl(const Tabla& t) {
    QStringList columnas;
    for (const Campo& c : t.campos) {
        columnas << definicionCampo(c);
    }
    for (const Indice& i : t.indices) {
        if (i.primario) {
            columnas << QStringLiteral("CONSTRAINT ") + citarIdentificador(i.nombre) +
                            QStringLiteral(" PRIMARY KEY (") + citarIdentificador(i.campo) + QLatin1Char(')');
        }
    }
    QStringList sentencias{QStringLiteral("CREATE TABLE ") + citarIdentificador(t.nombre) + QStringLiteral(" (\n    ") +
                           columnas.join(QStringLiteral(",\n    ")) + QStringLiteral("\n) STRICT")};
    for (const Indice& i : t.indices) {
        if (!i.primario) {
            sentencias << QStringLiteral("CREATE ") + (i.unico ? QStringLiteral("UNIQUE ") : QString()) +
                              QStringLiteral("INDEX ") + citarIdentificador(t.nombre + QLatin1Char('_') + i.nombre) +
                              QStringLiteral(" ON ") + citarIdentificador(t.nombre) + QStringLiteral(" (") +
                              citarIdentificador(i.campo) + QStringLiteral(" ASC)");
        }
    }
    return sentencias;
}

// The engine's number and text for a failure of the file.
Resultado error(int codigo, const QString& mensaje) {
    const QString detalle = QStringLiteral(" (") + mensaje + QLatin1Char(')');
    switch (codigo) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
        return {err::kClaveDuplicada, err::descripcion(err::kClaveDuplicada) + detalle};
    case SQLITE_CONSTRAINT_NOTNULL:
        return {err::kCampoRequerido, err::descripcion(err::kCampoRequerido) + detalle};
    case SQLITE_CONSTRAINT_DATATYPE:
        return {kTiposNoCoinciden,
                QStringLiteral("No coinciden los tipos de datos en la expresión de criterios.") + detalle};
    case SQLITE_CONSTRAINT_CHECK: {
        const QString nombre = mensaje.section(QStringLiteral(": "), -1);
        if (nombre.endsWith(kSufijoVacio)) {
            return {kCampoVacio, QStringLiteral("El campo '") + nombre.chopped(kSufijoVacio.size()) +
                                     QStringLiteral("' no puede ser una cadena de longitud cero.")};
        }
        if (nombre.endsWith(kSufijoTamano)) {
            return {kCampoDemasiadoPequeno, QStringLiteral("El campo es demasiado pequeño para aceptar la cantidad de "
                                                           "datos que intentó agregar.") +
                                                detalle};
        }
        if (nombre.endsWith(kSufijoRango)) {
            return {kDesbordamientoCampo, QStringLiteral("Desbordamiento del campo numérico.") + detalle};
        }
        return {kErrorMotor, QStringLiteral("Error reservado") + detalle};
    }
    case SQLITE_ERROR:
        return {kErrorSintaxis, QStringLiteral("Error de sintaxis en la instrucción INSERT INTO.") + detalle};
    default:
        if ((codigo & 0xff) == SQLITE_CANTOPEN) {
            return {kRutaNoValida, QStringLiteral("No es una ruta válida.") + detalle};
        }
        return {kErrorMotor, QStringLiteral("Error reservado") + detalle};
    }
}

class ArchivoSqlite final : public ArchivoAcervo {
public:
    ~ArchivoSqlite() override { (void)cerrar(); }

    Resultado crear(const QString& ruta) override {
        (void)cerrar();
        // The file is made here, new, never through a link; the engine then only opens it (an empty file is an
        // empty database), so it never creates a file by name.
        const int fd = ::open(QFile::encodeName(ruta).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0) {
            if (errno == EEXIST) {
                return {kBaseYaExiste, QStringLiteral("La base de datos ya existe.")};
            }
            return {kRutaNoValida, QStringLiteral("No es una ruta válida. (") +
                                       QString::fromLocal8Bit(std::strerror(errno)) + QLatin1Char(')')};
        }
        ::close(fd);
        Resultado r = abrirCon(ruta, SQLITE_OPEN_READWRITE);
        if (!r.ok()) {
            // The empty file just made is no file of the export.
            ::unlink(QFile::encodeName(ruta).constData());
        }
        return r;
    }

    Resultado definir(const Tabla& tabla) override {
        if (m_db == nullptr) {
            return {err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado)};
        }
        for (const QString& s : ddl(tabla)) {
            if (Resultado r = exec(s); !r.ok()) {
                return r;
            }
        }
        return {};
    }

    Resultado abrir(const QString& ruta) override {
        (void)cerrar();
        if (!QFileInfo(ruta).isFile()) {
            return {err::kArchivoNoEncontrado, err::descripcion(err::kArchivoNoEncontrado)};
        }
        if (Resultado r = abrirCon(ruta, SQLITE_OPEN_READWRITE); !r.ok()) {
            return r;
        }
        // One transaction for every row and a savepoint per row: a rejected row is undone alone, and
        // the file is synced once instead of once per row. These statements go to the file's own handle,
        // not to the server's connection.
        if (Resultado r = exec(QStringLiteral("BEGIN")); !r.ok()) {
            (void)cerrar();
            return r;
        }
        m_transaccion = true;
        return {};
    }

    Resultado ejecutar(const QString& insert) override {
        if (m_db == nullptr) {
            return {err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado)};
        }
        const QByteArray texto = insert.toUtf8();
        sqlite3_stmt* st = nullptr;
        const char* resto = nullptr;
        int rc = sqlite3_prepare_v2(m_db, texto.constData(), int(texto.size()), &st, &resto);
        if (rc != SQLITE_OK) {
            return error(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        const bool uno =
            st != nullptr && sqlite3_stmt_readonly(st) == 0 && QByteArray(resto).trimmed().isEmpty() &&
            QString::fromUtf8(sqlite3_sql(st)).trimmed().startsWith(QLatin1String("INSERT"), Qt::CaseInsensitive);
        if (!uno) {
            sqlite3_finalize(st);
            return {kErrorSintaxis, QStringLiteral("Error de sintaxis en la instrucción INSERT INTO.")};
        }
        if (Resultado r = exec(QStringLiteral("SAVEPOINT fila")); !r.ok()) {
            sqlite3_finalize(st);
            return r;
        }
        rc = sqlite3_step(st);
        Resultado r;
        if (rc != SQLITE_DONE) {
            r = error(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        sqlite3_finalize(st);
        if (!r.ok()) {
            (void)exec(QStringLiteral("ROLLBACK TO fila"));
        }
        (void)exec(QStringLiteral("RELEASE fila"));
        return r;
    }

    Resultado cerrar() override {
        Resultado r;
        if (m_db == nullptr) {
            return r;
        }
        if (m_transaccion) {
            r = exec(QStringLiteral("COMMIT"));
            m_transaccion = false;
        }
        if (sqlite3_close(m_db) != SQLITE_OK && r.ok()) {
            r = error(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        m_db = nullptr;
        return r;
    }

    bool abierto() const override { return m_db != nullptr; }

private:
    Resultado abrirCon(const QString& ruta, int flags) {
        sqlite3* db = nullptr;
        // No link anywhere in the path: the engine would follow it by name, for the file and its journal alike.
        const int rc = sqlite3_open_v2(QFile::encodeName(ruta).constData(), &db, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
        if (rc != SQLITE_OK) {
            Resultado r = error(db != nullptr ? sqlite3_extended_errcode(db) : rc,
                                db != nullptr ? QString::fromUtf8(sqlite3_errmsg(db)) : QString());
            sqlite3_close(db);
            return r;
        }
        sqlite3_extended_result_codes(db, 1);
        m_db = db;
        // A file that is not a database fails here rather than at the first row.
        if (Resultado r = exec(QStringLiteral("PRAGMA schema_version")); !r.ok()) {
            sqlite3_close(m_db);
            m_db = nullptr;
            return r;
        }
        return {};
    }

    Resultado exec(const QString& sql) {
        char* mensaje = nullptr;
        const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &mensaje);
        if (rc == SQLITE_OK) {
            return {};
        }
        const QString texto = QString::fromUtf8(mensaje != nullptr ? mensaje : sqlite3_errmsg(m_db));
        sqlite3_free(mensaje);
        return error(sqlite3_extended_errcode(m_db), texto);
    }

    sqlite3* m_db = nullptr;
    bool m_transaccion = false;
};

} // namespace

Tabla tablaEjemplares() {
    Tabla t;
    t.nombre = QStringLiteral("EJEMPLARES");
    // An empty default in the original definitions means no default.
    t.campos = {
        campo("Ficha_No", kEntero32, 4, kTamanoFijo, "0", true),
        campo("NumAdqui", kTexto, 15, kTamanoVariable, "", true),
        campo("FechaIngreso", kFecha, 8, kTamanoFijo, "", false),
        campo("Biblioteca", kEntero16, 2, kTamanoFijo, "0", true),
        campo("Volumen", kEntero16, 2, kTamanoFijo, "0", false),
        campo("Ejemplar", kEntero32, 4, kTamanoFijo, "0", false),
        campo("Tomo", kEntero16, 2, kTamanoFijo, "0", false),
        campo("Accesible", kEntero16, 2, kTamanoFijo, "0", true),
        campo("NoEscuela", kEntero32, 0, kTamanoFijo, "0", false),
        campo("FechaMod", kFecha, 0, kTamanoFijo, "", false),
        campo("Analista", kTexto, 10, kTamanoFijo, "", false),
    };
    t.indices = {
        indice("Accesible", "Accesible", false, false), indice("Biblioteca", "Biblioteca", false, false),
        indice("Ficha_No", "Ficha_No", false, false),   indice("NumAdqui", "NumAdqui", false, true),
        indice("PrimaryKey", "NumAdqui", true, true),
    };
    return t;
}

Tabla tablaFichas() {
    Tabla t;
    t.nombre = QStringLiteral("Fichas");
    t.campos = {
        campo("Ficha_No", kEntero32, 4, kTamanoFijo, "0", true),
        campo("Fecha", kFecha, 8, kTamanoFijo, "", false),
        campo("FechaMod", kFecha, 8, kTamanoFijo, "", false),
        campo("DatosFijos", kTexto, 60, kTamanoVariable, "", false, true),
        campo("EtiquetasMARC", kMemo, 0, kTamanoVariable, "", false),
        campo("TipoMaterial", kEntero16, 2, kTamanoFijo, "0", false),
        campo("ISBN", kTexto, 20, kTamanoVariable, "", false, true),
        campo("Titulo", kTexto, 50, kTamanoVariable, "", false, true),
        campo("Autor", kTexto, 50, kTamanoVariable, "", false, true),
        campo("Clasificacion", kTexto, 50, kTamanoVariable, "", false, true),
        campo("Estatus", kTexto, 1, kTamanoVariable, "A", false, true),
        campo("Coleccion_No", kEntero32, 0, kTamanoVariable, "1", false),
    };
    t.indices = {
        indice("Autor", "Autor", false, false),       indice("Clasificacion", "Clasificacion", false, false),
        indice("Ficha_No", "Ficha_No", false, true),  indice("ISBN", "ISBN", false, false),
        indice("PrimaryKey", "Ficha_No", true, true), indice("TipoMaterial", "TipoMaterial", false, false),
        indice("Titulo", "Titulo", false, false),
    };
    return t;
}

std::unique_ptr<ArchivoAcervo> nuevoArchivoAcervo() {
    return std::make_unique<ArchivoSqlite>();
}

QString literalTexto(const QVariant& valor) {
    if (!valor.isValid() || valor.isNull()) {
        return QStringLiteral("NULL");
    }
    const QString s = valor.toString().trimmed();
    if (s.isEmpty()) {
        return QStringLiteral("NULL");
    }
    // The file's SQL has no backslash escapes: only the quote is doubled.
    return QLatin1Char('\'') + EscaparComillas(s) + QLatin1Char('\'');
}

QString literalFecha(const QVariant& valor) {
    return FormatearValorSQL(valor, kTipoFecha);
}

QString literalNumero(const QVariant& valor) {
    return FormatearValorSQL(valor, 0);
}

QString estatusAnterior(const QString& estatus) {
    const QString s = estatus.trimmed();
    return s.size() <= 1 ? s : s.left(1).toUpper();
}

namespace {

QString texto(const std::optional<QString>& valor, const QString& campo, int tamano, QVector<Recorte>& recortes) {
    if (!valor) {
        return QStringLiteral("NULL");
    }
    QString s = valor->trimmed();
    if (s.size() > tamano) {
        recortes.push_back(Recorte{campo, tamano, s});
        s.truncate(tamano);
    }
    return literalTexto(s);
}

QVariant v(const std::optional<QString>& valor) {
    return valor ? QVariant(*valor) : QVariant();
}

QString fechaMod(const QDateTime& ahora) {
    return literalFecha(ahora);
}

} // namespace

QString insertEjemplar(const db::Recordset& fila, const QDateTime& ahora, QVector<Recorte>& recortes) {
    const QString coma = QStringLiteral(",");
    return QStringLiteral("INSERT INTO EJEMPLARES (Ficha_no,NumAdqui,FechaIngreso,Biblioteca,volumen,Ejemplar,Tomo,"
                          "Accesible,NoEscuela,FechaMod,Analista) VALUES (") +
           literalNumero(v(fila.value(QStringLiteral("ficha_no")))) + coma +
           // The item number is the table's key: cut, it could become another item's number, so one
           // too long for its field is left to the file, which refuses the row.
           literalTexto(v(fila.value(QStringLiteral("no_adqui")))) + coma +
           literalFecha(v(fila.value(QStringLiteral("fechaingreso")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("idbiblioteca")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("volumen")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("ejemplar")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("tomo")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("accesible")))) + coma +
           literalNumero(v(fila.value(QStringLiteral("idescuela")))) + coma + fechaMod(ahora) + coma +
           texto(fila.value(QStringLiteral("analista")), QStringLiteral("Analista"), 10, recortes) +
           QStringLiteral(");");
}

QString insertFicha(const db::Recordset& fila, const QString& datosFijos, const QString& etiquetas,
                    const QDateTime& ahora, QVector<Recorte>& recortes) {
    const QString coma = QStringLiteral(",");
    const auto estatus = fila.value(QStringLiteral("estatus"));
    return QStringLiteral("INSERT INTO FICHAS (Ficha_no,Fecha,FechaMod,datosFijos,EtiquetasMARC,TipoMaterial,ISBN,"
                          "Titulo,Autor,Clasificacion,Estatus,Coleccion_No) VALUES (") +
           literalNumero(v(fila.value(QStringLiteral("ficha_no")))) + coma +
           literalFecha(v(fila.value(QStringLiteral("fechacaptura")))) + coma + fechaMod(ahora) + coma +
           texto(datosFijos, QStringLiteral("DatosFijos"), 60, recortes) + coma + literalTexto(etiquetas) + coma +
           literalNumero(v(fila.value(QStringLiteral("idtipomaterial")))) + coma +
           texto(fila.value(QStringLiteral("isbn")), QStringLiteral("ISBN"), 20, recortes) + coma +
           texto(fila.value(QStringLiteral("titulo")), QStringLiteral("Titulo"), 50, recortes) + coma +
           texto(fila.value(QStringLiteral("autor")), QStringLiteral("Autor"), 50, recortes) + coma +
           texto(fila.value(QStringLiteral("clasificacion")), QStringLiteral("Clasificacion"), 50, recortes) + coma +
           literalTexto(estatus ? QVariant(estatusAnterior(*estatus)) : QVariant()) + QStringLiteral(",1);");
}

QString empacarEtiquetas(const QVector<FilaEtiqueta>& filas, QString& datosFijos) {
    datosFijos.clear();
    QString texto;
    int actual = -1;
    QString datos;
    auto cerrarGrupo = [&] {
        if (actual >= 0) {
            texto += QChar(0x00A6) + QString::number(actual).rightJustified(3, QLatin1Char('0')) + datos;
        }
        actual = -1;
        datos.clear();
    };
    for (const FilaEtiqueta& f : filas) {
        if (f.numetiqueta == 8) {
            cerrarGrupo();
            datosFijos = f.data;
            continue;
        }
        if (f.numetiqueta != actual) {
            cerrarGrupo();
            actual = f.numetiqueta;
        }
        datos = (datos + QLatin1Char(' ') + f.data).trimmed();
    }
    cerrarGrupo();
    return texto + QChar(0x00CC);
}

} // namespace v7::ac8
