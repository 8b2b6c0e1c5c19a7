// Where the programs keep their files on this system.
#pragma once

#include <QByteArray>
#include <QString>

namespace v7::paths {

// The programs' own folder (config/, log/, the backup staging folder, 7za): V7_HOME when set,
// else the folder of the running executable. Always ends in "/".
QString programFolder();

// The per-user work folder for generated scripts and their output: ${TMPDIR:-/tmp}/v7tools-<uid>/,
// created with mode 0700 when missing. Empty when it cannot be created. Ends in "/".
QString workFolder();

// Ensures a folder path ends in "/" (empty stays empty).
QString withSlash(const QString& folder);

// Whether path itself is a symbolic link (it is not followed).
bool esEnlace(const QString& path);

// Removes path and, when it is a folder, everything below it, never following a symbolic link: a link met
// on the way (path itself included) is removed as a link and its target is left alone. True when nothing
// is left at path (also when there was nothing); otherwise false with the first errno in *error.
bool borrarSinSeguirEnlaces(const QString& path, int* error = nullptr);
// The same for the entry name of the folder open at dirfd: 0, or the first errno.
int borrarEntradaEn(int dirfd, const QByteArray& name);

// Creates a new empty regular file at path with mode, opened for writing: whatever stood there (a file or a
// link, never followed) is removed first, and a link planted in between makes the creation fail. The file
// descriptor, or -1 with errno set (EISDIR when a folder stands there).
int crearArchivoNuevo(const QString& path, unsigned mode = 0600);

QString hostName();  // stands in for COMPUTERNAME
QString loginName(); // stands in for username

} // namespace v7::paths
