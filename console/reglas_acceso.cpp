#include "console/reglas_acceso.h"

#include "console/monitoreo.h"

#include "core/scripts.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kLoopback = QStringLiteral("127.0.0.1");

// The authentication methods the server knows.
const QStringList kMetodos = {
    QStringLiteral("trust"),    QStringLiteral("reject"), QStringLiteral("scram-sha-256"), QStringLiteral("md5"),
    QStringLiteral("password"), QStringLiteral("gss"),    QStringLiteral("sspi"),          QStringLiteral("ident"),
    QStringLiteral("peer"),     QStringLiteral("ldap"),   QStringLiteral("radius"),        QStringLiteral("cert"),
    QStringLiteral("pam"),      QStringLiteral("bsd"),
};

bool soloDigitos(const QString& t) {
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return !t.isEmpty();
}

// A decimal number without leading zeros (they would be read as octal by the address parser).
bool numero(const QString& t, int maximo, int maxDigitos, quint32* valor) {
    if (!soloDigitos(t) || t.size() > maxDigitos || (t.size() > 1 && t.front() == QLatin1Char('0'))) {
        return false;
    }
    const int v = t.toInt();
    if (v > maximo) {
        return false;
    }
    if (valor != nullptr) {
        *valor = quint32(v);
    }
    return true;
}

bool cuarteto(const QString& t, quint32* valor) {
    const QStringList partes = t.split(QLatin1Char('.'));
    if (partes.size() != 4) {
        return false;
    }
    quint32 v = 0;
    for (const QString& p : partes) {
        quint32 byte = 0;
        if (!numero(p, 255, 3, &byte)) {
            return false;
        }
        v = (v << 8) | byte;
    }
    if (valor != nullptr) {
        *valor = v;
    }
    return true;
}

bool mascaraBits(const QString& t) {
    return numero(t, 32, 2, nullptr);
}

bool mascaraPunteada(const QString& t) {
    quint32 m = 0;
    if (!cuarteto(t, &m)) {
        return false;
    }
    const quint32 hueco = ~m; // the host part: ones only at the low end
    return (hueco & (hueco + 1)) == 0;
}

QByteArray sinRetorno(QByteArray linea) {
    if (linea.endsWith('\r')) {
        linea.chop(1);
    }
    return linea;
}

ErrorSistema leerTodo(const QString& ruta, QByteArray* contenido) {
    const int fd = ::open(QFile::encodeName(ruta).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errorSistema(errno);
    }
    QByteArray datos;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return errorSistema(e);
        }
        if (n == 0) {
            break;
        }
        datos.append(buf, n);
    }
    ::close(fd);
    *contenido = datos;
    return {};
}

// Replaces ruta with datos through a temporary file beside it, with the owner and mode of modelo:
// the server never sees a half-written file.
ErrorSistema escribirAtomico(const QString& ruta, const QByteArray& datos, const struct stat& modelo) {
    const QByteArray destino = QFile::encodeName(ruta);
    const QByteArray temporal = destino + ".v7tmp";
    ::unlink(temporal.constData());
    const int fd = ::open(temporal.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errorSistema(errno);
    }
    auto fallar = [&](int e) {
        ::close(fd);
        ::unlink(temporal.constData());
        return errorSistema(e);
    };
    for (qsizetype escrito = 0; escrito < datos.size();) {
        const ssize_t n = ::write(fd, datos.constData() + escrito, size_t(datos.size() - escrito));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fallar(errno);
        }
        escrito += n;
    }
    struct stat actual {};
    if (::fstat(fd, &actual) != 0) {
        return fallar(errno);
    }
    if ((actual.st_uid != modelo.st_uid || actual.st_gid != modelo.st_gid) &&
        ::fchown(fd, modelo.st_uid, modelo.st_gid) != 0) {
        return fallar(errno);
    }
    if (::fchmod(fd, modelo.st_mode & 07777) != 0 || ::fsync(fd) != 0) {
        return fallar(errno);
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(temporal.constData());
        return errorSistema(e);
    }
    if (::rename(temporal.constData(), destino.constData()) != 0) {
        const int e = errno;
        ::unlink(temporal.constData());
        return errorSistema(e);
    }
    const int dir = ::open(QFile::encodeName(QFileInfo(ruta).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return {};
}

QString textoError(const ErrorSistema& e) {
    return QStringLiteral("Ocurrio el error no. ") + QString::number(e.numero) + kCrLf + e.descripcion;
}

// "host", 4 blanks, "all", 9 blanks, "all", 9 blanks, the address (and mask), 10 blanks, the method,
// and 5 blanks, "#" and the comment when there is one.
QString lineaConDireccion(const QString& direccion, const QString& metodo, const QString& comentario) {
    QString l = QStringLiteral("host") + QString(4, QLatin1Char(' ')) + QStringLiteral("all") +
                QString(9, QLatin1Char(' ')) + QStringLiteral("all") + QString(9, QLatin1Char(' ')) + direccion +
                QString(10, QLatin1Char(' ')) + metodo;
    const QString unaLinea = limpiarComentario(comentario);
    if (!unaLinea.isEmpty()) {
        l += QString(5, QLatin1Char(' ')) + QLatin1Char('#') + unaLinea;
    }
    return l;
}

} // namespace

