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
//
// In a folder that someone else owns or may write (the server's data folder, a shared export folder) the
// folders of the path can be swapped too: Carpeta reaches such a folder once and does everything else
// relative to its descriptor.
//
//     const v7::archivo::Carpeta c = v7::archivo::Carpeta::abrir(carpetaDelServidor);
//     if (!c.ok()) { show(c.motivo()); return; }
//     const v7::archivo::Lectura l = c.leerRegular(QStringLiteral("pg_hba.conf"), limite, SiExcede::Rechazar, dueno);
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
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
    QString motivo;          // why it could not be read, in Spanish; empty on success
    int numeroError = 0;     // errno of the failure, when there was one
    qint64 tamano = 0;       // the whole file's size
    bool recortado = false;  // UltimaParte: only the end was read
    uid_t dueno = uid_t(-1); // the file's owner, group and mode, as read
    gid_t grupo = gid_t(-1);
    mode_t modo = 0;
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

// The login name of a user id, or the number as text when the system does not know it.
QString nombreDeUsuario(uid_t uid);

// A folder reached without following a link that someone else could have planted, and trusted no further:
// every use goes through its descriptor, so swapping a folder of its path for a link afterwards changes
// nothing. Movable, not copyable; the descriptor closes with the object.
class Carpeta {
public:
    Carpeta() = default;
    ~Carpeta();
    Carpeta(Carpeta&& otra) noexcept;
    Carpeta& operator=(Carpeta&& otra) noexcept;
    Carpeta(const Carpeta&) = delete;
    Carpeta& operator=(const Carpeta&) = delete;

    // Walks ruta one folder at a time from "/" (a relative path from the current folder), opening each
    // with O_NOFOLLOW | O_DIRECTORY. A link on the way is followed only where it stands in a folder that
    // nobody but root (or this program's own user) may change, as a system's own links are (/var/run); a
    // link in anyone else's folder, or in a folder others may write, stops the walk (ELOOP).
    static Carpeta abrir(const QString& ruta);

    bool ok() const { return m_fd >= 0; }
    const QString& ruta() const { return m_ruta; }     // as given, cleaned
    QString rutaDe(const QString& nombre) const;       // ruta() + "/" + nombre, for messages
    const QString& motivo() const { return m_motivo; } // why it could not be reached, in Spanish
    int numeroError() const { return m_numeroError; }
    int fd() const { return m_fd; }
    uid_t dueno() const { return m_estado.st_uid; }
    gid_t grupo() const { return m_estado.st_gid; }

    // A path that names this very folder for as long as this object lives, whatever is done meanwhile to
    // the names on the way to it (/proc/<pid>/fd/<n>): for handing a path to a library of this process or
    // to a tool it starts (which runs as this program's user).
    QString rutaEstable() const;

    // Empty when the folder belongs to dueno or to root, else the Spanish reason.
    QString rechazoPorDueno(uid_t dueno) const;

    // The folder nombre inside this one, never through a link.
    Carpeta subcarpeta(const QString& nombre) const;
    // Makes the folder nombre (mode modo) unless it stands there already, then opens it as subcarpeta does
    // and, when this program made it, gives it to dueno and grupo through its own descriptor: a link or
    // another folder swapped in between is never handed over.
    Carpeta crearSubcarpeta(const QString& nombre, mode_t modo, uid_t dueno, gid_t grupo) const;
    // A new private folder (0700) named prefijo followed by six random letters and digits, as mkdtemp
    // names it: no name can be planted in advance.
    Carpeta crearCarpetaTemporal(const QString& prefijo) const;

    // As the free functions above, on the entry nombre of this folder. With a dueno, a file of anyone else
    // is refused (EPERM) with a reason that names both.
    int abrirRegular(const QString& nombre, QString* motivo, int* numeroError = nullptr, uid_t dueno = uid_t(-1)) const;
    Lectura leerRegular(const QString& nombre, qint64 limite, SiExcede siExcede = SiExcede::Rechazar,
                        uid_t dueno = uid_t(-1)) const;
    QString escribirAtomico(const QString& nombre, const QByteArray& datos, const OpcionesEscritura& opciones = {},
                            int* numeroError = nullptr) const;
    // Creates nombre anew for writing (O_CREAT | O_EXCL | O_NOFOLLOW): -1 with errno EEXIST when anything
    // stands at the name.
    int crearNuevo(const QString& nombre, unsigned modo = 0600) const;

    // lstat of an entry (a link is not followed): false with errno set when there is none.
    bool estado(const QString& nombre, struct stat* st) const;
    // The names of its entries ("." and ".." left out); empty when it cannot be listed.
    QStringList nombres() const;
    // Moves nombre of this folder to nuevo in destino. Without reemplazar nothing that stands at nuevo is
    // replaced (EEXIST). 0 or errno.
    int mover(const QString& nombre, const Carpeta& destino, const QString& nuevo, bool reemplazar) const;
    // Removes the entry nombre, a folder with all it holds, never following a link. 0 or the first errno.
    int borrar(const QString& nombre) const;

private:
    int m_fd = -1;
    QString m_ruta;
    QString m_motivo;
    int m_numeroError = 0;
    struct stat m_estado {};
};

} // namespace v7::archivo
