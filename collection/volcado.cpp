#include "collection/volcado.h"

#include "collection/exportacion.h"
#include "core/archivos.h"
#include "platform/archiver.h"
#include "platform/archivo_seguro.h"
#include "platform/carpeta_privada.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::acervo {

using archivo::Carpeta;
using archivo::CarpetaPrivada;

QStringList argumentosVolcado(const ParametrosVolcado& p) {
    QStringList a{QStringLiteral("-O"),      QStringLiteral("-h"), p.servidor, QStringLiteral("-p"),
                  QString::number(p.puerto), QStringLiteral("-U"), p.usuario,  QStringLiteral("--no-password"),
                  QStringLiteral("-Fp"),     QStringLiteral("-v")};
    for (const QString& tabla : tablasExportacion()) {
        a << QStringLiteral("-t")
          << QStringLiteral("\"%1\".\"%2\"")
                 .arg(tabla.section(QLatin1Char('.'), 0, 0), tabla.section(QLatin1Char('.'), 1));
    }
    a << QStringLiteral("--strict-names") << QStringLiteral("veliro7");
    return a;
}

bool esArchivoPropio(const Carpeta& c, const QString& nombre) {
    struct stat st {};
    return c.estado(nombre, &st) && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

void quitarSiEsPropio(const Carpeta& c, const QString& nombre) {
    if (esArchivoPropio(c, nombre)) {
        // unlink removes the name only: whatever was swapped in meanwhile is not followed.
        ::unlinkat(c.fd(), QFile::encodeName(nombre).constData(), 0);
    }
}

Colocacion colocarExportacion(const Carpeta& privada, const QString& nombre, const Carpeta& destino) {
    Colocacion c;
    const QFileInfo fi(nombre);
    const QString base = fi.completeBaseName();
    const QString extension = fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix();
    for (int i = 1; i <= 99; ++i) {
        const QString candidato = i == 1 ? nombre : base + QLatin1Char('-') + QString::number(i) + extension;
        // Replacing replaces the name itself: whatever is swapped in meanwhile is never written through.
        const int e = privada.mover(nombre, destino, candidato, esArchivoPropio(destino, candidato));
        if (e == 0) {
            c.nombre = candidato;
            return c;
        }
        if (e != EEXIST && e != ENOTEMPTY && e != EISDIR) {
            c.error = e;
            return c;
        }
        if (i == 1) {
            c.ocupado = nombre;
        }
    }
    c.error = EEXIST;
    return c;
}

QString textoNombreOcupado(const QString& ocupado, const QString& colocado) {
    return QStringLiteral("En ") + ocupado +
           QStringLiteral(" ya había un enlace simbólico o un archivo de otro usuario; no se tocó y el archivo de "
                          "exportación se guardó ") +
           (colocado.isEmpty() ? QStringLiteral("con el nombre de arriba.")
                               : QStringLiteral("como ") + colocado + QLatin1Char('.'));
}

ResultadoVolcado volcarExportacion(const ParametrosVolcado& p, const std::function<void()>& volcado) {
    ResultadoVolcado r;
    const QFileInfo fi(p.archivoBackup);
    const QString nombreBackup = fi.fileName();
    const QString nombreZip = QFileInfo(archivoEmpacado(p.archivoBackup)).fileName();
    const Carpeta destino = Carpeta::abrir(fi.absolutePath());
    auto fallar = [&](FallaVolcado falla, const QString& detalle) {
        r.falla = falla;
        r.detalle = detalle;
        if (destino.ok()) {
            // An older file of these names must not pass for this run's output.
            quitarSiEsPropio(destino, nombreBackup);
            quitarSiEsPropio(destino, nombreZip);
        }
        return r;
    };
    if (!destino.ok()) {
        return fallar(FallaVolcado::Carpeta, destino.motivo());
    }
    const CarpetaPrivada trabajo(destino, QLatin1Char('.') + nombreBackup + QLatin1Char('.'));
    const Carpeta& privada = trabajo.carpeta();
    if (!privada.ok()) {
        return fallar(FallaVolcado::Carpeta, privada.motivo());
    }

    // The dump's file is this run's own, new; pg_dump writes it through its standard output, opened by a
    // path that names the private folder itself.
    const int fd = privada.crearNuevo(nombreBackup);
    if (fd < 0) {
        return fallar(FallaVolcado::Carpeta, archivo::motivoDeError(privada.rutaDe(nombreBackup), errno));
    }
    ::close(fd);
    const QString estable = privada.rutaEstable() + QLatin1Char('/');

    process::Command c;
    c.program = paths::withSlash(p.carpetaBin) + QStringLiteral("pg_dump");
    c.arguments = argumentosVolcado(p);
    c.environment.insert(QStringLiteral("PGPASSWORD"), p.clave);
    c.cLocale = true;
    c.out = process::Sink::File;
    c.outFile = estable + nombreBackup;
    c.err = process::Sink::Capture;
    const process::Result res = process::run(c);
    r.estado = res.status();
    if (!res.started) {
        return fallar(FallaVolcado::NoIniciado, res.startError);
    }
    if (!res.ok()) {
        return fallar(FallaVolcado::Fallido, lineasDeError(res.errorOutput));
    }
    struct stat st {};
    if (!privada.estado(nombreBackup, &st) || !S_ISREG(st.st_mode) || st.st_size == 0) {
        return fallar(FallaVolcado::SinArchivo, QString());
    }
    if (volcado) {
        volcado();
    }

    // Packed from the file just written; an archive that did not check out is no export file.
    r.empacado = archiver::empacarArchivo(estable + nombreBackup, estable + nombreZip) == archiver::kZipOk;
    const QString aColocar = r.empacado ? nombreZip : nombreBackup;
    const Colocacion colocado = colocarExportacion(privada, aColocar, destino);
    if (!colocado.ok()) {
        return fallar(FallaVolcado::Colocacion, archivo::motivoDeError(destino.rutaDe(aColocar), colocado.error));
    }
    r.archivo = destino.rutaDe(colocado.nombre);
    if (!colocado.ocupado.isEmpty()) {
        r.nombreOcupado = destino.rutaDe(colocado.ocupado);
    }
    quitarSiEsPropio(destino, r.empacado ? nombreBackup : nombreZip);
    return r;
}

} // namespace v7::acervo
