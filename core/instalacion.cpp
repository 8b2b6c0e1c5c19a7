#include "core/instalacion.h"

#include "core/registro.h"
#include "core/session.h"
#include "platform/paths.h"

#include <QFile>
#include <QVector>

#include <cmath>

namespace v7 {

namespace {

const QString kPg = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\");
const QString kGlobals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\");

struct Candidatos {
    QVector<QString> versiones;
    QVector<QString> rutas;
    QVector<double> puertos;
};

// The product's own server was always a 9.0; here it is whatever the setup installed, so its
// entry is named by the cluster's own version file ("PostgreSQL 15"), which the choice of the
// client tools' folder compares with the connected server.
QString nombreInstalacion(const QString& ruta) {
    QFile f(paths::withSlash(ruta) + QStringLiteral("data/PG_VERSION"));
    if (f.open(QIODevice::ReadOnly)) {
        const QString v = QString::fromLatin1(f.readLine()).trimmed();
        if (!v.isEmpty()) {
            return QStringLiteral("PostgreSQL ") + v;
        }
    }
    return QStringLiteral("PostgreSQL 9.0");
}

// Adds one candidate; false (with the conversion error) when its port is not a number.
bool agregar(Candidatos& c, const QString& version, const QString& ruta, const QString& rutaPuerto,
             const QString& puerto, ResultadoInstalacion& r) {
    const auto numero = puertoRegistrado(puerto);
    if (!numero) {
        r.ok = false;
        r.numero = 13; // the type-mismatch number the login's generic message always showed here
        r.descripcion = QStringLiteral("No coinciden los tipos: el puerto registrado de ") + version +
                        QStringLiteral(" ('") + puerto + QStringLiteral("', ") + rutaPuerto +
                        QStringLiteral(") no es un número");
        return false;
    }
    c.versiones.append(version);
    c.rutas.append(ruta);
    c.puertos.append(*numero);
    return true;
}

} // namespace

std::optional<double> puertoRegistrado(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

ResultadoInstalacion BuscarInstalacionPostgres() {
    ResultadoInstalacion r;
    Candidatos c;
    QString ruta;

    struct Sonda {
        QString version, carpeta, puerto;
    };
    const Sonda anteriores[] = {
        {QStringLiteral("PostgreSQL 8.2"),
         QStringLiteral(
             "HKEY_LOCAL_MACHINE\\Software\\PostgreSQL\\Installations\\{1F701DBD-1660-4108-B10A-FB435EA63BF0}"
             "\\Base Directory"),
         kPg + QStringLiteral("Services\\pgsql-8.2\\Port")},
        {QStringLiteral("PostgreSQL 8.3"), kPg + QStringLiteral("Installations\\postgresql-8.3\\Base Directory"),
         kPg + QStringLiteral("Services\\postgresql-8.3\\Port")},
        {QStringLiteral("PostgreSQL 8.4"), kPg + QStringLiteral("Installations\\postgresql-8.4\\Base Directory"),
         kPg + QStringLiteral("Services\\postgresql-8.4\\Port")},
    };
    for (const Sonda& s : anteriores) {
        ruta = LeerRegistro(s.carpeta);
        if (!ruta.isEmpty() && !agregar(c, s.version, ruta, s.puerto, LeerRegistro(s.puerto), r)) {
            return r;
        }
    }

    // 9.0 is found by its service's port; its base directory may be missing.
    const QString puerto90 = kPg + QStringLiteral("Services\\postgresql-9.0\\Port");
    const QString valor90 = LeerRegistro(puerto90);
    if (!valor90.isEmpty()) {
        ruta = LeerRegistro(kPg + QStringLiteral("Installations\\postgresql-9.0\\Base Directory"));
        if (!agregar(c, QStringLiteral("PostgreSQL 9.0"), ruta, puerto90, valor90, r)) {
            return r;
        }
    }

    // The product's own server, as the setup records it.
    ruta = LeerRegistro(kGlobals + QStringLiteral("RutaPg"));
    if (!ruta.isEmpty()) {
        const QString puertoPg = kGlobals + QStringLiteral("PuertoPg");
        if (!agregar(c, nombreInstalacion(ruta), ruta, puertoPg, LeerRegistro(puertoPg), r)) {
            return r;
        }
    }

    auto& s = sesion();
    for (int i = 0; i < c.puertos.size(); ++i) {
        if (c.puertos.at(i) == double(s.PuertoBD)) {
            ruta = c.rutas.at(i);
            break;
        }
    }
    if (ruta.isEmpty()) {
        ruta = paths::programFolder() + QStringLiteral("SGBDR/");
    }
    s.RutaPostgres = paths::withSlash(ruta);
    s.VersionesInstaladas = c.versiones;
    s.RutasInstaladas = c.rutas;
    s.PuertosInstalados = c.puertos;
    return r;
}

} // namespace v7
