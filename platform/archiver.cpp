#include "platform/archiver.h"

#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <zip.h>

namespace v7::archiver {

QString sieteZa() {
    const QFileInfo propio(paths::programFolder() + QStringLiteral("7za"));
    if (propio.isFile() && propio.isExecutable()) {
        return propio.absoluteFilePath();
    }
    const QString enPath = QStandardPaths::findExecutable(QStringLiteral("7za"));
    return enPath.isEmpty() ? QStringLiteral("7za") : enPath;
}

namespace {

QString sinBarraFinal(QString carpeta) {
    while (carpeta.size() > 1 && carpeta.endsWith(QLatin1Char('/'))) {
        carpeta.chop(1);
    }
    return carpeta;
}

} // namespace

QString comandoEmpacar(const QString& archivo, const QString& carpeta) {
    return process::shellQuote(sieteZa()) + QStringLiteral(" a -tzip ") + process::shellQuote(archivo) +
           QLatin1Char(' ') + process::shellQuote(sinBarraFinal(carpeta)) + QStringLiteral("/*");
}

QString comandoProbar(const QString& archivo) {
    return process::shellQuote(sieteZa()) + QStringLiteral(" t ") + process::shellQuote(archivo);
}

QString comandoExtraer(const QString& archivo, const QString& destino) {
    return process::shellQuote(sieteZa()) + QStringLiteral(" e ") + process::shellQuote(archivo) +
           QStringLiteral(" -o") + process::shellQuote(destino) + QStringLiteral(" -y");
}

QString significadoSalida7za(int estado) {
    switch (estado) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral("7za terminó con advertencias; algunos archivos no se procesaron");
    case 2:
        return QStringLiteral("7za encontró un error fatal: el archivo está dañado o no se pudo leer");
    case 7:
        return QStringLiteral("7za rechazó la línea de comandos");
    case 8:
        return QStringLiteral("7za no tuvo memoria suficiente");
    case 127:
        return QStringLiteral("No se encontró el programa 7za");
    default:
        return QStringLiteral("7za terminó con el código ") + QString::number(estado);
    }
}

namespace {

QString textoError(zip_error_t* e) {
    return QString::fromLocal8Bit(zip_error_strerror(e));
}

int codigoCierre(int zipErr) {
    switch (zipErr) {
    case ZIP_ER_MEMORY:
        return kZipMemoria;
    case ZIP_ER_READ:
    case ZIP_ER_OPEN:
        return kZipLectura;
    case ZIP_ER_TMPOPEN: // its folder is missing or not writable
        return kZipCrear;
    default:
        return kZipEscritura;
    }
}

// The archive holds exactly one entry, named nombre, whose content reads back whole (libzip checks the
// CRC as it reads) with the source's size.
bool comprobar(const QByteArray& zipNativo, const QByteArray& nombre, qint64 tamano, QString* detalle) {
    int err = 0;
    zip_t* za = zip_open(zipNativo.constData(), ZIP_CHECKCONS | ZIP_RDONLY, &err);
    if (za == nullptr) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        if (detalle != nullptr) {
            *detalle = textoError(&ze);
        }
        zip_error_fini(&ze);
        return false;
    }
    bool ok = false;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_get_num_entries(za, 0) == 1 && zip_stat_index(za, 0, 0, &st) == 0 && st.name != nullptr &&
        nombre == st.name && qint64(st.size) == tamano) {
        if (zip_file_t* f = zip_fopen_index(za, 0, 0)) {
            char buf[65536];
            qint64 leido = 0;
            zip_int64_t n = 0;
            while ((n = zip_fread(f, buf, sizeof(buf))) > 0) {
                leido += n;
            }
            ok = n == 0 && leido == tamano;
            if (!ok && detalle != nullptr) {
                *detalle = QString::fromLocal8Bit(zip_file_strerror(f));
            }
            zip_fclose(f);
        }
    }
    if (!ok && detalle != nullptr && detalle->isEmpty()) {
        *detalle = QStringLiteral("el archivo no contiene la entrada esperada");
    }
    zip_discard(za);
    return ok;
}

} // namespace

int empacarArchivo(const QString& archivo, const QString& archivoZip, QString* detalle) {
    const QFileInfo origen(archivo);
    if (!origen.isFile()) {
        return kZipNada;
    }
    if (QFileInfo(archivoZip).absoluteFilePath() == origen.absoluteFilePath()) {
        return kZipParametros;
    }
    const QByteArray zipNativo = QFile::encodeName(archivoZip);
    const QByteArray origenNativo = QFile::encodeName(origen.absoluteFilePath());
    const QByteArray nombre = origen.fileName().toUtf8();

    int err = 0;
    // libzip writes a temporary file and renames it over the archive when closing: never a half archive.
    zip_t* za = zip_open(zipNativo.constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (za == nullptr) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        if (detalle != nullptr) {
            *detalle = textoError(&ze);
        }
        zip_error_fini(&ze);
        return kZipCrear;
    }
    zip_source_t* src = zip_source_file(za, origenNativo.constData(), 0, -1);
    if (src == nullptr || zip_file_add(za, nombre.constData(), src, ZIP_FL_ENC_GUESS) < 0) {
        if (detalle != nullptr) {
            *detalle = QString::fromLocal8Bit(zip_strerror(za));
        }
        if (src != nullptr) {
            zip_source_free(src);
        }
        zip_discard(za);
        return kZipLectura;
    }
    if (zip_close(za) != 0) {
        const int codigo = codigoCierre(zip_error_code_zip(zip_get_error(za)));
        if (detalle != nullptr) {
            *detalle = QString::fromLocal8Bit(zip_strerror(za));
        }
        zip_discard(za);
        return codigo;
    }
    if (!comprobar(zipNativo, nombre, origen.size(), detalle)) {
        return kZipPrueba;
    }
    return kZipOk;
}

} // namespace v7::archiver
