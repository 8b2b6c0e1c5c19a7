#include "collection/corrida_importacion.h"

#include "collection/importacion.h"
#include "core/config.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/psql_ajeno.h"
#include "core/servidor.h"
#include "core/session.h"
#include "platform/db.h"
#include "platform/events.h"
#include "platform/paths.h"

namespace v7::acervo {

using err::kCrLf;

namespace {

const QString kTituloActualizacion = QStringLiteral("Actualización del acervo");

void registro(const InterfazImportacion& ui, const QString& entrada) {
    if (ui.registro) {
        ui.registro(entrada);
    }
}

void aviso(const InterfazImportacion& ui, Gravedad gravedad, const QString& texto, const QString& titulo) {
    if (ui.aviso) {
        ui.aviso(gravedad, texto, titulo);
    }
}

MsgResult pregunta(const InterfazImportacion& ui, std::optional<Gravedad> gravedad, const QString& texto,
                   const QString& titulo, std::optional<MsgResult> porDefecto) {
    return ui.pregunta ? ui.pregunta(gravedad, texto, titulo, porDefecto) : respuestaSinPersona(MsgButtons::YesNo);
}

ResultadoImportacion fin(FinImportacion f, Gravedad gravedad = Gravedad::Error, const QString& titulo = QString(),
                         const QString& texto = QString()) {
    ResultadoImportacion r;
    r.fin = f;
    r.mensaje = fallo(texto, gravedad);
    r.titulo = titulo;
    return r;
}

// A query that failed: the error report of the load (the caller adds where it happened).
ResultadoImportacion informe(const QString& queNoSeHizo, const QString& error) {
    ResultadoImportacion r = fin(FinImportacion::Fallido, Gravedad::Error,
                                 QStringLiteral("Error ") + QString::number(db::kProviderErrorNumber),
                                 err::textoParaUsuario(queNoSeHizo, error));
    r.informe = true;
    return r;
}

// The staging tables of a load that did not end in a merge: nothing uses them any more.
void borrarTablasCargadas() {
    events::esperarEnHilo([] { (void)sql::ejecutar(sentenciaBorrarTablas()); });
}

// A query of the checks, off the windows' thread.
template <typename F> auto consultar(F&& f) {
    return events::esperar(std::forward<F>(f));
}

ResultadoImportacion sinHerramientas() {
    return fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"),
               QStringLiteral("No se encontraron las utilerías de PostgreSQL que corresponden a la versión del "
                              "servidor (") +
                   sesion().VersionServidor + QStringLiteral(")."));
}

// psql of the client tools, able to restrict a script's instructions; the refusal otherwise.
QString psqlApto(const QString& carpetaBin) {
    return psqlRestringible(paths::withSlash(carpetaBin) + QStringLiteral("psql"));
}

} // namespace

