#include "collection/escritura_ac8.h"

#include "core/consultas.h"
#include "core/errores.h"
#include "core/sqlutil.h"
#include "platform/events.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace v7::acervo {

using err::kCrLf;

namespace {

// How long one slice of rows works off the windows' thread before the bars are moved.
constexpr int kTrozoMs = 50;

QString horaLog() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The rows of a staged read, written in slices off the windows' thread; each row gives its log lines.
// fila returns whether the row was written; the specific bar moves after each slice.
template <typename Fila> void escribirFilas(db::Recordset& rs, const InterfazExportacion& ui, Fila&& fila) {
    int hechas = 1;
    while (!rs.eof()) {
        QStringList lineas;
        events::esperarEnHilo([&] {
            QElapsedTimer t;
            t.start();
            while (!rs.eof() && t.elapsed() < kTrozoMs) {
                fila(rs, lineas);
                rs.moveNext();
                ++hechas;
            }
        });
        if (ui.error) {
            for (const QString& l : lineas) {
                ui.error(l);
            }
        }
        if (ui.avanceEspecifico) {
            ui.avanceEspecifico(hechas, 0);
        }
    }
}

QStringList lineasRecorte(const QString& marca, const QString& fichaNo, const QVector<ac8::Recorte>& recortes) {
    QStringList l;
    for (const ac8::Recorte& c : recortes) {
        l << horaLog() + marca + fichaNo + QStringLiteral(" <") + c.campo + QStringLiteral(" recortado a ") +
                 QString::number(c.tamano) + QStringLiteral("> ") + c.original;
    }
    return l;
}

} // namespace

ac8::Resultado definirTablaEjemplares(ac8::ArchivoAcervo& archivo) {
    return archivo.definir(ac8::tablaEjemplares());
}

ac8::Resultado definirTablaFichas(ac8::ArchivoAcervo& archivo) {
    return archivo.definir(ac8::tablaFichas());
}

ac8::Resultado crearArchivoAc8(const QString& ruta) {
    const std::unique_ptr<ac8::ArchivoAcervo> archivo = ac8::nuevoArchivoAcervo();
    ac8::Resultado r = archivo->crear(ruta);
    if (r.ok()) {
        r = definirTablaEjemplares(*archivo);
    }
    if (r.ok()) {
        r = definirTablaFichas(*archivo);
    }
    const ac8::Resultado cierre = archivo->cerrar();
    return r.ok() ? cierre : r;
}

QString textoFallaAc8(const ac8::Resultado& r) {
    return QString::number(r.numero) + kCrLf + kCrLf + r.descripcion;
}

bool liberarDestinoAc8(const QString& ruta) {
    const QFileInfo info(ruta);
    if (!info.exists() && !info.isSymLink()) {
        return true;
    }
    // A link or a folder at the name is not a file to replace.
    return !info.isSymLink() && info.isFile() && QFile::remove(ruta);
}

bool etiquetasV6(qint64 idficha, QString& datosFijos, QString& etiquetas, QString* error,
                 std::optional<bool> conEnlaces) {
    datosFijos.clear();
    etiquetas.clear();
    QVector<ac8::FilaEtiqueta> filas;
    if (idficha > 0) {
        if (!conEnlaces) {
            conEnlaces =
                ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"));
        }
        const sql::Filas leidas = sql::filas(sqlEtiquetasV6(idficha, *conEnlaces));
        if (!leidas.ok()) {
            // A record without its tags is not written as if it had none.
            if (error != nullptr) {
                *error = leidas.error;
            }
            return false;
        }
        for (db::Recordset* rs = leidas.rs.get(); !rs->eof(); rs->moveNext()) {
            filas.push_back({rs->text(QStringLiteral("numetiqueta")).toInt(), rs->text(QStringLiteral("data"))});
        }
    }
    etiquetas = ac8::empacarEtiquetas(filas, datosFijos);
    return true;
}

