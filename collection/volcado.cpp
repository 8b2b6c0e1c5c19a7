#include "collection/volcado.h"

#include "collection/exportacion.h"
#include "core/archivos.h"
#include "platform/archiver.h"
#include "platform/archivo_seguro.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::acervo {

using archivo::Carpeta;

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

namespace {

// Whether nombre in c is a regular file of this program's user: an earlier export, which this run may
// replace or remove. Anything else there (a link, another user's file) is not the kit's to touch.
bool esPropio(const Carpeta& c, const QString& nombre) {
    struct stat st {};
    return c.estado(nombre, &st) && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

void quitarSiEsPropio(const Carpeta& c, const QString& nombre) {
    if (esPropio(c, nombre)) {
        // unlink removes the name only: whatever was swapped in meanwhile is not followed.
        ::unlinkat(c.fd(), QFile::encodeName(nombre).constData(), 0);
    }
}

// Moves nombre from privada to destino under the same name, over an earlier file of this user; where a link
// or anything else stands at it, under the first free name "<base>-2<ext>", "-3"… (*ocupado tells).
// The name used, or empty with errno in *error.
QString colocar(const Carpeta& privada, const QString& nombre, const Carpeta& destino, QString* ocupado, int* error) {
    const QFileInfo fi(nombre);
    const QString base = fi.completeBaseName();
    const QString extension = fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix();
    for (int i = 1; i <= 99; ++i) {
        const QString candidato = i == 1 ? nombre : base + QLatin1Char('-') + QString::number(i) + extension;
        // Replacing replaces the name itself: whatever is swapped in meanwhile is never written through.
        const int e = privada.mover(nombre, destino, candidato, esPropio(destino, candidato));
        if (e == 0) {
            return candidato;
        }
        if (e != EEXIST && e != ENOTEMPTY && e != EISDIR) {
            *error = e;
            return QString();
        }
        if (i == 1) {
            *ocupado = nombre;
        }
    }
    *error = EEXIST;
    return QString();
}

} // namespace

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
    const Carpeta privada = destino.crearCarpetaTemporal(QLatin1Char('.') + nombreBackup + QLatin1Char('.'));
    if (!privada.ok()) {
        return fallar(FallaVolcado::Carpeta, privada.motivo());
    }
    const QString nombrePrivada = QFileInfo(privada.ruta()).fileName();
    const auto descartar = [&destino, &privada, nombrePrivada] {
        for (const QString& n : privada.nombres()) {
            privada.borrar(n);
        }
        destino.borrar(nombrePrivada);
    };
    const process::Limpieza alTerminar(descartar);
    struct Descarte {
        const std::function<void()> accion;
        ~Descarte() { accion(); }
    } descarte{descartar};

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
    int e = 0;
    const QString colocado = colocar(privada, aColocar, destino, &r.nombreOcupado, &e);
    if (colocado.isEmpty()) {
        return fallar(FallaVolcado::Colocacion, archivo::motivoDeError(destino.rutaDe(aColocar), e));
    }
    r.archivo = destino.rutaDe(colocado);
    if (!r.nombreOcupado.isEmpty()) {
        r.nombreOcupado = destino.rutaDe(r.nombreOcupado);
    }
    quitarSiEsPropio(destino, r.empacado ? nombreBackup : nombreZip);
    return r;
}

} // namespace v7::acervo
