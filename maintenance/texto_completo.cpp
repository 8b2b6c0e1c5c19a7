#include "maintenance/texto_completo.h"

#include "core/config.h"
#include "core/consultas.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/mantenimiento.h"

#include <QStringList>

namespace v7 {

namespace {

using err::kCrLf;

const QString kNoDiccionario =
    QStringLiteral("No se logró crear el diccionario 'espanol', por favor monte de nuevo el respaldo");

bool existeEspanol() {
    return sql::valor(QStringLiteral("SELECT 1 FROM pg_ts_config c JOIN pg_namespace n ON n.oid = c.cfgnamespace "
                                     "WHERE n.nspname = 'pg_catalog' AND c.cfgname = 'espanol'"))
        .hayFila;
}

bool existeTrigger() {
    return sql::valor(QStringLiteral("SELECT 1 FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid JOIN "
                                     "pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = 'analisis' AND "
                                     "c.relname = 'etiquetasmarc' AND t.tgname = 'tsvectorupdate'"))
        .hayFila;
}

// unaccent is built into the server's contrib; its objects go to pg_catalog, where the configuration
// finds them whatever the search path.
bool instalarUnaccent(QString& error) {
    int filas = 0;
    return ExecuteSQLaction(QStringLiteral("CREATE EXTENSION IF NOT EXISTS unaccent SCHEMA pg_catalog"), filas, error);
}

// CREATE of the configuration: true when it exists afterwards (also when another session made it first).
bool crearEspanol(QString& error) {
    if (existeEspanol()) {
        return true;
    }
    // Raw: the server's SQLSTATE tells a configuration that another session made meanwhile.
    db::DbError e;
    qint64 n = 0;
    if (conexionPrincipal().execute(QStringLiteral("CREATE TEXT SEARCH CONFIGURATION pg_catalog.espanol ( COPY = "
                                                   "spanish );"),
                                    n, e)) {
        return true;
    }
    // unique_violation on the catalogue's index, or duplicate_object: it is there already.
    if (e.sqlState == QLatin1String("23505") || e.sqlState == QLatin1String("42710")) {
        return true;
    }
    error = e.description;
    return false;
}

const QString kAlterMapping = QStringLiteral("ALTER TEXT SEARCH CONFIGURATION pg_catalog.espanol ALTER MAPPING FOR "
                                             "hword, hword_part, word WITH unaccent, spanish_stem;");

QString propietario() {
    return citarIdentificador(sesion().UsuarioBD.trimmed());
}

} // namespace

QString funcionReferenciaCatalogos2() {
    const QStringList lineas = {
        QStringLiteral("CREATE OR REPLACE FUNCTION analisis.referenciacatalogos2(text, bigint, text)"),
        QStringLiteral("RETURNS text AS"),
        QStringLiteral("$BODY$ --$1 contenido, $2 idlink, $3 tabla"),
        QStringLiteral("declare"),
        QStringLiteral("posicion1 integer;"),
        QStringLiteral("posicion2 integer;"),
        QStringLiteral("cadena1 text;"),
        QStringLiteral("cadena2 text;"),
        QStringLiteral("cadena3 text;"),
        QStringLiteral("begin"),
        QStringLiteral("posicion1=strpos($1,'@@');"),
        QStringLiteral("cadena1=$1;"),
        QStringLiteral("If (posicion1 > 0) Then"),
        QStringLiteral("cadena1='';"),
        QStringLiteral("-- the reference ends at the first '!' after '@@'; without one it runs to the end"),
        QStringLiteral("posicion2=strpos(substr($1,posicion1),'!');"),
        QStringLiteral("If (posicion1 > 1) Then"),
        QStringLiteral("cadena1=substr($1,1,posicion1-1);"),
        QStringLiteral("end if;"),
        QStringLiteral("If (posicion2 = 0) Then"),
        QStringLiteral("cadena2=substr($1,posicion1);"),
        QStringLiteral("cadena3='';"),
        QStringLiteral("Else"),
        QStringLiteral("cadena2=substr($1,posicion1,posicion2);"),
        QStringLiteral("cadena3=substr($1,posicion1+posicion2);"),
        QStringLiteral("end if;"),
        QStringLiteral("cadena1=cadena1 || analisis.catalogos2($2,$3,cadena2) || cadena3;"),
        QStringLiteral("end if;"),
        QStringLiteral("return cadena1;"),
        QStringLiteral("end ; $BODY$"),
        QStringLiteral("LANGUAGE plpgsql VOLATILE"),
        QStringLiteral("COST 100;"),
    };
    return lineas.join(kCrLf);
}

QString funcionActualizaTipos() {
    QStringList lineas = {
        QStringLiteral("CREATE OR REPLACE FUNCTION analisis.actualiza_tipos(integer) "),
        QStringLiteral("RETURNS integer AS"),
        QStringLiteral("$BODY$declare"),
        QStringLiteral("xtipo integer;"),
        QStringLiteral("numetiqueta integer;"),
        QStringLiteral("begin"),
        QStringLiteral("xtipo=0;"),
        QStringLiteral("numetiqueta = $1;"),
    };
    struct Regla {
        const char* condicion;
        const char* comentario; // nullptr: none
        const char* asignacion;
        bool comentarioEnLinea; // the comment follows "Then" on the same line
    };
    // Tested in order: a later match wins (130 is a title and an author: author).
    const Regla reglas[] = {
        {"If numetiqueta = 130 Or numetiqueta = 240 Or numetiqueta = 245 Or numetiqueta = 246 Or numetiqueta = 730 Or "
         "numetiqueta = 740 Or numetiqueta = 830 Then",
         "-- titulos", "xtipo = 1;", false},
        {"If numetiqueta = 100 Or numetiqueta = 110 Or numetiqueta = 111 Or numetiqueta = 130 Or numetiqueta = 700 Or "
         "numetiqueta = 710 Or numetiqueta = 711 Or numetiqueta = 800 Then",
         "-- autores", "xtipo = 2;", false},
        {"If numetiqueta = 600 Or numetiqueta = 650 Or numetiqueta = 630 Or numetiqueta = 651 Or numetiqueta = 610 Or "
         "numetiqueta = 656 Then",
         "-- temas", "xtipo=3;", false},
        {"If numetiqueta = 20 Or numetiqueta = 22 Then", "-- isbn/issn", "xtipo= 4;", false},
        {"If numetiqueta = 260 Then", "-- Editoriales", "xtipo = 5;", true},
        {"If numetiqueta = 400 Or numetiqueta = 410 Or numetiqueta = 440 Or numetiqueta = 490 Then", "--  series",
         "xtipo = 6;", false},
        {"If numetiqueta = 50 Or numetiqueta = 82 Or numetiqueta = 90 Then", nullptr, "xtipo = 7;", false},
        {"If numetiqueta >= 500 And numetiqueta < 600 Then", "-- Notas", "xtipo = 8;", false},
        {"If numetiqueta = 8 Then", "-- Lugar Pub", "xtipo = 9;", false},
    };
    for (const Regla& r : reglas) {
        QString condicion = QString::fromLatin1(r.condicion);
        if (r.comentario != nullptr && r.comentarioEnLinea) {
            lineas << condicion + QLatin1Char(' ') + QString::fromLatin1(r.comentario);
        } else {
            lineas << condicion;
            if (r.comentario != nullptr) {
                lineas << QString::fromLatin1(r.comentario);
            }
        }
        lineas << QString::fromLatin1(r.asignacion) << QStringLiteral("end if;");
    }
    lineas << QStringLiteral("return xtipo;") << QStringLiteral("end;$BODY$")
           << QStringLiteral("LANGUAGE plpgsql VOLATILE") << QStringLiteral("COST 100;");
    return lineas.join(kCrLf);
}

Resultado<> asegurarDiccionarioEspanol() {
    if (existeEspanol()) {
        return {};
    }
    QString error;
    int filas = 0;
    if (!instalarUnaccent(error) || !crearEspanol(error) || !ExecuteSQLaction(kAlterMapping, filas, error)) {
        return fallo(kNoDiccionario, Gravedad::Aviso);
    }
    return {};
}

Resultado<> actualizarTextoCompleto(const AvanceTextoCompleto& avance, const std::function<void(const Fallo&)>& aviso) {
    auto paso = [&](int valor, const QString& estado) {
        if (avance) {
            avance(valor, estado);
        }
    };
    QString error;
    int filas = 0;

    // The old add-on tsearch2 is built into every server since 8.3: only unaccent is installed.
    paso(6, QStringLiteral("Instalando módulo unnacent..."));
    if (!instalarUnaccent(error)) {
        return fallo(QStringLiteral("No se logró instalar el módulo unnacent debido a lo siguiente: ") + error,
                     Gravedad::Error);
    }

    paso(7, QStringLiteral("Instalando diccionario 'espanol'..."));
    if (!crearEspanol(error)) {
        return fallo(kNoDiccionario, Gravedad::Aviso);
    }
    if (!ExecuteSQLaction(kAlterMapping, filas, error)) {
        return fallo(QStringLiteral("ERROR: ") + error, Gravedad::Aviso);
    }

    if (!ExecuteSQLaction(funcionReferenciaCatalogos2() + kCrLf +
                              QStringLiteral("ALTER FUNCTION analisis.referenciacatalogos2(text, bigint, text) OWNER "
                                             "TO ") +
                              propietario() + QStringLiteral(";"),
                          filas, error)) {
        return fallo(QStringLiteral("No se logró modificar la función 'referenciacatalogos2' debido a lo "
                                    "siguiente: ") +
                         error,
                     Gravedad::Error);
    }

    paso(-1, QStringLiteral("Creando trigger 'tsvectorupdate', este proceso puede tardar, por favor espere..."));
    // A trigger that came with the dump is kept; one that cannot be made would leave the search vector
    // stale on every later change.
    if (!existeTrigger() &&
        !ExecuteSQLaction(QStringLiteral("CREATE TRIGGER tsvectorupdate BEFORE INSERT OR UPDATE ON "
                                         "analisis.etiquetasmarc ") +
                              kCrLf +
                              QStringLiteral("FOR EACH ROW EXECUTE PROCEDURE tsvector_update_trigger(idxfti, "
                                             "'pg_catalog.espanol', etiquetasinfo);"),
                          filas, error)) {
        return fallo(QStringLiteral("No se logró crear el trigger 'tsvectorupdate', por favor monte de nuevo el "
                                    "respaldo"),
                     Gravedad::Aviso);
    }

    paso(-1, QStringLiteral("Activando índices del módulo TSearch2 (este proceso puede tardar varios minutos)..."));
    QString lote;
    // The link columns come with the collection export; a library that never exported lacks them.
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
        lote += QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN idlink integer DEFAULT NULL;") + kCrLf;
    }
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("tabla"))) {
        lote +=
            QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN tabla character(2) DEFAULT NULL;") + kCrLf;
    }
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idxfti"))) {
        lote += QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN idxFTI tsvector;") + kCrLf +
                QStringLiteral("CREATE INDEX idxFTI_idx ON analisis.etiquetasmarc USING gist(idxFTI);") + kCrLf;
    }
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("etiquetasinfo"))) {
        lote += QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN etiquetasinfo text;") + kCrLf;
    }
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("tipo"))) {
        lote += QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN tipo integer;") + kCrLf;
    }
    lote +=
        QStringLiteral("UPDATE analisis.etiquetasmarc SET etiquetasinfo = "
                       "analisis.sinacentos(analisis.referenciacatalogos2(contenido, idlink, tabla));") +
        kCrLf +
        QStringLiteral("UPDATE analisis.etiquetasmarc SET idxFTI=to_tsvector('spanish',coalesce(etiquetasinfo,''));") +
        kCrLf +
        QStringLiteral("UPDATE analisis.etiquetasmarc SET etiquetasinfo = analisis.referenciacatalogos2(contenido, "
                       "idlink, tabla); ") +
        kCrLf;
    db::DbError e;
    if (!sentenciaLarga(lote, e)) {
        return fallo(QStringLiteral("No se lograron activar los índices debido a lo siguiente: ") +
                         sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), lote),
                     Gravedad::Error);
    }

    paso(-1, QStringLiteral("Actualizando función 'actualiza_tipos' (este proceso puede tardar varios minutos)..."));
    const QString tipos =
        funcionActualizaTipos() + kCrLf + QStringLiteral("ALTER FUNCTION analisis.actualiza_tipos(integer) OWNER TO ") +
        propietario() + QStringLiteral(";") + kCrLf +
        QStringLiteral("UPDATE analisis.etiquetasmarc SET tipo=analisis.actualiza_tipos(numetiqueta); ") + kCrLf;
    if (!sentenciaLarga(tipos, e)) {
        return fallo(QStringLiteral("No se logro actualizar la funcion 'actualiza_tipos' debido a lo siguiente: ") +
                         sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), tipos),
                     Gravedad::Error);
    }

    QString valor = QStringLiteral("1");
    if (!GuardarConfiguracion(valor, QStringLiteral("ANA_FULLTEXTSEARCH"))) {
        if (aviso) {
            aviso(fallo(QStringLiteral("No se agrego la variable de configuración ANA_FULLTEXTSEARCH")));
        }
    }
    return {};
}

} // namespace v7
