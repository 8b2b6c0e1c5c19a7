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