ResultadoImportacion importarAcervo(const QString& ruta, EstadoImportacion& estado, const InterfazImportacion& ui) {
    // The load's steps carry the numbers its error report names.
    int linea = 10;
    auto con = [&linea](ResultadoImportacion r) {
        r.linea = linea;
        if (r.informe) {
            r.mensaje.texto += kCrLf + QStringLiteral("En la línea ") + QString::number(linea) +
                               QStringLiteral(" del procedimiento cmdCargar_Click");
        }
        return r;
    };
    registro(ui, QStringLiteral(" - Comenzando a restaurar archivo de respaldo '.backup'"));
    estado.carpeta = ruta.trimmed().left(ruta.trimmed().lastIndexOf(QLatin1Char('/')) + 1);

    // The file: the dump or the export's .zip, an export, and no instruction of psql's own.
    linea = 20;
    ArchivoImportacion archivo = events::esperar([&] { return leerArchivoImportacion(ruta.trimmed()); });
    if (!archivo.ok()) {
        return con(fin(FinImportacion::Rechazado, Gravedad::Aviso, kTituloActualizacion, archivo.motivo));
    }
    if (!esExportacion(archivo.datos)) {
        return con(fin(FinImportacion::Rechazado, Gravedad::Aviso, kTituloActualizacion,
                       QStringLiteral("El archivo ") + ruta.trimmed() +
                           QStringLiteral(" no es un archivo de exportación del acervo.") + kCrLf +
                           textoArchivoNecesario()));
    }
    const ScriptAjeno script = events::esperar([&] { return prepararExportacion(archivo.datos); });
    archivo.datos = QByteArray(); // a dump can be large: only psql's input is kept
    if (!script.ok()) {
        return con(fin(FinImportacion::Rechazado, Gravedad::Aviso, kTituloActualizacion, script.motivo));
    }

    // The client tools.
    linea = 30;
    estado.carpetaBin = ObtenerRutaBinPostgres();
    if (estado.carpetaBin.isEmpty()) {
        return con(sinHerramientas());
    }
    if (const QString rechazo = psqlApto(estado.carpetaBin); !rechazo.isEmpty()) {
        return con(fin(FinImportacion::Rechazado, Gravedad::Error, QStringLiteral("Error"), rechazo));
    }

    // The load: the staging tables dropped, then the dump.
    linea = 40;
    borrarTablasCargadas();
    if (ui.carpeta) {
        ui.carpeta(estado.carpeta);
    }
    // The file's SQL runs as a login that can only make and fill the staging tables.
    const ResultadoCarga carga = cargarConCuentaTemporal(estado.carpetaBin, script.entrada,
                                                         sesion().RutaTemporal + QStringLiteral("salida0.txt"));
    if (!carga.ajeno.isEmpty()) {
        borrarTablasCargadas();
        return con(fin(
            FinImportacion::Rechazado, Gravedad::Aviso, kTituloActualizacion,
            QStringLiteral("El archivo ") + ruta.trimmed() +
                QStringLiteral(" creó en la base de datos objetos que una exportación del acervo no "
                               "crea (") +
                carga.ajeno +
                (carga.error.isEmpty()
                     ? QStringLiteral("); se eliminaron y no se importó nada.")
                     : QStringLiteral("); no se importó nada, pero no se pudieron eliminar.") + kCrLf + carga.error)));
    }
    if (!carga.error.isEmpty() || !carga.psql.ok()) {
        borrarTablasCargadas();
        QString detalle = carga.error.isEmpty() ? carga.psql.detalle() : carga.error;
        if (carga.error.isEmpty() && carga.psql.estado == 2) {
            detalle += kCrLf + QStringLiteral("El archivo se carga con una cuenta temporal (") + carga.cuenta +
                       QStringLiteral("): las reglas de acceso del servidor deben admitir con contraseña a cualquier "
                                      "usuario de la base de datos veliro7 desde este equipo.");
        }
        return con(fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"),
                       QStringLiteral("Error al cargar archivo de exportación 'backup'") + kCrLf + kCrLf + detalle));
    }

    linea = 50;
    registro(ui, QStringLiteral(" - Archivo '.backup' cargado en la BD exitósamente"));
    QString error;
    const std::optional<bool> completas = consultar([&] { return tablasExportacionCompletas(error); });
    if (!completas) {
        borrarTablasCargadas();
        return con(informe(QStringLiteral("No se pudo revisar el archivo cargado."), error));
    }
    if (!*completas) {
        borrarTablasCargadas();
        return con(fin(FinImportacion::Rechazado, Gravedad::Aviso, kTituloActualizacion,
                       QStringLiteral("El archivo ") + ruta.trimmed() +
                           QStringLiteral(" no contiene la exportación completa del acervo.") + kCrLf +
                           textoArchivoNecesario()));
    }

    // Items of another library.
    linea = 60;
    const std::optional<qint64> ajenos = consultar([&] { return ejemplaresDeOtraBiblioteca(error); });
    if (!ajenos) {
        borrarTablasCargadas();
        return con(informe(QStringLiteral("No se pudieron revisar los ejemplares del archivo."), error));
    }
    if (*ajenos > 0) {
        borrarTablasCargadas();
        return con(fin(FinImportacion::Rechazado, Gravedad::Informacion, kTituloActualizacion,
                       QStringLiteral("Está intentando agregar ") + QString::number(*ajenos) +
                           QStringLiteral(" ejemplares a su base de datos,") + kCrLf +
                           QStringLiteral("que no corresponden a su biblioteca.")));
    }

    // The installed stamp and the file's.
    linea = 70;
    const std::optional<QString> instalada = consultar([&] { return versionInstalada(error); });
    if (!instalada) {
        borrarTablasCargadas();
        return con(informe(QStringLiteral("No se pudo leer la última actualización instalada (ACT_ACERVO)."), error));
    }
    linea = 80;
    const std::optional<QString> cargada = consultar([&] { return versionCargada(error); });
    if (!cargada) {
        borrarTablasCargadas();
        return con(informe(QStringLiteral("No se pudo leer la fecha del archivo cargado."), error));
    }
    estado.versionCargada = *cargada;

    if (instalada->isEmpty()) {
        // The stamp is recorded once the merge has committed, never before: a failed first merge must
        // leave the same file installable.
        linea = 90;
        estado.primeraActualizacion = true;
        return con(fusionarAcervo(estado, ui));
    }
    linea = 100;
    estado.primeraActualizacion = false;
    if (estado.versionCargada > *instalada) {
        return con(fusionarAcervo(estado, ui));
    }
    borrarTablasCargadas();
    const std::optional<QString> mensaje = mensajeNoReciente(*instalada, estado.versionCargada);
    if (!mensaje) {
        ResultadoImportacion r =
            fin(FinImportacion::Fallido, Gravedad::Error,
                QStringLiteral("Error ") + QString::number(err::kTiposNoCoinciden),
                QStringLiteral("La fecha de la última actualización instalada (") + *instalada +
                    QStringLiteral(") o la del archivo (") + estado.versionCargada + QStringLiteral(") no es válida."));
        r.informe = true;
        return con(r);
    }
    return con(fin(FinImportacion::Rechazado, Gravedad::Informacion, kTituloActualizacion, *mensaje));
}

