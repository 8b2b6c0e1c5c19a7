#include "collection/corrida_exportacion.h"

#include "collection/sql_asincrono.h"
#include "collection/volcado.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/events.h"

#include <QFileInfo>

namespace v7::acervo {

using err::kCrLf;

namespace {

void avanceGeneral(const InterfazExportacion& ui, int valor, int maximo = 0) {
    if (ui.avanceGeneral) {
        ui.avanceGeneral(valor, maximo);
    }
}

void estado(const InterfazExportacion& ui, const QString& texto) {
    if (ui.estado) {
        ui.estado(texto);
    }
}

void registro(const InterfazExportacion& ui, const QString& linea) {
    if (ui.registro) {
        ui.registro(linea);
    }
}

void aviso(const InterfazExportacion& ui, std::optional<Gravedad> gravedad, const QString& texto,
           const QString& titulo = QString()) {
    if (ui.aviso) {
        ui.aviso(gravedad, texto, titulo);
    }
}

// A query on the shared connection, off the windows' thread.
sql::Filas consultar(const QString& consulta) {
    return events::esperar([&] { return sql::filas(consulta); });
}

} // namespace

bool ejecutarSentencia(const QString& sql, QString& error, const std::function<void()>& tick) {
    SessionState& s = sesion();
    if (s.CadenaConexion.isEmpty()) {
        s.CadenaConexion = conexionPrincipal().connectionString();
    }
    const ResultadoAsincrono r = ejecutarAsincrono(s.CadenaConexion, sql, tick);
    if (!r.ok) {
        error = r.errores;
    }
    return r.ok;
}

RechazoExportacion revisarExportacion(const DatosExportacion& d) {
    if (!d.hayBiblioteca) {
        return RechazoExportacion::FaltaBiblioteca;
    }
    if (!d.biblioteca || *d.biblioteca < 1) {
        return RechazoExportacion::BibliotecaNoValida;
    }
    if (d.carpeta.isEmpty() || !QFileInfo(d.carpeta).isDir()) {
        return RechazoExportacion::SinCarpeta;
    }
    if (d.hasta < d.desde) {
        return RechazoExportacion::FechasInvertidas;
    }
    return RechazoExportacion::Ninguno;
}

Aviso avisoRechazo(RechazoExportacion r) {
    switch (r) {
    case RechazoExportacion::Ninguno:
        break;
    case RechazoExportacion::FaltaBiblioteca:
        return {QStringLiteral("Falta la biblioteca"),
                QStringLiteral("Debe seleccionar una biblioteca para la cual desea generar el archivo de "
                               "actualización del acervo")};
    case RechazoExportacion::BibliotecaNoValida:
        return {QStringLiteral("Error en ID de Biblioteca"),
                QStringLiteral("El valor de la Biblioteca seleccionada no es válido")};
    case RechazoExportacion::SinCarpeta:
        return {QStringLiteral("No existe la carpeta destino"),
                QStringLiteral("No se ha localizado la carpeta que se ha indicado como destino para el archivo de "
                               "exportación.") +
                    kCrLf + QStringLiteral("Por favor cerciórese de que la carpeta seleccionada existe.")};
    case RechazoExportacion::FechasInvertidas:
        return {QStringLiteral("Error en rango de fechas"),
                QStringLiteral("El rango de fechas indicado no es apropiado,") + kCrLf +
                    QStringLiteral("Verifique que la segunda fecha sea mayor que la primera.")};
    }
    return {};
}

Aviso avisoSinHerramientas(const QString& versionServidor) {
    return {QStringLiteral("Error de compatibilidad de la base de datos"),
            QStringLiteral("La versión de postrgreSQL local, no es compatible con") + kCrLf +
                QStringLiteral("la versión instalada en el servidor.") + kCrLf + kCrLf +
                QStringLiteral("Instale localmente la versión ") + versionServidor};
}

std::optional<QString> lineaConteo(const QString& tabla) {
    const QString etiqueta = etiquetaConteo(tabla);
    if (tabla.isEmpty()) {
        return std::nullopt;
    }
    const sql::Valor cuenta =
        events::esperar([&] { return sql::valor(QStringLiteral("SELECT count(*) as Cant FROM ") + tabla); });
    if (!cuenta.ok()) {
        return err::textoParaUsuario(QStringLiteral("No se pudieron contar las filas de ") + tabla + QLatin1Char('.'),
                                     cuenta.error) +
               kCrLf;
    }
    if (etiqueta.isEmpty()) {
        return std::nullopt;
    }
    return etiqueta + (cuenta.hayFila ? cuenta.texto() : QStringLiteral("0")) + kCrLf;
}

ResultadoPreparacion prepararExportacion(const Seleccion& sel, const QString& version, const InterfazExportacion& ui) {
    QString errorLocal;
    auto correr = [&](const QString& sql) {
        return ui.sentencia ? ui.sentencia(sql, errorLocal) : ejecutarSentencia(sql, errorLocal);
    };
    int general = 1;
    avanceGeneral(ui, general, 16);

    bool exito = true;
    QString errores;
    // The bookkeeping of one step: the success flag, the error list, the status, the bar, the count line.
    auto paso = [&](const QString& codigo, bool resultado, const QString& tablaConteo) {
        exito = exito && resultado;
        if (!resultado) {
            errores += codigo + kCrLf + errorLocal;
        }
        estado(ui, codigo);
        avanceGeneral(ui, ++general);
        if (const auto linea = lineaConteo(tablaConteo)) {
            registro(ui, *linea);
        }
    };

    // The stamp.
    exito = correr(sqlEstampa(version));

    // [01] The records, the library's analytic records and the marker record.
    bool r01 = correr(sqlFichas(sel));
    if (r01 && !sel.veliro6) {
        r01 = correr(sqlAnaliticas(sel.nBib));
    }
    if (r01) {
        const sql::Valor marcador = events::esperar([] { return sql::valor(sqlIdfichaMarcador()); });
        if (!marcador.ok()) {
            errorLocal = marcador.error;
            r01 = correr(sqlMarcador(QString(), sel.nBib));
        } else if (!marcador.valor) {
            r01 = false;
            errorLocal = QStringLiteral("No se encontraron fichas de la biblioteca en el periodo indicado") + kCrLf;
        } else {
            r01 = correr(sqlMarcador(*marcador.valor, sel.nBib));
        }
    }
    paso(QStringLiteral("[01]"), r01, QStringLiteral("analisis.zexporta_aafichas"));

    // [02] The items.
    paso(QStringLiteral("[02]"), correr(sqlEjemplares(sel)), QStringLiteral("analisis.zexporta_bejemplares"));

    if (sel.veliro6) {
        ResultadoPreparacion r;
        r.aviso = renumerarFichas(ui);
        if (!r.aviso.isEmpty()) {
            return r;
        }
    } else {
        // [03] to [012].
        paso(QStringLiteral("[03]"), correr(sqlEjemplaresDpi(sel.nBib)), QString());
        const bool conEnlaces = events::esperar([] {
            return ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"));
        });
        if (!conEnlaces) {
            paso(QStringLiteral("[04]"), correr(sqlColumnasEnlace()), QString());
            registro(ui, QStringLiteral("Actualizando estructura tabla etiquetas MARC"));
        } else {
            estado(ui, QStringLiteral("[04]"));
        }
        paso(QStringLiteral("[05]"), correr(sqlEnlazarEtiquetas(sel.nBib)), QString());
        registro(ui, QStringLiteral("Enlazando etiquetas MARC con autoridades"));
        paso(QStringLiteral("[06]"), correr(sqlEtiquetas()), QStringLiteral("analisis.zexporta_betiquetasmarc"));
        bool r07 = correr(sqlIndizado());
        if (r07) {
            r07 = correr(sqlIndizadoBiblioteca(sel.nBib));
        }
        paso(QStringLiteral("[07]"), r07, QStringLiteral("analisis.zexporta_bindizado"));
        paso(QStringLiteral("[07a]"), correr(sqlEnvios()), QStringLiteral("analisis.zexporta_cenviosdpi"));
        paso(QStringLiteral("[07b]"), correr(sqlRecepciones()), QStringLiteral("analisis.zexporta_crecepcionesdpi"));
        paso(QStringLiteral("[08]"), correr(sqlAutoridades()), QStringLiteral("analisis.zexporta_dautoridades"));
        paso(QStringLiteral("[09]"), correr(sqlReferencias()), QStringLiteral("analisis.zexporta_dreferencias"));
        paso(QStringLiteral("[010]"), correr(sqlHoldings()), QString());
        paso(QStringLiteral("[011]"), correr(sqlEscuelas()), QString());
        paso(QStringLiteral("[012]"), correr(sqlBibliotecas()), QString());
    }

    ResultadoPreparacion r;
    if (!exito) {
        r.fin = FinPreparacion::FallaEstructura;
        r.aviso =
            QStringLiteral("Ocurrió un error al generar la estructura temporal para la exportación de registros") +
            kCrLf + errores;
        return r;
    }
    r.fin = FinPreparacion::Preparada;
    return r;
}

QString renumerarFichas(const InterfazExportacion& ui) {
    QString errorLocal;
    const bool numerados = ui.sentencia ? ui.sentencia(sqlFichaNoEnEjemplares(), errorLocal)
                                        : ejecutarSentencia(sqlFichaNoEnEjemplares(), errorLocal);
    if (!numerados) {
        return QStringLiteral("Error al actualizar ficha_no") + kCrLf + errorLocal;
    }
    const sql::Filas filas = consultar(sqlListaRenumerar());
    if (!filas.ok()) {
        return err::textoParaUsuario(QStringLiteral("No se pudo leer la lista de ejemplares a renumerar."),
                                     filas.error);
    }
    db::Recordset* lista = filas.rs.get();
    // Each row is compared with the one read just before it, as read (not as renumbered).
    QString fichaAnterior = QStringLiteral("0");
    QString idfichaAnterior = QStringLiteral("0");
    for (; !lista->eof(); lista->moveNext()) {
        const QString fichaNo = lista->text(QStringLiteral("ficha_no"));
        const QString idficha = lista->text(QStringLiteral("idficha"));
        if (fichaNo == fichaAnterior && idficha != idfichaAnterior) {
            // The highest number is read afresh for every record renumbered.
            const bool hecho = events::esperar([&] {
                const sql::Valor maximo = sql::valor(sqlMaximoFichaNo());
                bool ok = false;
                const qint64 nuevo = maximo.texto().toLongLong(&ok) + 1;
                return ok && sql::ejecutar(sqlRenumerar(nuevo, idficha)).ok();
            });
            if (!hecho) {
                aviso(ui, std::nullopt, QStringLiteral("No se actualizó la ficha ") + fichaNo);
            }
        }
        fichaAnterior = fichaNo;
        idfichaAnterior = idficha;
    }
    return QString();
}

ResultadoArchivo escribirVolcado(const QString& carpetaBin, const QString& carpeta, int nBib, const QString& version,
                                 const InterfazExportacion& ui) {
    const SessionState& s = sesion();
    const QString archivo = archivoExportacion(carpeta, nBib, version);
    ResultadoArchivo r;
    // The password reaches pg_dump through its environment only; the dump is judged by pg_dump's own
    // outcome: one that failed after writing part of its file is no export.
    const ResultadoVolcado v =
        volcarExportacion({carpetaBin, s.ServidorSesion, s.PuertoSesion, s.UsuarioSesion, s.ClaveSesion, archivo},
                          [&ui] { avanceGeneral(ui, 16); });
    if (!v.ok()) {
        if (v.falla == FallaVolcado::SinArchivo) {
            r.titulo = QStringLiteral("Error critico");
            r.mensaje = fallo(QStringLiteral("No se generó el archivo 'dump' de exportación"));
        } else {
            r.titulo = QStringLiteral("Error");
            r.mensaje = fallo(QStringLiteral("Error al generar archivo 'dump' de exportación") +
                              (v.detalle.isEmpty() ? QString() : kCrLf + QStringLiteral("Detalle: ") + v.detalle));
        }
        return r;
    }
    r.ok = true;
    r.archivo = v.archivo;
    r.titulo = QStringLiteral("Exportacion exitosa");
    QString texto =
        QStringLiteral("El archivo de exportacion se ha generado con exito, en") + kCrLf + v.archivo +
        (v.empacado ? QString() : QStringLiteral(", pero se ha generado un error al intentar compactarlo."));
    if (!v.nombreOcupado.isEmpty()) {
        texto += kCrLf + kCrLf + textoNombreOcupado(v.nombreOcupado);
    }
    r.mensaje = fallo(texto, Gravedad::Informacion);
    return r;
}

} // namespace v7::acervo