void textoCierreAc8(ResultadoAc8& r) {
    if (!r.conDetalles()) {
        r.titulo = QStringLiteral("Archivo de exportación generado!!!");
        r.mensaje = fallo(QStringLiteral("Exportación exitosa"), Gravedad::Informacion);
        return;
    }
    const QString inicio =
        QStringLiteral("El proceso de Exportación ha terminado,") + QStringLiteral("sin embargo se identificaron ");
    QStringList partes;
    if (r.fichasFuera > 0) {
        partes << inicio + QString::number(r.fichasFuera) +
                      QStringLiteral(" ficha(s) que aparentemente estan duplicadas y que no se incluirán en este "
                                     "paquete");
    }
    if (r.ejemplaresFuera > 0) {
        partes << (r.fichasFuera > 0 ? QStringLiteral("Tampoco se incluirán ") + QString::number(r.ejemplaresFuera) +
                                           QStringLiteral(" ejemplar(es).")
                                     : inicio + QString::number(r.ejemplaresFuera) +
                                           QStringLiteral(" ejemplar(es) que no se incluirán en este paquete"));
    }
    if (r.filasRecortadas > 0) {
        const QString recorte = QString::number(r.filasRecortadas) +
                                QStringLiteral(" fila(s) se recortaron textos más largos que su campo; el log de "
                                               "errores los detalla.");
        partes << (partes.isEmpty()
                       ? QStringLiteral("El proceso de Exportación ha terminado, sin embargo en ") + recorte
                       : QStringLiteral("En ") + recorte);
    }
    partes << r.lecturasFallidas;
    r.titulo = QStringLiteral("Archivo de exportación generado con detalles!!!");
    r.mensaje = fallo(partes.join(kCrLf), r.lecturasFallidas.isEmpty() ? Gravedad::Informacion : Gravedad::Aviso);
}