// ---------------------------------------------------------------- reading and writing the text

bool reglaDeLinea(const QString& linea, ReglaIp* regla) {
    static const QRegularExpression blancos(QStringLiteral("[ \\t\\f\\v]+"));
    const qsizetype gato = linea.indexOf(QLatin1Char('#'));
    const QString cuerpo = gato < 0 ? linea : linea.left(gato);
    const QStringList t = cuerpo.split(blancos, Qt::SkipEmptyParts);
    if (t.size() < 5 || t[0] != QLatin1String("host") || t[1] != QLatin1String("all") || t[2] != QLatin1String("all")) {
        return false;
    }
    ReglaIp r;
    qsizetype metodo = 0;
    const qsizetype barra = t[3].indexOf(QLatin1Char('/'));
    if (barra >= 0) {
        r.direccion = t[3].left(barra);
        r.mascara = t[3].mid(barra + 1);
        if (!esDireccionIPv4(r.direccion) || !mascaraBits(r.mascara)) {
            return false;
        }
        metodo = 4;
    } else {
        r.direccion = t[3];
        r.mascara = t[4];
        if (!esDireccionIPv4(r.direccion) || !mascaraPunteada(r.mascara)) {
            return false;
        }
        metodo = 5;
    }
    // Exactly one method and no options: a rule with options is not the list's to rewrite.
    if (t.size() != metodo + 1 || !kMetodos.contains(t[metodo])) {
        return false;
    }
    r.metodo = t[metodo];
    r.acceso = r.metodo == QLatin1String("reject") ? kAccesoNo : kAccesoSi;
    r.comentario = gato < 0 ? QString() : linea.mid(gato + 1).trimmed();
    if (regla != nullptr) {
        *regla = r;
    }
    return true;
}

ArchivoReglas leerReglas(const QByteArray& contenido) {
    ArchivoReglas a;
    QList<QByteArray> lineas = contenido.split('\n');
    if (!lineas.isEmpty() && lineas.last().isEmpty()) {
        lineas.removeLast(); // the end of the last line, not a line
    }
    for (const QByteArray& bruta : lineas) {
        ArchivoReglas::Linea l;
        l.texto = sinRetorno(bruta);
        ReglaIp r;
        if (reglaDeLinea(QString::fromUtf8(l.texto), &r)) {
            l.tipo = ArchivoReglas::Tipo::Regla;
            a.reglas << r;
        }
        a.lineas << l;
    }
    // The copy written before a 127.0.0.1 row is that row's, not the administrator's: it is written
    // anew with the row (or dropped with it), never doubled.
    int fila = 0;
    for (int i = 0; i < a.lineas.size(); ++i) {
        if (a.lineas[i].tipo != ArchivoReglas::Tipo::Regla) {
            continue;
        }
        const ReglaIp& r = a.reglas[fila++];
        if (i > 0 && a.lineas[i - 1].tipo == ArchivoReglas::Tipo::Fija && r.direccion == kLoopback &&
            QString::fromUtf8(a.lineas[i - 1].texto) == lineaCopiaLoopback(r)) {
            a.lineas[i - 1].tipo = ArchivoReglas::Tipo::Copia;
        }
    }
    return a;
}

QString metodoEscrito(const ReglaIp& regla) {
    if (regla.acceso != kAccesoSi) {
        return QStringLiteral("reject");
    }
    return regla.metodo.isEmpty() || regla.metodo == QLatin1String("reject") ? kMetodoNuevo : regla.metodo;
}

QString lineaRegla(const ReglaIp& regla) {
    const QString direccion = regla.mascara.size() < 3
                                  ? regla.direccion + QLatin1Char('/') + regla.mascara
                                  : regla.direccion + QString(10, QLatin1Char(' ')) + regla.mascara;
    return lineaConDireccion(direccion, metodoEscrito(regla), regla.comentario);
}