ResultadoImportacion fusionarAcervo(EstadoImportacion& estado, const InterfazImportacion& ui) {
    QString error;

    // Items in collections this server lacks: the administrator decides; Enter answers No.
    const std::optional<QString> faltantes = consultar([&] { return coleccionesFaltantes(error); });
    if (!faltantes) {
        borrarTablasCargadas();
        return informe(QStringLiteral("No se pudieron revisar las colecciones de los ejemplares."), error);
    }
    if (!faltantes->isEmpty()) {
        if (pregunta(ui, std::nullopt, mensajeColecciones(*faltantes),
                     QStringLiteral("Desea continuar con el proceso?"), MsgResult::No) != MsgResult::Yes) {
            if (estado.primeraActualizacion) {
                // Below every stamp: the same file can be loaded again.
                QString dos = QStringLiteral("2");
                events::esperar([&] { return GuardarConfiguracion(dos, QStringLiteral("ACT_ACERVO")); });
            }
            borrarTablasCargadas();
            return fin(FinImportacion::Detenido);
        }
    }

    // Open unprocessed-item entries of items the file brings.
    const std::optional<QVector<NoProcesado>> noProcesados = consultar([&] { return noProcesadosIncluidos(error); });
    if (!noProcesados) {
        borrarTablasCargadas();
        return informe(QStringLiteral("No se pudo revisar el catálogo de ejemplares no procesados."), error);
    }
    if (!noProcesados->isEmpty() &&
        pregunta(ui, Gravedad::Informacion, mensajeNoProcesados(*noProcesados),
                 QStringLiteral("Ejemplares no procesados"), std::nullopt) == MsgResult::Yes) {
        events::esperar([&] {
            for (const NoProcesado& item : *noProcesados) {
                (void)sql::ejecutar(sentenciaQuitarNoProcesado(item));
            }
        });
    }

    // The program's own script runs; a stored copy that staff changed is told, never run.
    const QString propio = scriptPropio();
    if (propio.isEmpty()) {
        borrarTablasCargadas();
        return fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"),
                   QStringLiteral("El programa no contiene el script de actualización del acervo."));
    }
    const CopiaGuardada copia = consultar([] { return leerCopiaGuardada(); });
    if (const QString diferente = avisoCopiaGuardada(copia, propio); !diferente.isEmpty()) {
        registro(ui, QStringLiteral(" - ") + diferente.section(kCrLf, 0, 0));
        aviso(ui, Gravedad::Aviso, diferente, kTituloActualizacion);
    }

    if (const QString e = consultar([] { return asegurarColumnasEnlace(); }); !e.isEmpty()) {
        borrarTablasCargadas();
        return fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"),
                   err::textoParaUsuario(QStringLiteral("No se agregaron a la tabla de etiquetas MARC las columnas de "
                                                        "enlace con autoridades."),
                                         e));
    }

    registro(ui, QStringLiteral(" - Comenzando rutina de actualización del acervo."));
    if (estado.carpetaBin.isEmpty()) {
        estado.carpetaBin = ObtenerRutaBinPostgres();
        if (estado.carpetaBin.isEmpty()) {
            borrarTablasCargadas();
            return sinHerramientas();
        }
        if (const QString rechazo = psqlApto(estado.carpetaBin); !rechazo.isEmpty()) {
            borrarTablasCargadas();
            return fin(FinImportacion::Rechazado, Gravedad::Error, QStringLiteral("Error"), rechazo);
        }
    }
    if (ui.carpeta) {
        ui.carpeta(estado.carpeta);
    }
    // The program's own text, yet fed as any script is: restricted, so no instruction of psql's runs.
    const ScriptAjeno script = prepararScriptAjeno(propio.toUtf8() + '\n');
    if (!script.ok()) {
        borrarTablasCargadas();
        return fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"), script.motivo);
    }
    const ResultadoPsql fusion =
        ejecutarPsql(estado.carpetaBin, script.entrada, sesion().RutaTemporal + QStringLiteral("salida1.txt"));

    // The script drops the staging tables inside its transaction: while they are there, nothing was
    // merged, whatever psql's status says.
    QString errorRevision;
    const std::optional<bool> quedan = consultar([&] { return hayTablasExportacion(errorRevision); });
    if (!quedan || *quedan) {
        QString detalle = fusion.detalle();
        if (detalle.isEmpty()) {
            detalle = quedan ? QStringLiteral("El script de actualización terminó sin aplicar los cambios.")
                             : err::textoParaUsuario(QStringLiteral("No se pudo saber si el script se aplicó."),
                                                     errorRevision);
        }
        borrarTablasCargadas();
        return fin(FinImportacion::Fallido, Gravedad::Error, QStringLiteral("Error"),
                   QStringLiteral("Error al actualizar registros del acervo de biblioteca") + kCrLf + kCrLf + detalle);
    }
    if (!fusion.ok()) {
        // Merged and committed; one of the adjustments that follow the transaction failed.
        aviso(ui, Gravedad::Aviso,
              QStringLiteral("El acervo se actualizó, pero los ajustes posteriores a la actualización reportaron "
                             "errores:") +
                  kCrLf + kCrLf + fusion.detalle(),
              kTituloActualizacion);
    }

    registro(ui, QStringLiteral(" - Realizando acciones de limpieza. Ya puede usar el sistema."));
    events::esperarEnHilo([] { (void)sql::ejecutar(kVacuum); });
    registro(ui, QStringLiteral(" - Actualizando estadísticas"));
    resultadoEstadistico(true, estado, ui);
    return fin(FinImportacion::Fusionado);
}

