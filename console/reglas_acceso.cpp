#include "console/reglas_acceso.h"

#include "console/monitoreo.h"
#include "core/cifrado.h"
#include "core/errores.h"
#include "core/scripts.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/archivo_seguro.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>

namespace v7 {

namespace {

using err::kCrLf;
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

// One token of a rule line, as the server reads it: quotes group blanks and commas, and a quoted
// keyword is a plain name.
struct Ficha {
    QString texto;
    bool comillas = false;
};

// The line's fields (type, database, user, address…), each a comma-separated list of tokens; a "#"
// outside quotes ends the line.
QVector<QVector<Ficha>> camposDeLinea(const QString& linea) {
    QVector<QVector<Ficha>> campos;
    QVector<Ficha> campo;
    Ficha ficha;
    bool hay = false;      // a token is being read
    bool finCampo = false; // the last token ended with a blank, not a comma
    bool comillas = false;
    auto cerrarFicha = [&] {
        if (hay) {
            campo << ficha;
        }
        ficha = Ficha{};
        hay = false;
    };
    auto cerrarCampo = [&] {
        if (!campo.isEmpty()) {
            campos << campo;
        }
        campo.clear();
        finCampo = false;
    };
    for (const QChar c : linea) {
        if (!comillas && c == QLatin1Char('#')) {
            break;
        }
        if (!comillas && (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
                          c == QLatin1Char('\f') || c == QLatin1Char('\v'))) {
            if (hay) {
                cerrarFicha();
                finCampo = true;
            }
            continue;
        }
        if (!comillas && c == QLatin1Char(',')) {
            cerrarFicha();
            finCampo = false;
            continue;
        }
        if (!hay && finCampo) {
            cerrarCampo();
        }
        hay = true;
        if (c == QLatin1Char('"')) {
            comillas = !comillas;
            ficha.comillas = true;
        } else {
            ficha.texto += c;
        }
    }
    cerrarFicha();
    cerrarCampo();
    return campos;
}

// A line's text for the window: UTF-8 when it is, else Windows-1252 (a file edited on Windows).
QString decodificar(const QByteArray& bytes) {
    return textoUtf8OWindows1252(bytes);
}

// A line written anew, in the file's own encoding: Windows-1252 in a file that is not UTF-8 (when the
// text fits), else UTF-8.
QByteArray codificar(const QString& texto, bool utf8) {
    if (utf8 || !cabeEnWindows1252(texto)) {
        return texto.toUtf8();
    }
    QByteArray b;
    b.reserve(texto.size());
    for (const QChar c : texto) {
        b.append(char(codigoWindows1252(c)));
    }
    return b;
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
    static const QRegularExpression blancos(QStringLiteral("[ \\t\\f\\v\\r]+"));
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

bool cubreLoopbackIPv6(const QString& linea) {
    static const QStringList tiposTcp = {QStringLiteral("host"), QStringLiteral("hostssl"), QStringLiteral("hostnossl"),
                                         QStringLiteral("hostgssenc"), QStringLiteral("hostnogssenc")};
    const QVector<QVector<Ficha>> campos = camposDeLinea(linea);
    if (campos.size() < 5 || campos[0].size() != 1 || campos[0][0].comillas || !tiposTcp.contains(campos[0][0].texto)) {
        return false;
    }
    // "all" takes in every database but replication: a line for replication alone is another matter.
    bool otraBase = false;
    for (const Ficha& f : campos[1]) {
        otraBase = otraBase || f.comillas || f.texto != QLatin1String("replication");
    }
    if (!otraBase) {
        return false;
    }
    const Ficha& direccion = campos[3][0];
    if (!direccion.comillas &&
        (direccion.texto == QLatin1String("all") || direccion.texto == QLatin1String("samehost") ||
         direccion.texto == QLatin1String("samenet"))) {
        return true;
    }
    QString red = direccion.texto;
    QString mascara;
    if (const qsizetype barra = red.indexOf(QLatin1Char('/')); barra >= 0) {
        mascara = red.mid(barra + 1);
        red = red.left(barra);
    } else {
        mascara = campos[4][0].texto;
    }
    const std::optional<bool> dentro = direccionEnRed(QStringLiteral("::1"), red, mascara);
    // Not an address: a host name, which may well be this machine's own.
    return dentro.value_or(true);
}

ArchivoReglas leerReglas(const QByteArray& contenido) {
    ArchivoReglas a;
    a.utf8 = QString::fromUtf8(contenido).toUtf8() == contenido;
    a.saltoFinal = contenido.isEmpty() || contenido.endsWith('\n');
    int crlf = 0;
    int lf = 0;
    for (qsizetype inicio = 0; inicio < contenido.size();) {
        qsizetype fin = contenido.indexOf('\n', inicio);
        ArchivoReglas::Linea l;
        if (fin < 0) {
            l.texto = contenido.mid(inicio);
            fin = contenido.size();
        } else if (fin > inicio && contenido.at(fin - 1) == '\r') {
            l.texto = contenido.mid(inicio, fin - 1 - inicio);
            l.fin = "\r\n";
            ++crlf;
        } else {
            l.texto = contenido.mid(inicio, fin - inicio);
            l.fin = "\n";
            ++lf;
        }
        inicio = fin + 1;
        const QString texto = decodificar(l.texto);
        ReglaIp r;
        if (reglaDeLinea(texto, &r)) {
            l.tipo = ArchivoReglas::Tipo::Regla;
            l.fila = int(a.reglas.size());
            a.reglas << r;
            a.lineaDeRegla << int(a.lineas.size());
        }
        a.lineas << l;
    }
    a.finDeLinea = crlf > lf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    // The copy written before a 127.0.0.1 row is that row's, not the administrator's: it is written
    // again with the row (or dropped with it), never doubled.
    for (int i = 1; i < a.lineas.size(); ++i) {
        ArchivoReglas::Linea& l = a.lineas[i];
        ArchivoReglas::Linea& antes = a.lineas[i - 1];
        if (l.tipo == ArchivoReglas::Tipo::Regla && antes.tipo == ArchivoReglas::Tipo::Fija &&
            a.reglas[l.fila].direccion == kLoopback &&
            decodificar(antes.texto) == lineaCopiaLoopback(a.reglas[l.fila])) {
            antes.tipo = ArchivoReglas::Tipo::Copia;
            l.copia = i - 1;
        }
    }
    for (const ArchivoReglas::Linea& l : a.lineas) {
        if (l.tipo == ArchivoReglas::Tipo::Fija && cubreLoopbackIPv6(decodificar(l.texto))) {
            a.loopbackIPv6Cubierto = true;
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

QByteArray escribirReglas(const ArchivoReglas& archivo, const QVector<ReglaIp>& filas, bool copiaLoopback,
                          QVector<int>* lineasNuevas) {
    using Linea = ArchivoReglas::Linea;
    QVector<Linea> salida;
    QVector<bool> usada(archivo.reglas.size(), false);
    auto nueva = [&](const QString& texto) {
        Linea l;
        l.texto = codificar(texto, archivo.utf8);
        l.fin = archivo.finDeLinea;
        return l;
    };
    auto escribir = [&](const ReglaIp& r) {
        // A row equal to one read is that row, untouched: its own bytes.
        int leida = -1;
        for (int i = 0; i < archivo.reglas.size() && leida < 0; ++i) {
            if (!usada[i] && archivo.reglas[i] == r) {
                leida = i;
            }
        }
        const Linea* original = nullptr;
        if (leida >= 0) {
            usada[leida] = true;
            original = &archivo.lineas[archivo.lineaDeRegla[leida]];
        }
        // The loopback copy goes with a 127.0.0.1 row written anew (unless a kept rule decides ::1); an
        // untouched row keeps the copy it had, or none.
        if (copiaLoopback && r.direccion == kLoopback) {
            if (original != nullptr && original->copia >= 0) {
                salida << archivo.lineas[original->copia];
            } else if (original == nullptr && !archivo.loopbackIPv6Cubierto) {
                salida << nueva(lineaCopiaLoopback(r));
            }
        }
        salida << (original != nullptr ? *original : nueva(lineaRegla(r)));
        if (original == nullptr && lineasNuevas != nullptr) {
            *lineasNuevas << int(salida.size());
        }
    };
    qsizetype siguiente = 0;
    int ultimoLugar = -1;
    for (int i = 0; i < archivo.lineas.size(); ++i) {
        if (archivo.lineas[i].tipo == ArchivoReglas::Tipo::Regla) {
            ultimoLugar = i;
        }
    }
    for (int i = 0; i < archivo.lineas.size(); ++i) {
        const Linea& l = archivo.lineas[i];
        switch (l.tipo) {
        case ArchivoReglas::Tipo::Fija:
            salida << l;
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
    // Every line but the last ends; the last ends as the file's last line did.
    QByteArray bytes;
    for (int i = 0; i < salida.size(); ++i) {
        QByteArray fin = salida[i].fin.isEmpty() ? archivo.finDeLinea : salida[i].fin;
        if (i == salida.size() - 1 && !archivo.saltoFinal) {
            fin.clear();
        }
        bytes += salida[i].texto + fin;
    }
    return bytes;
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
    const QString instalacion = paths::withSlash(sesion().RutaPostgres) + QStringLiteral("data/pg_hba.conf");
    const auto& con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        return instalacion;
    }
    int total = 0;
    QString error;
    RecordsetPtr rs =
        ExecuteSQLrs(QStringLiteral("SELECT setting FROM pg_settings WHERE name = 'hba_file'"), total, error);
    const QString servidor = rs && !rs->eof() ? rs->text(0).trimmed() : QString();
    return servidor.isEmpty() ? instalacion : servidor;
}

namespace {

// The folder of the rules file, reached without following a link that the server's owner (or anyone
// else) could have planted, and the owner the file must have: the server's. motivo says why not.
struct CarpetaReglas {
    archivo::Carpeta carpeta;
    uid_t dueno = uid_t(-1);
    QString motivo;
};

CarpetaReglas abrirCarpetaReglas(const QString& ruta) {
    CarpetaReglas c;
    c.carpeta = archivo::Carpeta::abrir(QFileInfo(ruta).absolutePath());
    if (!c.carpeta.ok()) {
        c.motivo = c.carpeta.motivo();
        return c;
    }
    const std::optional<uid_t> dueno = duenoDelServidor(&c.motivo);
    if (dueno) {
        c.dueno = *dueno;
        c.motivo = c.carpeta.rechazoPorDueno(c.dueno);
    }
    return c;
}

} // namespace

LecturaReglas leerArchivoReglas(const QString& ruta) {
    LecturaReglas r;
    const CarpetaReglas c = abrirCarpetaReglas(ruta);
    const int e = c.carpeta.numeroError();
    if (e == ENOENT || e == ENOTDIR) {
        r.numero = err::kRutaNoEncontrada;
        r.descripcion = err::descripcion(err::kRutaNoEncontrada);
        return r;
    }
    if (!c.motivo.isEmpty()) {
        r.numero = err::kErrorAccesoRuta;
        r.descripcion = c.motivo;
        return r;
    }
    const archivo::Lectura l =
        c.carpeta.leerRegular(QFileInfo(ruta).fileName(), kLimiteArchivoReglas, archivo::SiExcede::Rechazar, c.dueno);
    if (!l.ok()) {
        // A missing file or a refused permission by their numbers; a link, a folder, a pipe, a device or
        // another user's file is a path/file access error.
        const int n = l.numeroError;
        r.numero = n == ENOENT || n == EACCES ? errorSistema(n).numero : err::kErrorAccesoRuta;
        r.descripcion = l.motivo;
        return r;
    }
    r.archivo = leerReglas(l.datos);
    return r;
}

GuardadoReglas guardarArchivoReglas(const QString& ruta, const QByteArray& contenido,
                                    const QVector<int>& lineasNuevas) {
    GuardadoReglas g;
    g.respaldo = ruta + QStringLiteral(".bak");
    auto noEscrito = [&g](const QString& motivo) {
        g.resultado = GuardadoReglas::Resultado::NoEscrito;
        g.detalle = motivo;
        return g;
    };
    // The file the server reads, in a folder reached once and never through a link: its bytes and who owns
    // it; the copy and the new file are written relative to that folder.
    const CarpetaReglas carpeta = abrirCarpetaReglas(ruta);
    if (!carpeta.motivo.isEmpty()) {
        return noEscrito(carpeta.motivo);
    }
    const QString nombre = QFileInfo(ruta).fileName();
    const archivo::Lectura anterior =
        carpeta.carpeta.leerRegular(nombre, kLimiteArchivoReglas, archivo::SiExcede::Rechazar, carpeta.dueno);
    if (!anterior.ok()) {
        return noEscrito(anterior.motivo);
    }
    // The copy gets the rules file's owner, group and mode, whatever stood at its name before.
    archivo::OpcionesEscritura comoElArchivo;
    comoElArchivo.conservarDuenoYModo = false;
    comoElArchivo.dueno = anterior.dueno;
    comoElArchivo.grupo = anterior.grupo;
    comoElArchivo.modo = anterior.modo;
    if (const QString e =
            carpeta.carpeta.escribirAtomico(nombre + QStringLiteral(".bak"), anterior.datos, comoElArchivo);
        !e.isEmpty()) {
        return noEscrito(e);
    }
    archivo::OpcionesEscritura enSuLugar = comoElArchivo;
    enSuLugar.exigirExistente = true;
    if (const QString e = carpeta.carpeta.escribirAtomico(nombre, contenido, enSuLugar); !e.isEmpty()) {
        return noEscrito(e);
    }
    const ComprobacionSesion c = comprobarSesion(contenido, lineasNuevas);
    if (!c.consultada) {
        g.resultado = GuardadoReglas::Resultado::NoVerificado;
        g.detalle = c.errorConsulta;
    } else if (!c.rechazos.isEmpty()) {
        g.resultado = GuardadoReglas::Resultado::Rechazado;
        const QList<QByteArray> lineas = contenido.split('\n');
        for (const ReglaServidor& r : c.rechazos) {
            QByteArray texto = r.linea >= 1 && r.linea <= lineas.size() ? lineas[r.linea - 1] : QByteArray();
            if (texto.endsWith('\r')) {
                texto.chop(1);
            }
            g.rechazos << RechazoRegla{r.linea, decodificar(texto), r.error};
        }
    } else if (!c.admitida()) {
        g.resultado = GuardadoReglas::Resultado::SesionBloqueada;
        g.detalle = textoSesionRechazada(c);
    } else if (!c.sinEfecto.isEmpty()) {
        g.resultado = GuardadoReglas::Resultado::SinEfecto;
        g.detalle = textoReglasSinEfecto(c);
    } else {
        return g;
    }
    // Back before anything reloads it, with the same bytes.
    if (const QString e = carpeta.carpeta.escribirAtomico(nombre, anterior.datos, enSuLugar); !e.isEmpty()) {
        g.errorRestauracion = e;
    }
    return g;
}

QString textoSinArchivoReglas(const QString& ruta) {
    return QStringLiteral("No se encontró el archivo de configuración \"pg_hba.conf\"") + kCrLf +
           QStringLiteral("Por favor, verifique que el archivo exista.") + kCrLf + ruta;
}

QString textoLecturaFallida(const LecturaReglas& lectura) {
    return err::ocurrio(
        err::kOcurrioErrorNo, lectura.numero,
        {QStringLiteral("Causa: ") + lectura.descripcion, QStringLiteral("[Rutina] LeerArchivoConfiguracion")});
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
        t = err::textoParaUsuario(QStringLiteral("No se pudo verificar el archivo de configuración con el servidor; "
                                                 "los cambios no se aplicaron."),
                                  g.detalle);
        break;
    case GuardadoReglas::Resultado::SesionBloqueada:
    case GuardadoReglas::Resultado::SinEfecto:
        t = g.detalle;
        if (g.errorRestauracion.isEmpty()) {
            return t;
        }
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

QString textoReglasAplicadas(bool porPgCtl) {
    return QStringLiteral("Los cambios se han hecho correctamente") + kCrLf +
           (porPgCtl ? QStringLiteral("El servidor recargó su configuración con pg_ctl reload.")
                     : QStringLiteral("Esta instalación no tiene un pg_ctl que el programa pueda ejecutar: el servidor "
                                      "recargó su configuración con SELECT pg_reload_conf() por la conexión de esta "
                                      "sesión."));
}

QString textoReglasNoAplicadas(const QString& motivo) {
    return QStringLiteral("Los cambios se guardaron en el archivo de configuración, pero el servidor no los aplicó.") +
           kCrLf + motivo;
}

} // namespace v7