QString lineaCopiaLoopback(const ReglaIp& regla) {
    QString comentario = regla.comentario;
    comentario.replace(kLoopback, QStringLiteral("::1"));
    return lineaConDireccion(QStringLiteral("::1/128"), metodoEscrito(regla), comentario);
}

QByteArray escribirReglas(const ArchivoReglas& archivo, const QVector<ReglaIp>& filas, bool copiaLoopback) {
    QByteArray salida;
    qsizetype siguiente = 0;
    auto escribir = [&](const ReglaIp& r) {
        if (copiaLoopback && r.direccion == kLoopback) {
            salida += lineaCopiaLoopback(r).toUtf8() + '\n';
        }
        salida += lineaRegla(r).toUtf8() + '\n';
    };
    int ultimoLugar = -1;
    for (int i = 0; i < archivo.lineas.size(); ++i) {
        if (archivo.lineas[i].tipo == ArchivoReglas::Tipo::Regla) {
            ultimoLugar = i;
        }
    }
    for (int i = 0; i < archivo.lineas.size(); ++i) {
        const ArchivoReglas::Linea& l = archivo.lineas[i];
        switch (l.tipo) {
        case ArchivoReglas::Tipo::Fija:
            salida += l.texto + '\n';
            break;
        case ArchivoReglas::Tipo::Copia:
            break;
        case ArchivoReglas::Tipo::Regla:
            if (siguiente < filas.size()) {
                escribir(filas[siguiente++]);
            }
            if (i == ultimoLugar) {
                while (siguiente < filas.size()) {
                    escribir(filas[siguiente++]);
                }
            }
            break;
        }
    }
    while (siguiente < filas.size()) {
        escribir(filas[siguiente++]);
    }
    return salida;
}

// ---------------------------------------------------------------- input

bool esDireccionIPv4(const QString& texto) {
    return cuarteto(texto, nullptr);
}

bool esMascara(const QString& texto) {
    return texto.contains(QLatin1Char('.')) ? mascaraPunteada(texto) : mascaraBits(texto);
}

QString limpiarComentario(const QString& comentario) {
    QString c = comentario;
    for (QChar& ch : c) {
        if (ch.category() == QChar::Other_Control || ch == QChar::LineSeparator || ch == QChar::ParagraphSeparator) {
            ch = QLatin1Char(' ');
        }
    }
    return c.trimmed();
}

ErrorEntrada validarEntrada(const QString& direccion, const QString& mascara) {
    if (direccion.isEmpty()) {
        return ErrorEntrada::DireccionVacia;
    }
    if (mascara.isEmpty()) {
        return ErrorEntrada::MascaraVacia;
    }
    if (!esDireccionIPv4(direccion)) {
        return ErrorEntrada::DireccionNoValida;
    }
    if (!esMascara(mascara)) {
        return ErrorEntrada::MascaraNoValida;
    }
    return ErrorEntrada::Ninguno;
}

QString textoErrorEntrada(ErrorEntrada error) {
    switch (error) {
    case ErrorEntrada::Ninguno:
        return QString();
    case ErrorEntrada::DireccionVacia:
        return QStringLiteral("Introduzca una dirección IP");
    case ErrorEntrada::MascaraVacia:
        return QStringLiteral("Introduzca la máscara de subred");
    case ErrorEntrada::DireccionNoValida:
        return QStringLiteral("La dirección IP no es válida.") + kCrLf +
               QStringLiteral("Escriba cuatro números del 0 al 255 separados por puntos, por ejemplo 192.168.1.0");
    case ErrorEntrada::MascaraNoValida:
        return QStringLiteral("La máscara de subred no es válida.") + kCrLf +
               QStringLiteral("Escriba un número de bits del 0 al 32, o una máscara como 255.255.255.0");
    }
    return QString();
}

// ---------------------------------------------------------------- the file on disk

QString rutaArchivoReglas() {
    // Only superusers (and readers of all settings) are told; the others get the installation's file.
    const QString servidor = ajusteServidor(QStringLiteral("hba_file"));
    return servidor.isEmpty() ? paths::withSlash(sesion().RutaPostgres) + QStringLiteral("data/pg_hba.conf") : servidor;
}

LecturaReglas leerArchivoReglas(const QString& ruta) {
    LecturaReglas r;
    if (!QFileInfo(QFileInfo(ruta).absolutePath()).isDir()) {
        r.numero = 76;
        r.descripcion = QStringLiteral("No se ha encontrado la ruta de acceso");
        return r;
    }
    QByteArray contenido;
    const ErrorSistema e = leerTodo(ruta, &contenido);
    if (e.hayError()) {
        r.numero = e.numero;
        r.descripcion = e.descripcion;
        return r;
    }
    r.archivo = leerReglas(contenido);
    return r;
}

