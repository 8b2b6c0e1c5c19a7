#include "console/reglas_sesion.h"

#include "core/errores.h"
#include "core/sql.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace v7 {

namespace {

using err::kCrLf;

// An address in network byte order, with its family.
struct Ip {
    int familia = 0; // AF_INET or AF_INET6
    unsigned char bytes[16] = {};
    int largo() const { return familia == AF_INET ? 4 : 16; }
};

std::optional<Ip> leerIp(const QString& texto) {
    Ip ip;
    const QByteArray t = texto.trimmed().toLatin1();
    if (::inet_pton(AF_INET, t.constData(), ip.bytes) == 1) {
        ip.familia = AF_INET;
        return ip;
    }
    if (::inet_pton(AF_INET6, t.constData(), ip.bytes) == 1) {
        ip.familia = AF_INET6;
        return ip;
    }
    return std::nullopt;
}

// A mask written as a bit count, as the family's address form, or empty (the whole address).
std::optional<Ip> leerMascara(const QString& texto, int familia) {
    Ip m;
    m.familia = familia;
    const QString t = texto.trimmed();
    if (t.isEmpty()) {
        std::memset(m.bytes, 0xff, size_t(m.largo()));
        return m;
    }
    bool esNumero = false;
    const int bits = t.toInt(&esNumero);
    if (esNumero) {
        if (bits < 0 || bits > m.largo() * 8) {
            return std::nullopt;
        }
        for (int i = 0; i < bits; ++i) {
            m.bytes[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
        }
        return m;
    }
    const std::optional<Ip> punteada = leerIp(t);
    if (!punteada || punteada->familia != familia) {
        return std::nullopt;
    }
    return punteada;
}

enum class Coincide { No, Si, Quizas };

Coincide siNo(bool b) {
    return b ? Coincide::Si : Coincide::No;
}

// A name that is a keyword, on a line with quotes: the server's listing drops the quotes, and a quoted
// keyword is a plain name. Certain only when both readings agree.
Coincide leida(const ReglaServidor& r, Coincide comoClave, Coincide comoNombre) {
    if (!r.conComillas || comoClave == comoNombre) {
        return comoClave;
    }
    return Coincide::Quizas;
}

// The best of the list's items: one certain match is enough.
Coincide mejor(Coincide a, Coincide b) {
    if (a == Coincide::Si || b == Coincide::Si) {
        return Coincide::Si;
    }
    return a == Coincide::Quizas || b == Coincide::Quizas ? Coincide::Quizas : Coincide::No;
}

// The best of one of the rule's lists: each item read as a plain name (equal to nombre) and, where clave
// knows it as a keyword, as that keyword too.
template <typename Clave>
Coincide mejorDeLista(const ReglaServidor& r, const QStringList& lista, const QString& nombre, Clave clave) {
    Coincide resultado = Coincide::No;
    for (const QString& x : lista) {
        const Coincide comoNombre = siNo(x == nombre);
        const std::optional<Coincide> comoClave = clave(x);
        resultado = mejor(resultado, comoClave ? leida(r, *comoClave, comoNombre) : comoNombre);
    }
    return resultado;
}

Coincide coincideBase(const ReglaServidor& r, const SesionCliente& s) {
    return mejorDeLista(r, r.bases, s.baseDatos, [&s](const QString& b) -> std::optional<Coincide> {
        if (b == QLatin1String("all")) {
            return Coincide::Si;
        }
        if (b == QLatin1String("sameuser")) {
            return siNo(s.baseDatos == s.usuario);
        }
        if (b == QLatin1String("samerole") || b == QLatin1String("samegroup")) {
            return siNo(s.roles.contains(s.baseDatos));
        }
        if (b == QLatin1String("replication")) {
            return Coincide::No; // replication connections only; this session is not one
        }
        return std::nullopt;
    });
}

Coincide coincideUsuario(const ReglaServidor& r, const SesionCliente& s) {
    return mejorDeLista(r, r.usuarios, s.usuario, [&s](const QString& u) -> std::optional<Coincide> {
        if (u == QLatin1String("all")) {
            return Coincide::Si;
        }
        if (u.startsWith(QLatin1Char('+'))) {
            // Membership of the group, the superuser attribute not counting.
            return siNo(s.roles.contains(u.mid(1)));
        }
        return std::nullopt;
    });
}

Coincide coincideTipo(const ReglaServidor& r, const SesionCliente& s) {
    const bool socket = s.direccion.isEmpty();
    if (r.tipo == QLatin1String("local")) {
        return socket ? Coincide::Si : Coincide::No;
    }
    if (socket) {
        return Coincide::No;
    }
    if (r.tipo == QLatin1String("host")) {
        return Coincide::Si;
    }
    if (r.tipo == QLatin1String("hostssl")) {
        return s.ssl ? Coincide::Si : Coincide::No;
    }
    if (r.tipo == QLatin1String("hostnossl")) {
        return s.ssl ? Coincide::No : Coincide::Si;
    }
    if (r.tipo == QLatin1String("hostgssenc")) {
        return s.gssCifrado ? Coincide::Si : Coincide::No;
    }
    if (r.tipo == QLatin1String("hostnogssenc")) {
        return s.gssCifrado ? Coincide::No : Coincide::Si;
    }
    return Coincide::No;
}

Coincide coincideDireccion(const ReglaServidor& r, const SesionCliente& s) {
    if (r.tipo == QLatin1String("local")) {
        return Coincide::Si;
    }
    if (r.direccion == QLatin1String("all")) {
        return Coincide::Si;
    }
    if (r.direccion == QLatin1String("samehost") || r.direccion == QLatin1String("samenet")) {
        // The address the session reached the server at is one of the server's own: a client with that
        // same address is on the server's machine. Anything else needs the server's interfaces.
        return s.direccion == s.direccionServidor ? Coincide::Si : Coincide::Quizas;
    }
    const std::optional<bool> dentro = direccionEnRed(s.direccion, r.direccion, r.mascara);
    if (!dentro) {
        return Coincide::Quizas; // a host name: the server asks the name service
    }
    return *dentro ? Coincide::Si : Coincide::No;
}

Coincide coincide(const ReglaServidor& r, const SesionCliente& s) {
    Coincide total = Coincide::Si;
    for (const Coincide c : {coincideTipo(r, s), coincideBase(r, s), coincideUsuario(r, s), coincideDireccion(r, s)}) {
        if (c == Coincide::No) {
            return Coincide::No;
        }
        if (c == Coincide::Quizas) {
            total = Coincide::Quizas;
        }
    }
    return total;
}

// Whether a rule may take a connection from the address of s for some database that "all" takes in and
// some user.
Coincide tomaDireccion(const ReglaServidor& r, const SesionCliente& s) {
    static const QStringList tcp = {QStringLiteral("host"), QStringLiteral("hostssl"), QStringLiteral("hostnossl"),
                                    QStringLiteral("hostgssenc"), QStringLiteral("hostnogssenc")};
    if (!tcp.contains(r.tipo) || r.usuarios.isEmpty()) {
        return Coincide::No;
    }
    // A line the server loaded with a warning ("hostssl" while SSL is off) takes nothing.
    if (!r.error.isEmpty() && r.tipo != QLatin1String("host") && r.tipo != QLatin1String("hostnossl") &&
        r.tipo != QLatin1String("hostnogssenc")) {
        return Coincide::No;
    }
    Coincide base = Coincide::No;
    for (const QString& b : r.bases) {
        // "replication" takes only replication connections, which "all" does not; quoted, it is a plain name.
        base = mejor(base, b == QLatin1String("replication") ? leida(r, Coincide::No, Coincide::Si) : Coincide::Si);
    }
    if (base == Coincide::No) {
        return Coincide::No;
    }
    const Coincide direccion = coincideDireccion(r, s);
    if (direccion == Coincide::No) {
        return Coincide::No;
    }
    return base == Coincide::Si && direccion == Coincide::Si ? Coincide::Si : Coincide::Quizas;
}

QStringList listaJson(const QString& texto) {
    QStringList l;
    for (const QJsonValue& v : QJsonDocument::fromJson(texto.toUtf8()).array()) {
        l << v.toString();
    }
    return l;
}

QString lineaDe(const QByteArray& contenido, int numero) {
    const QList<QByteArray> lineas = contenido.split('\n');
    if (numero < 1 || numero > lineas.size()) {
        return QString();
    }
    QByteArray l = lineas[numero - 1];
    if (l.endsWith('\r')) {
        l.chop(1);
    }
    return QString::fromUtf8(l).trimmed();
}

const QString kConsultaSesion = QStringLiteral(
    "SELECT coalesce(host(inet_client_addr()), '') AS cliente, coalesce(host(inet_server_addr()), '') AS servidor, "
    "session_user AS usuario, current_database() AS base, "
    "CASE WHEN coalesce((SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()), false) THEN 1 ELSE 0 END AS ssl, "
    "CASE WHEN coalesce((SELECT encrypted FROM pg_stat_gssapi WHERE pid = pg_backend_pid()), false) THEN 1 ELSE 0 "
    "END AS gss");

// Membership as the server counts it for "+group" and "samerole": through any chain of grants, the
// superuser attribute not counting.
const QString kConsultaRoles =
    QStringLiteral("WITH RECURSIVE m(oid) AS (SELECT oid FROM pg_roles WHERE rolname = session_user "
                   "UNION SELECT a.roleid FROM pg_auth_members a JOIN m ON a.member = m.oid) "
                   "SELECT r.rolname FROM pg_roles r JOIN m ON r.oid = m.oid");

const QString kConsultaReglas = QStringLiteral(
    "SELECT line_number, coalesce(type, '') AS tipo, coalesce(array_to_json(database)::text, '[]') AS bases, "
    "coalesce(array_to_json(user_name)::text, '[]') AS usuarios, coalesce(address, '') AS direccion, "
    "coalesce(netmask, '') AS mascara, coalesce(auth_method, '') AS metodo, coalesce(error, '') AS error "
    "FROM pg_hba_file_rules ORDER BY line_number");

} // namespace

std::optional<bool> direccionEnRed(const QString& direccion, const QString& red, const QString& mascara) {
    const std::optional<Ip> a = leerIp(direccion);
    const std::optional<Ip> r = leerIp(red);
    if (!a || !r) {
        return std::nullopt;
    }
    if (a->familia != r->familia) {
        return false;
    }
    const std::optional<Ip> m = leerMascara(mascara, r->familia);
    if (!m) {
        return std::nullopt;
    }
    for (int i = 0; i < a->largo(); ++i) {
        if ((a->bytes[i] & m->bytes[i]) != (r->bytes[i] & m->bytes[i])) {
            return false;
        }
    }
    return true;
}

DecisionSesion decidirSesion(const QVector<ReglaServidor>& reglas, const SesionCliente& sesion) {
    std::optional<int> dudosa; // an earlier rule that may have matched first
    for (const ReglaServidor& r : reglas) {
        if (r.tipo.isEmpty()) {
            continue; // unusable: the server refuses the whole file anyway
        }
        const Coincide c = coincide(r, sesion);
        if (c == Coincide::No) {
            continue;
        }
        const bool rechaza = r.metodo == QLatin1String("reject");
        if (c == Coincide::Si) {
            if (rechaza) {
                return {DecisionSesion::Tipo::Rechazada, r.linea};
            }
            // An earlier rule that may have matched first lets the session in as well.
            return {DecisionSesion::Tipo::Admitida, r.linea};
        }
        if (rechaza) {
            return {DecisionSesion::Tipo::Incierta, r.linea};
        }
        if (!dudosa) {
            dudosa = r.linea;
        }
    }
    if (dudosa) {
        return {DecisionSesion::Tipo::Incierta, *dudosa};
    }
    return {DecisionSesion::Tipo::SinRegla, 0};
}

std::optional<DecisionRegla> decidirRegla(const QVector<ReglaServidor>& reglas, int linea,
                                          const QString& direccionServidor) {
    const auto propia = std::find_if(reglas.begin(), reglas.end(),
                                     [linea](const ReglaServidor& r) { return r.linea == linea && !r.tipo.isEmpty(); });
    if (propia == reglas.end()) {
        return std::nullopt;
    }
    SesionCliente desde;
    desde.direccion = propia->direccion;
    desde.direccionServidor = direccionServidor;
    const bool redPropia = leerIp(propia->direccion).has_value();
    for (auto r = reglas.begin(); r != propia; ++r) {
        if (r->tipo.isEmpty()) {
            continue;
        }
        if (const Coincide c = tomaDireccion(*r, desde); c != Coincide::No) {
            return DecisionRegla{r->linea, c == Coincide::Si, false};
        }
        // A smaller network inside the rule's own is not found from the rule's first address, yet it decides
        // for its part of them: the earlier line is asked about with the two networks swapped.
        if (redPropia && leerIp(r->direccion) && !r->mascara.isEmpty()) {
            ReglaServidor enLaFila = *r;
            enLaFila.direccion = propia->direccion;
            enLaFila.mascara = propia->mascara;
            SesionCliente desdeLaOtra = desde;
            desdeLaOtra.direccion = r->direccion;
            if (const Coincide c = tomaDireccion(enLaFila, desdeLaOtra); c != Coincide::No) {
                return DecisionRegla{r->linea, c == Coincide::Si, true};
            }
        }
    }
    return DecisionRegla{linea, true, false};
}

ComprobacionSesion comprobarSesion(const QByteArray& contenido, const QVector<int>& lineasPropias) {
    ComprobacionSesion c;
    int total = 0;
    QString error;
    RecordsetPtr rs = ExecuteSQLrs(kConsultaReglas, total, error);
    if (!rs) {
        c.errorConsulta = error;
        return c;
    }
    QVector<ReglaServidor> reglas;
    for (; !rs->eof(); rs->moveNext()) {
        ReglaServidor r;
        r.linea = rs->text(QStringLiteral("line_number")).toInt();
        r.tipo = rs->text(QStringLiteral("tipo"));
        r.bases = listaJson(rs->text(QStringLiteral("bases")));
        r.usuarios = listaJson(rs->text(QStringLiteral("usuarios")));
        r.direccion = rs->text(QStringLiteral("direccion"));
        r.mascara = rs->text(QStringLiteral("mascara"));
        r.metodo = rs->text(QStringLiteral("metodo"));
        r.error = rs->text(QStringLiteral("error"));
        r.conComillas = lineaDe(contenido, r.linea).contains(QLatin1Char('"'));
        // A line with an error and a kind is loaded with a warning (a "hostssl" rule while SSL is off);
        // without a kind the server cannot use it and keeps its previous rules.
        if (r.tipo.isEmpty()) {
            c.rechazos << r;
        }
        reglas << r;
    }
    rs = ExecuteSQLrs(kConsultaSesion, total, error);
    if (!rs || rs->eof()) {
        c.errorConsulta = error;
        return c;
    }
    SesionCliente& s = c.sesion;
    s.direccion = rs->text(QStringLiteral("cliente"));
    s.direccionServidor = rs->text(QStringLiteral("servidor"));
    s.usuario = rs->text(QStringLiteral("usuario"));
    s.baseDatos = rs->text(QStringLiteral("base"));
    s.ssl = rs->text(QStringLiteral("ssl")) == QLatin1String("1");
    s.gssCifrado = rs->text(QStringLiteral("gss")) == QLatin1String("1");
    rs = ExecuteSQLrs(kConsultaRoles, total, error);
    if (!rs) {
        c.errorConsulta = error;
        return c;
    }
    for (; !rs->eof(); rs->moveNext()) {
        s.roles << rs->text(0);
    }
    c.consultada = true;
    c.decision = decidirSesion(reglas, s);
    c.lineaDecisiva = lineaDe(contenido, c.decision.linea);
    for (const int linea : lineasPropias) {
        const std::optional<DecisionRegla> d = decidirRegla(reglas, linea, s.direccionServidor);
        if (d && d->linea != linea) {
            const auto r = std::find_if(reglas.begin(), reglas.end(),
                                        [linea](const ReglaServidor& x) { return x.linea == linea; });
            c.sinEfecto << ReglaSinEfecto{linea, lineaDe(contenido, linea), r->direccion, *d,
                                          lineaDe(contenido, d->linea)};
        }
    }
    return c;
}

QString textoSesionRechazada(const ComprobacionSesion& c) {
    if (c.admitida() || !c.consultada || !c.rechazos.isEmpty()) {
        return QString();
    }
    const SesionCliente& s = c.sesion;
    const QString desde = s.direccion.isEmpty() ? QStringLiteral("por el socket local del servidor")
                                                : QStringLiteral("desde la dirección ") + s.direccion;
    QString t = QStringLiteral("No se guardaron los cambios: con estas reglas el servidor ya no aceptaría la conexión "
                               "de esta sesión (usuario ") +
                s.usuario + QStringLiteral(", base de datos ") + s.baseDatos + QStringLiteral(", ") + desde +
                QStringLiteral(").") + kCrLf;
    const QString linea = QStringLiteral("la línea ") + QString::number(c.decision.linea) + QStringLiteral(" (") +
                          c.lineaDecisiva + QStringLiteral(")");
    switch (c.decision.tipo) {
    case DecisionSesion::Tipo::Rechazada:
        t += QStringLiteral("La primera regla que corresponde a esta conexión es ") + linea +
             QStringLiteral(", que la rechaza.");
        break;
    case DecisionSesion::Tipo::SinRegla:
        t += QStringLiteral("Ninguna regla corresponde a esta conexión.");
        break;
    case DecisionSesion::Tipo::Incierta:
        t += QStringLiteral("No se puede saber si ") + linea +
             QStringLiteral(" corresponde a esta conexión (depende del nombre del equipo o de las redes del "
                            "servidor), y sin ella ninguna regla la permite con seguridad.");
        break;
    case DecisionSesion::Tipo::Admitida:
        break;
    }
    return t + kCrLf + QStringLiteral("Permita el acceso a ") +
           (s.direccion.isEmpty() ? QStringLiteral("las conexiones locales") : s.direccion) +
           QStringLiteral(" antes de guardar. El archivo de configuración quedó como estaba.");
}

QString textoReglasSinEfecto(const ComprobacionSesion& c) {
    if (c.sinEfecto.isEmpty()) {
        return QString();
    }
    QString t = QStringLiteral("No se guardaron los cambios: el acceso que muestra la lista no sería el que decide el "
                               "servidor.");
    for (const ReglaSinEfecto& r : c.sinEfecto) {
        const QString antes = QStringLiteral("la línea ") + QString::number(r.decide.linea) + QStringLiteral(" (") +
                              r.textoDecide + QStringLiteral(")");
        t += kCrLf + QStringLiteral("Para la dirección ") + r.direccion + QStringLiteral(" (línea ") +
             QString::number(r.linea) + QStringLiteral(": ") + r.texto + QStringLiteral(") ") +
             (r.decide.cierta
                  ? QStringLiteral("decide antes ") +
                        (r.decide.parte ? QStringLiteral("para una parte de esas direcciones ") : QString()) + antes +
                        QStringLiteral(", que el servidor lee primero.")
                  : QStringLiteral("puede decidir antes ") + antes +
                        QStringLiteral(", según el nombre del equipo o las redes del servidor."));
    }
    return t + kCrLf +
           QStringLiteral("Cambie o quite esa línea del archivo de configuración, o cambie la dirección en la lista. "
                          "El archivo de configuración quedó como estaba.");
}

bool recargarConfiguracionPorSesion(QString* error) {
    return conPlazos(kPlazosInteractivos, [error] {
        int total = 0;
        QString e;
        RecordsetPtr rs = ExecuteSQLrs(QStringLiteral("SELECT CASE WHEN pg_reload_conf() THEN 1 ELSE 0 END"), total, e);
        if (rs && !rs->eof() && rs->text(0) == QLatin1String("1")) {
            return true;
        }
        if (error != nullptr) {
            *error = rs ? QStringLiteral("El servidor no aceptó la señal de recarga.")
                        : err::textoParaUsuario(QStringLiteral("No se pudo pedir al servidor que recargue su "
                                                               "configuración."),
                                                e);
        }
        return false;
    });
}

} // namespace v7
