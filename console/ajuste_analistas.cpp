#include "console/ajuste_analistas.h"

#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/versiones.h"

namespace v7 {

AjusteAnalistas AjustarTablaAnalistas(const QString& usuarioSesion) {
    AjusteAnalistas r;
    QString mensaje, encontrada;
    ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, mensaje, encontrada);
    bool leida = false;
    const int version = encontrada.toInt(&leida);
    if (!leida || version > 1) {
        return r;
    }
    r.version1 = true;
    int filas = 0;
    if (!ExecuteSQLaction(QStringLiteral("ALTER TABLE catalogos.analistas ADD COLUMN idbiblioteca bigint NOT NULL "
                                         "DEFAULT 0;"),
                          filas, r.errorColumna)) {
        return r;
    }
    r.columnaAgregada = true;
    QString error;
    r.versionGuardada = ExecuteSQLaction(
        QStringLiteral("UPDATE config_veliro.tablaver SET version = 2, usuario = ") + citarLiteral(usuarioSesion) +
            QStringLiteral(", fecha = '2009-11-29' WHERE esquema = 'catalogos' AND tabla = 'analistas';"),
        filas, error);
    return r;
}

void DepurarAnalistasDuplicados() {
    int filas = 0;
    QString error;
    (void)ExecuteSQLaction(
        QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = (SELECT usuario FROM catalogos.analistas "
                       "GROUP BY usuario HAVING count(usuario) >= 2) AND idanalista NOT IN (SELECT idanalista "
                       "FROM catalogos.analistas WHERE usuario = (SELECT usuario FROM catalogos.analistas "
                       "GROUP BY usuario HAVING count(usuario) >= 2) ORDER BY 1 DESC LIMIT 1)"),
        filas, error);
}

} // namespace v7