bool verificarArchivoReglas(QVector<RechazoRegla>* rechazos, QString* errorTexto) {
    int total = 0;
    QString error;
    RecordsetPtr rs = ExecuteSQLrs(QStringLiteral("SELECT line_number, type, error FROM pg_hba_file_rules WHERE "
                                                  "error IS NOT NULL ORDER BY line_number"),
                                   total, error);
    if (!rs) {
        if (errorTexto != nullptr) {
            *errorTexto = error;
        }
        return false;
    }
    // A line the server cannot use at all has no type; the server then refuses the whole file. A
    // line with a type and an error is loaded with a warning.
    for (; !rs->eof(); rs->moveNext()) {
        if (rs->isNull(QStringLiteral("type")) && rechazos != nullptr) {
            rechazos->append(RechazoRegla{rs->text(QStringLiteral("line_number")).toInt(), QString(),
                                          rs->text(QStringLiteral("error"))});
        }
    }
    rs->close();
    return true;
}

GuardadoReglas guardarArchivoReglas(const QString& ruta, const QByteArray& contenido) {
    GuardadoReglas g;
    // A link is followed: the file it names is the one the server reads.
    const QString real = QFileInfo(ruta).canonicalFilePath().isEmpty() ? ruta : QFileInfo(ruta).canonicalFilePath();
    g.respaldo = real + QStringLiteral(".bak");
    auto noEscrito = [&g](const ErrorSistema& e) {
        g.resultado = GuardadoReglas::Resultado::NoEscrito;
        g.detalle = textoError(e);
        return g;
    };
    struct stat modelo {};
    if (::stat(QFile::encodeName(real).constData(), &modelo) != 0) {
        return noEscrito(errorSistema(errno));
    }
    QByteArray anterior;
    if (const ErrorSistema e = leerTodo(real, &anterior); e.hayError()) {
        return noEscrito(e);
    }
    if (const ErrorSistema e = escribirAtomico(g.respaldo, anterior, modelo); e.hayError()) {
        return noEscrito(e);
    }
    if (const ErrorSistema e = escribirAtomico(real, contenido, modelo); e.hayError()) {
        return noEscrito(e);
    }
    QString error;
    if (!verificarArchivoReglas(&g.rechazos, &error)) {
        g.resultado = GuardadoReglas::Resultado::NoVerificado;
        g.detalle = error;
    } else if (!g.rechazos.isEmpty()) {
        g.resultado = GuardadoReglas::Resultado::Rechazado;
        const QList<QByteArray> lineas = contenido.split('\n');
        for (RechazoRegla& r : g.rechazos) {
            if (r.linea >= 1 && r.linea <= lineas.size()) {
                r.texto = QString::fromUtf8(sinRetorno(lineas[r.linea - 1]));
            }
        }
    } else {
        return g;
    }
    if (const ErrorSistema e = escribirAtomico(real, anterior, modelo); e.hayError()) {
        g.errorRestauracion = textoError(e);
    }
    return g;
}

QString textoGuardado(const GuardadoReglas& g, const QString& ruta) {
    QString t;
    switch (g.resultado) {
    case GuardadoReglas::Resultado::Guardado:
        return QString();
    case GuardadoReglas::Resultado::NoEscrito:
        return QStringLiteral("No se guardaron los cambios: no se pudo escribir el archivo de configuración ") + ruta +
               kCrLf + g.detalle + kCrLf + QStringLiteral("El archivo de configuración no se modificó.");
    case GuardadoReglas::Resultado::Rechazado:
        t = QStringLiteral("El servidor no acepta el archivo de configuración; los cambios no se aplicaron.");
        for (const RechazoRegla& r : g.rechazos) {
            t += kCrLf + QStringLiteral("Línea ") + QString::number(r.linea) + QStringLiteral(": ") + r.texto + kCrLf +
                 QStringLiteral("Error: ") + r.error;
        }
        break;
    case GuardadoReglas::Resultado::NoVerificado:
        t = QStringLiteral("No se pudo verificar el archivo de configuración con el servidor; los cambios no se "
                           "aplicaron.") +
            kCrLf + g.detalle;
        break;
    }
    if (g.errorRestauracion.isEmpty()) {
        t += kCrLf + QStringLiteral("Se restauró el archivo anterior.");
    } else {
        t += kCrLf + QStringLiteral("No se pudo restaurar el archivo anterior; su copia está en ") + g.respaldo +
             kCrLf + g.errorRestauracion;
    }
    return t;
}

} // namespace v7
