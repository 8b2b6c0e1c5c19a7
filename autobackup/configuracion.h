// The schedule settings file config/v7.respaldo.dat that V7Tools's backup schedule leaves in the
// program folder: up to five lines (CR LF or LF) in the order user, password, server, port, archive
// path. User and password are scrambled (key B); server, port and path are written plain, and are
// descrambled only when they are in the scrambled form and could not be plain.
#pragma once

#include "autobackup/basedatos.h"

#include <QString>

#include <optional>

namespace v7::autobackup {

struct ConfiguracionRespaldo {
    QString usuario;
    QString clave;
    QString servidor;
    QString puerto; // as read; see puertoConfigurado()
    QString ruta;

    // Whether any of the five fields is empty.
    bool incompleta() const;
};

enum class EstadoLectura {
    Leida,
    NoExiste, // no such file (or a link to nothing: falla says so)
    Vacia,    // the file holds nothing at all
    Alterada, // the file holds no settings: blank lines only, text that is not a settings file (UTF-16,
              // control bytes, overlong lines), or user and password lines that are not scrambled
    Error,    // it could not be read, or it is no regular file (falla says why); refused at once
};

struct LecturaConfiguracion {
    EstadoLectura estado = EstadoLectura::Error;
    ConfiguracionRespaldo campos;
    Falla falla;
};

// program folder + "config/v7.respaldo.dat".
QString rutaConfiguracionRespaldo();

// Reads the file. Each non-empty line fills the next field still empty; lines after the fifth filled
// field are ignored. Lines are UTF-8, or Windows-1252 when they are not valid UTF-8. A folder, a FIFO or
// any other file that is not a regular file is refused without waiting on it.
LecturaConfiguracion leerConfiguracionRespaldo(const QString& ruta);

// Whether a line has the scrambler's form: an even number of upper-case hexadecimal digits.
bool formaCifrada(const QString& linea);

// The field values as this program takes them from their lines.
// server: descrambled when the line has the scrambled form and its plain text is a host name
// ("localhost", "127.0.0.1" and "db-1" stay as they are);
// port: descrambled when longer than 5 characters and in the scrambled form;
// path: plain when it holds "/" (an absolute path), else descrambled when in the scrambled form.
QString servidorDeLinea(const QString& linea);
QString puertoDeLinea(const QString& linea);
QString rutaDeLinea(const QString& linea);

// The port as a number 1..65535; nullopt with the conversion error (13, or 6 for an overflow) otherwise.
std::optional<int> puertoConfigurado(const QString& texto, Falla& falla);

} // namespace v7::autobackup