ResultadoAc8 escribirAc8(const QString& ruta, int nBib, const InterfazExportacion& ui) {
    ResultadoAc8 r;
    auto general = [&](int valor, int maximo = 0) {
        if (ui.avanceGeneral) {
            ui.avanceGeneral(valor, maximo);
        }
    };
    auto estado = [&](const QString& texto) {
        if (ui.estado) {
            ui.estado(texto);
        }
    };
    auto especifico = [&](int valor, int maximo) {
        if (ui.avanceEspecifico) {
            ui.avanceEspecifico(valor, maximo);
        }
    };

    general(1, 5);
    estado(QStringLiteral("Creando contenedor AC8..."));
    if (const ac8::Resultado creado = events::esperar([&] { return crearArchivoAc8(ruta); }); !creado.ok()) {
        if (ui.aviso) {
            ui.aviso(Gravedad::Error, textoFallaAc8(creado), QString());
        }
        r.titulo = QStringLiteral("Error al exportar acervo");
        r.mensaje = fallo(QStringLiteral("No se pudo crear el archivo con la exportación"));
        return r;
    }
    const std::unique_ptr<ac8::ArchivoAcervo> archivo = ac8::nuevoArchivoAcervo();
    if (const ac8::Resultado abierto = archivo->abrir(ruta); !abierto.ok()) {
        // This box has always carried the information mark.
        r.titulo = QStringLiteral("Error en Exportación de acervo");
        r.mensaje = fallo(QStringLiteral("No se pudo abrir el archivo AC8 para el vaciado de los datos"),
                          Gravedad::Informacion);
        return r;
    }
    r.creado = true;
    const bool conEnlaces = events::esperar([] {
        return ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"));
    });

    // Items.
    general(2);
    estado(QStringLiteral("Recuperando información de ejemplares a exportar..."));
    const sql::Filas ejemplaresLeidos = events::esperar([&] { return sql::filas(sqlEjemplaresV6(nBib)); });
    db::Recordset* ejemplares = ejemplaresLeidos.rs.get();
    if (!ejemplaresLeidos.ok()) {
        r.lecturasFallidas << err::textoParaUsuario(
            QStringLiteral("No se pudo leer la información de ejemplares a exportar:"), ejemplaresLeidos.error);
    } else {
        especifico(1, ejemplares->recordCount() + 1);
        general(3);
        estado(QStringLiteral("Exportando ejemplares ..."));
        escribirFilas(*ejemplares, ui, [&](const db::Recordset& fila, QStringList& lineas) {
            QVector<ac8::Recorte> recortes;
            const QString fichaNo = fila.text(QStringLiteral("ficha_no"));
            const ac8::Resultado e =
                archivo->ejecutar(ac8::insertEjemplar(fila, QDateTime::currentDateTime(), recortes));
            if (!e.ok()) {
                // An item number longer than its key is refused by the file (never cut into another's).
                ++r.ejemplaresFuera;
                lineas << horaLog() + QStringLiteral(" >EE ") + fichaNo + QStringLiteral(" <") +
                              QString::number(e.numero) + QStringLiteral("> ") + fila.text(QStringLiteral("no_adqui"));
            } else if (!recortes.isEmpty()) {
                ++r.filasRecortadas;
                lineas << lineasRecorte(QStringLiteral(" >EE "), fichaNo, recortes);
            }
        });
    }

    // Records.
    estado(QStringLiteral("Recuperando información de fichas a exportar..."));
    const sql::Filas fichasLeidas = events::esperar([&] { return sql::filas(sqlFichasV6(nBib)); });
    db::Recordset* fichas = fichasLeidas.rs.get();
    if (!fichasLeidas.ok()) {
        r.lecturasFallidas << err::textoParaUsuario(
            QStringLiteral("No se pudo leer la información de fichas a exportar:"), fichasLeidas.error);
    } else {
        general(4);
        especifico(1, fichas->recordCount() + 1);
        estado(QStringLiteral("Exportando fichas ..."));
        escribirFilas(*fichas, ui, [&](const db::Recordset& fila, QStringList& lineas) {
            const QString fichaNo = fila.text(QStringLiteral("ficha_no"));
            const QString cola = QStringLiteral("> ") + fila.text(QStringLiteral("titulo")) + QLatin1Char('/') +
                                 fila.text(QStringLiteral("autor"));
            QString datosFijos;
            QString etiquetas;
            QString errorEtiquetas;
            if (!etiquetasV6(fila.text(QStringLiteral("idficha")).toLongLong(), datosFijos, etiquetas, &errorEtiquetas,
                             conEnlaces)) {
                ++r.fichasFuera;
                lineas << horaLog() + QStringLiteral(" >EF ") + fichaNo + QStringLiteral(" <") +
                              QString::number(db::kProviderErrorNumber) + cola + QLatin1Char(' ') +
                              err::detalleDelServidor(errorEtiquetas).section(QLatin1Char('\n'), 0, 0).simplified();
                return;
            }
            QVector<ac8::Recorte> recortes;
            const ac8::Resultado e = archivo->ejecutar(
                ac8::insertFicha(fila, datosFijos, etiquetas, QDateTime::currentDateTime(), recortes));
            if (!e.ok()) {
                ++r.fichasFuera;
                lineas << horaLog() + QStringLiteral(" >EF ") + fichaNo + QStringLiteral(" <") +
                              QString::number(e.numero) + cola;
            } else if (!recortes.isEmpty()) {
                ++r.filasRecortadas;
                lineas << lineasRecorte(QStringLiteral(" >EF "), fichaNo, recortes);
            }
        });
    }

    general(5);
    if (const ac8::Resultado cierre = events::esperar([&] { return archivo->cerrar(); }); !cierre.ok()) {
        r.lecturasFallidas << QStringLiteral("No se pudo guardar el archivo: ") + QString::number(cierre.numero) +
                                  QLatin1Char(' ') + cierre.descripcion;
    }
    textoCierreAc8(r);
    return r;
}

} // namespace v7::acervo
