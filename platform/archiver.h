// The archivers: 7za for the backup archive (packing, testing, extracting through command scripts) and
// libzip standing in for the zip32 library (one file into one .zip).
#pragma once

#include <QString>

namespace v7::archiver {

// The 7za to run: the program folder's own, else the first on PATH; "7za" when there is none (the
// script then fails and says so in its output).
QString sieteZa();

// sh command texts for 7za (values quoted). Every file of the folder is packed ("folder/*": on this system
// "*.*" matches only names holding a dot); extraction drops stored folders and overwrites without asking.
QString comandoEmpacar(const QString& archivo, const QString& carpeta);
QString comandoProbar(const QString& archivo);
QString comandoExtraer(const QString& archivo, const QString& destino);

// What 7za's exit status means (0 is success).
QString significadoSalida7za(int estado);

// The return codes of the zip library this stands in for.
enum CodigoZip {
    kZipOk = 0,
    kZipMemoria = 4,     // ZE_MEM
    kZipLectura = 11,    // ZE_READ: the file could not be read whole
    kZipNada = 12,       // ZE_NONE: the file to pack does not exist
    kZipEscritura = 14,  // ZE_WRITE: the archive could not be written
    kZipCrear = 15,      // ZE_CREAT: the archive could not be created
    kZipParametros = 16, // ZE_PARMS: archive and file are the same path
    kZipPrueba = 8,      // ZE_TEST: the written archive does not read back as the file
};

// Writes archivoZip anew holding one entry: archivo's content under its file name alone (no folders).
// The archive is read back before the result says it worked. detalle gets libzip's text on failure.
int empacarArchivo(const QString& archivo, const QString& archivoZip, QString* detalle = nullptr);

} // namespace v7::archiver
