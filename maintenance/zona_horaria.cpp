#include "maintenance/zona_horaria.h"

#include "core/cifrado.h"
#include "core/registro.h"
#include "core/sql.h"
#include "core/sqlutil.h"

namespace v7 {

QStringList zonasAmericanas(bool& ok, QString& error) {
    QStringList zonas;
    int total = 0;
    auto rs = ExecuteSQLrs(
        QStringLiteral("SELECT name FROM pg_timezone_names WHERE name ILIKE 'America/%' ORDER BY name"), total, error);
    ok = rs != nullptr;
    for (; rs && !rs->eof(); rs->moveNext()) {
        zonas << rs->text(0);
    }
    return zonas;
}

bool zonaConocida(const QString& zona) {
    if (zona.trimmed().isEmpty()) {
        return false;
    }
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT 1 FROM pg_timezone_names WHERE name = ") + citarLiteral(zona), total,
                           error);
    return rs && !rs->eof();
}

QString leerZonaGuardada() {
    const QString guardada = LeerRegistro(kRegistroZona);
    if (guardada.isEmpty()) {
        return QString();
    }
    // The writer chose its key by the tool version stored at that time; the reader cannot know it, so
    // the key that gives a zone the server knows is the one it was written with.
    for (const bool claveA : {false, true}) {
        const QString zona = DescifrarCadena(guardada, claveA);
        if (zonaConocida(zona)) {
            return zona;
        }
    }
    return QString();
}

bool guardarZona(const QString& zona, QString& error) {
    bool ok = false;
    const QString cifrada = CifrarCadena(zona, &ok, &error);
    if (!ok) {
        return false;
    }
    EscribirRegistro(kRegistroZona, cifrada);
    if (LeerRegistro(kRegistroZona) != cifrada) {
        error = QStringLiteral("No se guardó la zona horaria en el registro");
        return false;
    }
    return true;
}

bool aplicarZona(const QString& zona, QString& error) {
    int filas = 0;
    return ExecuteSQLaction(QStringLiteral("ALTER DATABASE veliro7 SET TIMEZONE TO ") + citarLiteral(zona), filas,
                            error);
}

} // namespace v7
