// Opening, reading and replacing files that someone else could have planted or swapped.
//
// The programs run as root. A file whose name the kit chose (a server log, pg_hba.conf, a file under
// config/) may still be a link to a root-only file, a FIFO that never answers or a device that never
// ends. These routines never follow a link at the final name, never block on a FIFO or a device (the
// open is non-blocking, then the kind is checked), and read at most a given size.
//
//     const v7::archivo::Lectura l = v7::archivo::leerRegular(ruta, 16 * v7::archivo::kMiB);
//     if (!l.ok()) { show(l.motivo); return; }
//     use(l.datos);
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace v7::archivo {

inline constexpr qint64 kMiB = 1024 * 1024;

// What happens to a file larger than the limit.
enum class SiExcede {
    Rechazar,    // not read: the reason says the size and the limit
    UltimaParte, // only its last `limite` bytes are read (a log: the newest lines matter)
};

struct Lectura {
    QByteArray datos;
    QString motivo;         // why it could not be read, in Spanish; empty on success
    int numeroError = 0;    // errno of the failure, when there was one
    qint64 tamano = 0;      // the whole file's size
    bool recortado = false; // UltimaParte: only the end was read
    bool ok() const { return motivo.isEmpty(); }
};

// Opens ruta for reading: a link at that name, or anything that is not a regular file, is refused
// without blocking. The descriptor (blocking again, close-on-exec), or -1 with the Spanish reason in
// *motivo and errno in *numeroError.
int abrirRegular(const QString& ruta, QString* motivo, int* numeroError = nullptr);

// Reads a whole regular file opened as abrirRegular does, at most limite bytes.
Lectura leerRegular(const QString& ruta, qint64 limite, SiExcede siExcede = SiExcede::Rechazar);

// How a replaced file is written.
struct OpcionesEscritura {
    unsigned modo = 0600;            // mode of a new file
    bool conservarDuenoYModo = true; // an existing file's owner, group and mode pass to its replacement
    bool exigirExistente = false;    // refuse when there is no file to replace
    uid_t dueno = uid_t(-1);         // owner to give (when not taken from the old file); -1 leaves it
    gid_t grupo = gid_t(-1);
};

// Replaces ruta whole: a temporary file beside it, written, flushed and renamed over it, so readers see
// the old file or the new one, never a part. A link or anything but a regular file at ruta is refused
// (nothing is written through it). Empty on success, else the Spanish reason.
// errno of the failure goes to *numeroError when given (ELOOP for a link, EINVAL for a non-regular file).
QString escribirAtomico(const QString& ruta, const QByteArray& datos, const OpcionesEscritura& opciones = {},
                        int* numeroError = nullptr);

// The Spanish reason for a system error met on ruta (no such file, permission, a link, a folder…).
QString motivoDeError(const QString& ruta, int numeroError);

} // namespace v7::archivo
