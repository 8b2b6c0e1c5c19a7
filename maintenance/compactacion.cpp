#include "maintenance/compactacion.h"

#include "core/archivos.h"
#include "core/errores.h"
#include "core/scripts.h"
#include "core/servidor.h"
#include "core/session.h"
#include "maintenance/mantenimiento.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QFileInfo>

namespace v7 {

namespace {

using err::kCrLf;

} // namespace

QString comandoCompactar(const QString& carpetaBin, const QString& servidor, int puerto, const QString& usuario,
                         const QString& salida, const QString& errores) {
    const QString vacuumdb = carpetaBin.isEmpty() ? QStringLiteral("vacuumdb")
                                                  : citarSh(paths::withSlash(carpetaBin) + QStringLiteral("vacuumdb"));
    return vacuumdb + QStringLiteral(" -d veliro7 -f -z -w -h ") + citarSh(servidor) + QStringLiteral(" -p ") +
           QString::number(puerto) + QStringLiteral(" -U ") + citarSh(usuario) + QStringLiteral(" > ") +
           citarSh(salida) + QStringLiteral(" 2> ") + citarSh(errores);
}

Resultado<QString> compactarBase(const std::function<void(int, const QString&)>& avance) {
    auto paso = [&](int valor, const QString& texto = QString()) {
        if (avance) {
            avance(valor, texto);
        }
    };
    const SessionState& s = sesion();

    paso(10, QStringLiteral("Verificando el estado del servidor..."));
    if (!EstadoServidor()) {
        return fallo(QStringLiteral("Al parecer el servidor no está en ejecución, verifique lo anterior e inténtelo "
                                    "nuevamente"));
    }
    paso(10, QStringLiteral("Verificando el estado del servidor...OK"));
    paso(20, QStringLiteral("Realizando prueba de conexión..."));
    if (!VerificarConexion().isEmpty()) {
        return fallo(QStringLiteral("No se pudo establecer conexión con el servidor"));
    }
    paso(20, QStringLiteral("Realizando prueba de conexión...OK"));
    paso(30, QStringLiteral("Ejecutando proceso para compactar la base de datos..."));
    paso(32);

    const QString carpeta = paths::withSlash(s.RutaTemporal);
    const QString script = carpeta + QStringLiteral("v7.Compact.bat");
    const QString salida = carpeta + QStringLiteral("Mantenimiento.txt");
    const QString errores = carpeta + QStringLiteral("Mantenimiento.err.txt");
    process::Restos restos;
    for (const QString& f : {script, salida, errores}) {
        restos.agregar(f);
    }
    QFile::remove(salida);

    if (CrearArchivoBat(script,
                        comandoCompactar(carpetaHerramientas(), s.ServidorIP, s.PuertoBD, s.UsuarioBD, salida, errores),
                        QString()) != QLatin1String("OK")) {
        return fallo(QStringLiteral("No se creó el archivo de configuración para compactar la base de datos"));
    }
    int estado = -1;
    // The password reaches vacuumdb in its environment only.
    if (!EjecutarArchivoBat(script, &estado, entornoClave(s.ClaveBD)).isEmpty()) {
        return fallo(QStringLiteral("No se logró lanzar el archivo de proceso por lotes para compactar la BD"));
    }
    paso(36);
    if (!QFileInfo::exists(salida)) {
        return fallo(QStringLiteral("No se econtró el archivo \"Mantenimiento.txt\"") + kCrLf +
                     QStringLiteral("Reintentelo nuevamente"));
    }
    // vacuumdb leaves its (empty) output file also when it could not connect: only its status tells.
    if (estado != 0) {
        return fallo(QStringLiteral("No se logró compactar la base de datos (vacuumdb terminó con el código ") +
                     QString::number(estado) + QStringLiteral("):") + kCrLf + lineasDestacadasEn(errores).join(kCrLf) +
                     kCrLf + QStringLiteral("Reintentelo nuevamente"));
    }
    paso(40, QStringLiteral("Ejecutando proceso para compactar la base de datos...OK"));
    paso(40, QStringLiteral("Ejecutando proceso para reindexar la base de datos..."));

    db::DbError e;
    const bool reindexado = sentenciaLarga(QStringLiteral("REINDEX DATABASE veliro7"), e);
    paso(45);
    if (!reindexado) {
        return fallo(QStringLiteral("No se logró reindexar la base") + kCrLf + e.description);
    }
    paso(kCompactaMaximo, QStringLiteral("Ejecutando proceso para reindexar la base de datos...OK"));
    return QStringLiteral("El mantenimiento se ha realizado satisfactoriamente");
}

} // namespace v7
