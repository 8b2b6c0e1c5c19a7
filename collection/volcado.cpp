#include "collection/volcado.h"

#include "collection/exportacion.h"
#include "core/archivos.h"
#include "platform/archiver.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QFileInfo>

namespace v7::acervo {

QStringList argumentosVolcado(const ParametrosVolcado& p) {
    QStringList a{QStringLiteral("-O"),
                  QStringLiteral("-h"),
                  p.servidor,
                  QStringLiteral("-p"),
                  QString::number(p.puerto),
                  QStringLiteral("-U"),
                  p.usuario,
                  QStringLiteral("--no-password"),
                  QStringLiteral("-Fp"),
                  QStringLiteral("-v"),
                  QStringLiteral("-f"),
                  p.archivoBackup};
    for (const QString& tabla : tablasExportacion()) {
        a << QStringLiteral("-t")
          << QStringLiteral("\"%1\".\"%2\"")
                 .arg(tabla.section(QLatin1Char('.'), 0, 0), tabla.section(QLatin1Char('.'), 1));
    }
    a << QStringLiteral("--strict-names") << QStringLiteral("veliro7");
    return a;
}

ResultadoVolcado volcarExportacion(const ParametrosVolcado& p) {
    ResultadoVolcado r;
    // An older file of this name must not pass for this run's output.
    QFile::remove(p.archivoBackup);
    QFile::remove(archivoEmpacado(p.archivoBackup));

    process::Command c;
    c.program = paths::withSlash(p.carpetaBin) + QStringLiteral("pg_dump");
    c.arguments = argumentosVolcado(p);
    c.environment.insert(QStringLiteral("PGPASSWORD"), p.clave);
    c.cLocale = true;
    c.err = process::Sink::Capture;
    const process::Result res = process::run(c);
    r.estado = res.status();
    if (!res.started) {
        r.falla = FallaVolcado::NoIniciado;
        r.detalle = res.startError;
    } else if (!res.ok()) {
        r.falla = FallaVolcado::Fallido;
        r.detalle = lineasDeError(res.errorOutput);
    } else if (!QFileInfo(p.archivoBackup).isFile()) {
        r.falla = FallaVolcado::SinArchivo;
    }
    if (!r.ok()) {
        QFile::remove(p.archivoBackup);
    }
    return r;
}

ResultadoEmpacado empacarExportacion(const QString& archivoBackup) {
    ResultadoEmpacado r;
    r.archivo = archivoBackup;
    const QString zip = archivoEmpacado(archivoBackup);
    if (archiver::empacarArchivo(archivoBackup, zip) != archiver::kZipOk) {
        QFile::remove(zip); // an archive that did not check out is no export file
        return r;
    }
    if (!QFile::remove(archivoBackup)) {
        return r;
    }
    r.ok = true;
    r.archivo = zip;
    return r;
}

} // namespace v7::acervo
