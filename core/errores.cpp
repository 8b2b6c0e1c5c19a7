#include "core/errores.h"

namespace v7::err {

QString descripcion(int numero) {
    switch (numero) {
    case kLlamadaNoValida:
        return QStringLiteral("Llamada a procedimiento o argumento no válido");
    case kDesbordamiento:
        return QStringLiteral("Desbordamiento");
    case kSubindice:
        return QStringLiteral("Subíndice fuera del intervalo");
    case kTiposNoCoinciden:
        return QStringLiteral("No coinciden los tipos");
    case kArchivoNoEncontrado:
        return QStringLiteral("No se ha encontrado el archivo");
    case kArchivoYaAbierto:
        return QStringLiteral("El archivo ya está abierto");
    case kDiscoLleno:
        return QStringLiteral("Disco lleno");
    case kPermisoDenegado:
        return QStringLiteral("Permiso denegado");
    case kErrorAccesoRuta:
        return QStringLiteral("Error de acceso a la ruta o el archivo");
    case kRutaNoEncontrada:
        return QStringLiteral("No se ha encontrado la ruta de acceso");
    case kLeerFinArchivo:
        return QStringLiteral("La entrada pasa del final del archivo");
    case kArchivoYaExiste:
        return QStringLiteral("El archivo ya existe");
    case kErrorEsperaConexion:
        return QStringLiteral("Se agotó el tiempo de espera para establecer la conexión con el servidor");
    case kUsoNoValidoNull:
        return QStringLiteral("Uso no válido de Null");
    case kObjetoCerrado:
        return QStringLiteral("La operación no está permitida si el objeto está cerrado.");
    case kClaveDuplicada:
        return QStringLiteral("No se realizaron los cambios porque se crearían valores duplicados en el índice.");
    case kCampoRequerido:
        return QStringLiteral("El campo no puede contener un valor Nulo porque su propiedad Requerido está "
                              "establecida como Verdadero.");
    default:
        return QString();
    }
}

} // namespace v7::err

#include <QRegularExpression>
#include <QStringList>

