// What the server's client-authentication rules decide for this program's own session, and the reload
// of the server's configuration over that session.
//
// A rules file is written only when the session that writes it could still log in under it: the server
// lists the file's rules in order (pg_hba_file_rules) and the first rule that matches the session's
// connection (its kind, database, user and address as the server sees them) decides. A rule that may or
// may not match (a host name, "samenet" for a remote client) cannot be relied on: when the outcome
// depends on one, the session is not taken as admitted.
//
//     const ComprobacionSesion c = comprobarSesion(contenido);   // on the shared connection
//     if (!c.admitida()) { show(textoSesionRechazada(c)); }
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace v7 {

// Whether an IP address lies in a network given as an address and a mask (dotted IPv4, IPv6, or a bit
// count). nullopt when either is not an IP address; false when the families differ.
std::optional<bool> direccionEnRed(const QString& direccion, const QString& red, const QString& mascara);

// The session's connection as the server sees it.
struct SesionCliente {
    QString direccion;         // inet_client_addr(); empty over a Unix socket
    QString direccionServidor; // inet_server_addr()
    QString usuario;           // session_user
    QString baseDatos;         // current_database()
    bool ssl = false;
    bool gssCifrado = false;
    QStringList roles; // the roles the user belongs to, directly or through others, the user included
};

// One rule of pg_hba_file_rules.
struct ReglaServidor {
    int linea = 0;
    QString tipo;         // local, host, hostssl, hostnossl, hostgssenc, hostnogssenc; empty when unusable
    QStringList bases;    // as the server lists them (@file names already expanded)
    QStringList usuarios; // idem; a group as "+name"
    QString direccion;    // an IP address, all, samehost, samenet or a host name; empty for local
    QString mascara;      // the mask of an IP address
    QString metodo;
    QString error;
    bool conComillas = false; // the line quotes a name: a name that looks like a keyword may be a plain name
};

struct DecisionSesion {
    enum class Tipo {
        Admitida,  // the first rule that matches lets the session in
        Rechazada, // the first rule that matches is "reject"
        SinRegla,  // no rule matches
        Incierta,  // the outcome depends on a rule that cannot be told to match or not
    };
    Tipo tipo = Tipo::SinRegla;
    int linea = 0; // the deciding line (Admitida, Rechazada), or the line that cannot be told (Incierta)
};

// The first rule that matches decides. Pure.
DecisionSesion decidirSesion(const QVector<ReglaServidor>& reglas, const SesionCliente& sesion);

// The line that decides for the own addresses of a rule for every database and user (a row of the
// client-address list): the first line, in the server's order, that may take a connection from one of those
// addresses for some database and some user.
struct DecisionRegla {
    int linea = 0;      // the rule's own line when no earlier line comes first
    bool cierta = true; // false: the earlier line may or may not match (a host name, samehost, samenet)
    bool parte = false; // the earlier line takes only a part of the rule's network (a smaller network in it)
};
// reglas as the server lists them; linea the rule's line; direccionServidor the address the session reached
// the server at (a client with that address is on the server's machine). nullopt when no usable rule stands
// at linea. Pure.
std::optional<DecisionRegla> decidirRegla(const QVector<ReglaServidor>& reglas, int linea,
                                          const QString& direccionServidor);

// A rule the check was asked about that an earlier line overrides for its own address.
struct ReglaSinEfecto {
    int linea = 0;
    QString texto; // its line
    QString direccion;
    DecisionRegla decide; // the earlier line
    QString textoDecide;  // that line's text
};

// The check of a rules file that is in place at the server's hba_file name.
struct ComprobacionSesion {
    bool consultada = false;         // the server could be asked
    QString errorConsulta;           // why not (the SQL layer's text)
    QVector<ReglaServidor> rechazos; // lines the server cannot load (the whole file is then refused)
    SesionCliente sesion;
    DecisionSesion decision;
    QString lineaDecisiva;             // the text of the deciding line, from the file's content
    QVector<ReglaSinEfecto> sinEfecto; // rules asked about (lineasPropias) that do not decide for their address
    bool admitida() const {
        return consultada && rechazos.isEmpty() && decision.tipo == DecisionSesion::Tipo::Admitida;
    }
};

// Asks the server (on the shared connection) for its reading of the file now at its hba_file name and for
// this session's connection, and decides. contenido is that file's text, for the lines' wording. Each line
// of lineasPropias (rules for every database and user, as the client-address list writes them) must be the
// line that decides for its own address: those that are not go to sinEfecto.
[[nodiscard]] ComprobacionSesion comprobarSesion(const QByteArray& contenido, const QVector<int>& lineasPropias = {});

// The Spanish account of a file that would lock this session out (naming its address, user and database,
// and the deciding line). Empty when admitted.
QString textoSesionRechazada(const ComprobacionSesion& c);

// The Spanish account of rules that an earlier line overrides (naming each rule's line and the line that
// decides before it). Empty when there are none.
QString textoReglasSinEfecto(const ComprobacionSesion& c);

// SELECT pg_reload_conf() on the shared connection: true when the server took the signal, else *error
// (when given) says why in Spanish.
[[nodiscard]] bool recargarConfiguracionPorSesion(QString* error);

} // namespace v7
