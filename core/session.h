// The facts of the current login, shared by every window and routine of V7Tools.
#pragma once

#include "platform/db.h"

#include <QString>
#include <QVector>

#include <memory>

namespace v7 {

struct SessionState {
    // The one shared connection; empty until first use (see conexionPrincipal()).
    std::shared_ptr<db::Connection> ConexionPrincipal;
    // Set to the shared connection by the collection transfer; otherwise an unopened object.
    std::shared_ptr<db::Connection> ConexionSecundaria;
    QString CadenaConexion;

    QString UsuarioBD;
    QString ClaveBD;
    QString ServidorIP;
    int PuertoBD = 0; // 1..65535

    QString ServidorConexion, PuertoConexion, UsuarioConexion, ClaveConexion;
    QString UsuarioSesion, ClaveSesion, ServidorSesion;
    int PuertoSesion = 0;

    QString TipoUsuario; // "superusuario" or "administrador"
    QString RolSesion;   // "superusuario" for members of v7_super, else empty

    QString RutaPostgres; // installation folder, ends in "/"
    QVector<QString> VersionesInstaladas;
    QVector<QString> RutasInstaladas;
    QVector<double> PuertosInstalados;

    QString RutaTemporal; // work folder, ends in "/"
    QString VersionHerramienta;
    QString VersionServidor;
    bool EsWindows32Bits = false;
    bool BaseDatosValida = false;
    bool HayArchivosCompartidos = false;
    QString RutaTrabajo;
    QString NombreServicio;
};

// The process-wide session.
SessionState& sesion();

// Back to the program-start state (tests use it between cases).
void reiniciarSesion();

// The shared connection, created (closed) on first use.
db::Connection& conexionPrincipal();
// The secondary connection variable, created (closed) on first use.
db::Connection& conexionSecundaria();

// The tool's own version text.
inline const QString kVersionHerramienta = QStringLiteral("R1.01 [20180907]");

} // namespace v7