namespace v7::err {

QString fraseDeSqlState(const QString& s) {
    if (s.startsWith(QLatin1String("08")) || s == QLatin1String("57P01") || s == QLatin1String("57P02") ||
        s == QLatin1String("57P03")) {
        return QStringLiteral("Se perdió la conexión con el servidor de base de datos.");
    }
    struct Par {
        const char* estado;
        const char* frase;
    };
    static const Par pares[] = {
        {"55P03", "Otra sesión está usando estos datos y no los liberó a tiempo; inténtelo de nuevo en unos momentos."},
        {"57014", "El servidor tardó demasiado en responder y la operación se canceló."},
        {"40P01", "Otra sesión usaba los mismos datos al mismo tiempo y la operación se canceló; inténtela de nuevo."},
        {"40001", "Otra sesión cambió los mismos datos al mismo tiempo; inténtelo de nuevo."},
        {"42501", "El usuario de la sesión no tiene permiso para esta operación."},
        {"23505", "Ya existe un registro con esa clave."},
        {"23503", "El registro está relacionado con otros datos y no se puede cambiar o borrar."},
        {"23502", "Falta un dato obligatorio."},
        {"23514", "Un valor no cumple las reglas de la tabla."},
        {"22001", "Un valor es más largo de lo que admite su campo."},
        {"22003", "Un número está fuera del intervalo que admite su campo."},
        {"22007", "Una fecha u hora no es válida."},
        {"22008", "Una fecha u hora está fuera del intervalo válido."},
        {"22P02", "Un valor no tiene el formato que espera su campo."},
        {"22021", "El texto contiene caracteres que la base de datos no admite."},
        {"22P05", "El texto contiene caracteres que la base de datos no admite."},
        {"28P01", "El usuario o la contraseña no son válidos."},
        {"28000", "El servidor no admite la conexión de este usuario desde esta dirección."},
        {"3D000", "No existe la base de datos."},
        {"42P01", "Falta una tabla que la operación necesita."},
        {"3F000", "Falta un esquema que la operación necesita."},
        {"42703", "Falta una columna que la operación necesita."},
        {"42883", "Falta una función que la operación necesita."},
        {"42704", "No existe el objeto indicado."},
        {"42710", "Ya existe un objeto con ese nombre."},
        {"42P07", "Ya existe una tabla con ese nombre."},
        {"2BP01", "Otros objetos de la base de datos dependen de este."},
        {"55006", "Otra sesión está usando el objeto."},
        {"53100", "El servidor no tiene espacio en disco."},
        {"53200", "El servidor no tiene memoria suficiente."},
        {"53300", "El servidor no admite más conexiones."},
        {"54000", "Un valor excede los límites del servidor."},
        {"25P02", "La transacción se había interrumpido por un error anterior."},
        {"42601", "La instrucción enviada al servidor no es válida."},
    };
    for (const Par& p : pares) {
        if (s == QLatin1String(p.estado)) {
            return QString::fromUtf8(p.frase);
        }
    }
    return QString();
}

QString fraseDeErrorSql(const QString& errorText) {
    // The server's words in both languages the system has always looked for.
    struct Par {
        const char* fragmento;
        const char* estado;
    };
    static const Par pares[] = {
        {"lock timeout", "55P03"},
        {"could not obtain lock", "55P03"},
        {"candado", "55P03"},
        {"bloqueo", "55P03"},
        {"statement timeout", "57014"},
        {"canceling statement due to user request", "57014"},
        {"cancelando la sentencia", "57014"},
        {"deadlock", "40P01"},
        {"permission denied", "42501"},
        {"permiso denegado", "42501"},
        {"must be owner", "42501"},
        {"debe ser dueño", "42501"},
        {"duplicate key", "23505"},
        {"llave duplicada", "23505"},
        {"foreign key", "23503"},
        {"llave foránea", "23503"},
        {"value too long", "22001"},
        {"demasiado largo", "22001"},
        {"invalid byte sequence", "22021"},
        {"secuencia de bytes no válida", "22021"},
        {"password authentication failed", "28P01"},
        {"autentificación password falló", "28P01"},
        {"no pg_hba.conf entry", "28000"},
        {"no hay una línea en pg_hba.conf", "28000"},
        {"connection has been lost", "08S01"},
        {"could not connect", "08001"},
        {"Connection refused", "08001"},
        {"Conexión rehusada", "08001"},
        {"no se pudo conectar", "08001"},
        {"the database system is shutting down", "57P03"},
        {"terminating connection", "57P01"},
        {"No space left on device", "53100"},
        {"unterminated quoted string", "42601"},
        {"syntax error", "42601"},
        {"error de sintaxis", "42601"},
        {"depend on it", "2BP01"},
        {"dependen de", "2BP01"},
        {"is being accessed by other users", "55006"},
        {"está siendo utilizada por otros usuarios", "55006"},
        {"current user cannot be dropped", "55006"},
        {"el usuario actual no puede ser eliminado", "55006"},
    };
    const QString detalle = detalleDelServidor(errorText);
    for (const Par& p : pares) {
        if (detalle.contains(QString::fromUtf8(p.fragmento), Qt::CaseInsensitive)) {
            if (QLatin1String(p.fragmento) == QLatin1String("current user cannot be dropped") ||
                QLatin1String(p.fragmento) == QLatin1String("el usuario actual no puede ser eliminado")) {
                return QStringLiteral("No se puede borrar la cuenta con la que se inició la sesión.");
            }
            return fraseDeSqlState(QString::fromLatin1(p.estado));
        }
    }
    if (detalle.contains(QLatin1String("does not exist")) || detalle.contains(QLatin1String("no existe"))) {
        return QStringLiteral("Falta un objeto de la base de datos que la operación necesita.");
    }
    return QString();
}

QString detalleDelServidor(const QString& errorText) {
    QString t = errorText;
    // The routine's and the statement's lines go, and the connection string a failed reopening names.
    for (const char* marca :
         {"\r\n[Source]:", "\n[Source]:", "\r\n[cadSQL]:", "\n[cadSQL]:", "\r\nDRIVER=", "\nDRIVER="}) {
        const int i = t.indexOf(QLatin1String(marca));
        if (i >= 0) {
            t.truncate(i);
        }
    }
    static const QRegularExpression inicio(QStringLiteral("^(Error|Ocurrió el error):\\s*-?\\d+\\s*"));
    static const QRegularExpression corchetes(QStringLiteral("^(\\[[^\\]]*\\])+\\s*"));
    static const QRegularExpression nivel(QStringLiteral("^(ERROR|FATAL|PANIC):\\s*"));
    t.remove(inicio);
    t.remove(corchetes);
    t.remove(nivel);
    t.remove(QStringLiteral(";\nError while executing the query"));
    t.remove(QStringLiteral("\nError while executing the query"));
    t.remove(QStringLiteral("Error while executing the query"));
    // A server error may quote the statement it met ("LINE 1: INSERT …" / "LÍNEA 1: …"): not for the screen.
    static const QRegularExpression linea(QStringLiteral("\\n?(LINE|L[IÍ]NEA) \\d+:.*$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    t.remove(linea);
    t = t.trimmed();
    if (t.endsWith(QLatin1Char(';'))) {
        t.chop(1);
    }
    if (t.size() > 300) {
        t = t.left(300) + QStringLiteral("…");
    }
    return t;
}

QString textoParaUsuario(const QString& queNoSeHizo, const QString& errorText) {
    QStringList partes{queNoSeHizo};
    const QString frase = fraseDeErrorSql(errorText);
    if (!frase.isEmpty()) {
        partes << frase;
    }
    const QString detalle = detalleDelServidor(errorText);
    if (!detalle.isEmpty()) {
        partes << QStringLiteral("Detalle del servidor: ") + detalle;
    }
    return partes.join(kCrLf);
}

} // namespace v7::err

namespace v7::err {

QString ocurrio(const QString& encabezado, qint64 numero, const QStringList& lineas) {
    QString t = encabezado + QString::number(numero);
    for (const QString& l : lineas) {
        t += kCrLf + l;
    }
    return t;
}

} // namespace v7::err