void resultadoEstadistico(bool quitaEstatusEspecial, const EstadoImportacion& estado, const InterfazImportacion& ui) {
    QString error;
    const std::optional<EstadisticasAcervo> cifras = consultar([&] { return estadisticasAcervo(error); });
    if (!cifras) {
        aviso(ui, Gravedad::Aviso,
              err::textoParaUsuario(QStringLiteral("No se pudieron contar las fichas y los ejemplares del acervo."),
                                    error),
              QStringLiteral("[resultadoEstadisticoMontaje]"));
    }
    if (!quitaEstatusEspecial) {
        return;
    }
    // Recorded before any box: the merge has committed, so this file is installed whatever follows.
    QString version = estado.versionCargada;
    QString errorVersion;
    const bool registrada = events::esperar([&] {
        (void)sql::ejecutar(sentenciaCerrarMontadas());
        return GuardarConfiguracion(version, QStringLiteral("ACT_ACERVO"), &errorVersion);
    });
    if (cifras) {
        aviso(ui, Gravedad::Informacion, mensajeEstadisticas(*cifras),
              QStringLiteral("Resultado de Actualizar el acervo"));
    }
    if (!registrada) {
        aviso(ui, Gravedad::Aviso,
              err::textoParaUsuario(QStringLiteral("No se registró la versión del acervo instalada (ACT_ACERVO)."),
                                    errorVersion),
              kTituloActualizacion);
    }
    aviso(ui, Gravedad::Informacion,
          QStringLiteral("El proceso de importación del acervo de la biblioteca") + kCrLf +
              QStringLiteral("ha terminado satisfactoriamente.") + kCrLf + kCrLf +
              QStringLiteral("IMPORTANTE: No es necesario INDIZAR."),
          QStringLiteral("Importación exitosa"));
    if (ui.registroSinFecha) {
        ui.registroSinFecha(QStringLiteral("El Acervo de la Biblioteca se ha actualizado correctamente."));
    }
}

} // namespace v7::acervo
