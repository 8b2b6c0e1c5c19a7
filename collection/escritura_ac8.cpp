#include "collection/escritura_ac8.h"

#include "collection/volcado.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/archivo_seguro.h"
#include "platform/carpeta_privada.h"
#include "platform/events.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::acervo {

using archivo::Carpeta;
using archivo::CarpetaPrivada;
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

// The file's name while it is built in the work folder: short, so that the engine's journal beside it
// fits whatever name the file gets.
const QString kNombreEnObra = QStringLiteral("acervo.ac8");

// The session's work folder, else this user's own.
QString carpetaDeTrabajo() {
    const QString s = sesion().RutaTemporal;
    return s.isEmpty() ? paths::workFolder() : s;
}

// The path of the folder open in c as the system names it, links resolved: the file engine is given a path
// without any link on it. Empty when it cannot be told.
QString rutaReal(const Carpeta& c) {
    QByteArray destino(PATH_MAX, '\0');
    const ssize_t n =
        ::readlink(QFile::encodeName(c.rutaEstable()).constData(), destino.data(), size_t(destino.size()));
    if (n <= 0 || n >= destino.size() || destino.at(0) != '/') {
        return QString();
    }
    destino.truncate(n);
    return QFile::decodeName(destino);
}

// Copies nombre of de into nuevo, a new file of a with the same mode, through descriptors alone. Empty, or
// the Spanish reason.
QString copiar(const Carpeta& de, const QString& nombre, const Carpeta& a, const QString& nuevo) {
    QString motivo;
    const int origen = de.abrirRegular(nombre, &motivo);
    if (origen < 0) {
        return motivo;
    }
    struct stat st {};
    const int copia = ::fstat(origen, &st) == 0 ? a.crearNuevo(nuevo, st.st_mode & 0777) : -1;
    auto fallar = [&](int e, const QString& ruta) {
        ::close(origen);
        if (copia >= 0) {
            ::close(copia);
        }
        return archivo::motivoDeError(ruta, e);
    };
    if (copia < 0) {
        const int e = errno;
        return fallar(e, a.rutaDe(nuevo));
    }
    // The mode the file was built with, whatever the umask takes away.
    if (::fchmod(copia, st.st_mode & 0777) != 0) {
        const int e = errno;
        return fallar(e, a.rutaDe(nuevo));
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(origen, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            return fallar(e, de.rutaDe(nombre));
        }
        if (n == 0) {
            break;
        }
        for (ssize_t hecho = 0; hecho < n;) {
            const ssize_t m = ::write(copia, buf + hecho, size_t(n - hecho));
            if (m < 0 && errno == EINTR) {
                continue;
            }
            if (m <= 0) {
                const int e = m < 0 ? errno : ENOSPC;
                return fallar(e, a.rutaDe(nuevo));
            }
            hecho += m;
        }
    }
    if (::fsync(copia) != 0) {
        const int e = errno;
        return fallar(e, a.rutaDe(nuevo));
    }
    ::close(origen);
    if (::close(copia) != 0) {
        const int e = errno;
        return archivo::motivoDeError(a.rutaDe(nuevo), e);
    }
    return QString();
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

bool nombreAc8Utilizable(const QString& ruta) {
    struct stat st {};
    // lstat: a link there is no folder, and is never followed (the file goes under a free name instead).
    return ::lstat(QFile::encodeName(ruta).constData(), &st) != 0 || !S_ISDIR(st.st_mode);
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
    const QString ocupado =
        r.nombreOcupado.isEmpty() ? QString() : kCrLf + kCrLf + textoNombreOcupado(r.nombreOcupado, r.archivo);
    if (!r.conDetalles()) {
        r.titulo = QStringLiteral("Archivo de exportación generado!!!");
        r.mensaje = fallo(QStringLiteral("Exportación exitosa") + ocupado, Gravedad::Informacion);
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
    r.mensaje =
        fallo(partes.join(kCrLf) + ocupado, r.lecturasFallidas.isEmpty() ? Gravedad::Informacion : Gravedad::Aviso);
}

namespace {

// Fills the file just created at ruta: its items, then its records. False when it could not be opened
// (r then holds the closing message).
bool llenarAc8(const QString& ruta, int nBib, const InterfazExportacion& ui, ResultadoAc8& r) {
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

    const std::unique_ptr<ac8::ArchivoAcervo> archivo = ac8::nuevoArchivoAcervo();
    if (const ac8::Resultado abierto = archivo->abrir(ruta); !abierto.ok()) {
        // This box has always carried the information mark.
        r.titulo = QStringLiteral("Error en Exportación de acervo");
        r.mensaje = fallo(QStringLiteral("No se pudo abrir el archivo AC8 para el vaciado de los datos"),
                          Gravedad::Informacion);
        return false;
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
    return true;
}

} // namespace

ResultadoAc8 escribirAc8(const QString& ruta, int nBib, const InterfazExportacion& ui) {
    ResultadoAc8 r;
    if (ui.avanceGeneral) {
        ui.avanceGeneral(1, 5);
    }
    if (ui.estado) {
        ui.estado(QStringLiteral("Creando contenedor AC8..."));
    }
    const QFileInfo fi(ruta);
    const QString nombre = fi.fileName();
    const Carpeta destino = Carpeta::abrir(fi.absolutePath());
    auto sinArchivo = [&](const QString& titulo, const Fallo& mensaje) {
        if (destino.ok()) {
            // An earlier file of this name must not pass for this run's output.
            quitarSiEsPropio(destino, nombre);
        }
        r.creado = false;
        r.titulo = titulo;
        r.mensaje = mensaje;
        return r;
    };
    auto noCreado = [&](const ac8::Resultado& falla) {
        if (ui.aviso) {
            ui.aviso(Gravedad::Error, textoFallaAc8(falla), QString());
        }
        return sinArchivo(QStringLiteral("Error al exportar acervo"),
                          fallo(QStringLiteral("No se pudo crear el archivo con la exportación")));
    };
    auto rutaNoValida = [](const QString& motivo) {
        return ac8::Resultado{ac8::kRutaNoValida,
                              QStringLiteral("No es una ruta válida. (") + motivo + QLatin1Char(')')};
    };
    if (!destino.ok()) {
        return noCreado(rutaNoValida(destino.motivo()));
    }
    // Made now, so that a folder that cannot take the file fails the run before any work.
    const CarpetaPrivada entrega(destino, QLatin1Char('.') + nombre.left(32) + QLatin1Char('.'));
    if (!entrega.ok()) {
        return noCreado(rutaNoValida(entrega.carpeta().motivo()));
    }
    // The file engine reaches its file and journal by name: they are built where nobody else can change a
    // folder on the way.
    const Carpeta trabajo = Carpeta::abrir(carpetaDeTrabajo());
    if (!trabajo.ok()) {
        return noCreado(rutaNoValida(trabajo.motivo()));
    }
    const CarpetaPrivada obra(trabajo, QStringLiteral("ac8."));
    const QString carpetaObra = obra.ok() ? rutaReal(obra.carpeta()) : QString();
    if (carpetaObra.isEmpty()) {
        return noCreado(rutaNoValida(obra.ok() ? obra.carpeta().ruta() : obra.carpeta().motivo()));
    }
    const QString enObra = carpetaObra + QLatin1Char('/') + kNombreEnObra;
    if (const ac8::Resultado creado = events::esperar([&] { return crearArchivoAc8(enObra); }); !creado.ok()) {
        return noCreado(creado);
    }
    r.creado = llenarAc8(enObra, nBib, ui, r);

    // The file, as the run left it, goes to its name: copied into the private folder, then moved.
    struct Puesta {
        Colocacion colocacion;
        QString motivo; // why it could not be put in place
    };
    const Puesta puesta = events::esperar([&] {
        Puesta p;
        p.motivo = copiar(obra.carpeta(), kNombreEnObra, entrega.carpeta(), nombre);
        if (p.motivo.isEmpty()) {
            p.colocacion = colocarExportacion(entrega.carpeta(), nombre, destino);
            if (!p.colocacion.ok()) {
                p.motivo = archivo::motivoDeError(destino.rutaDe(nombre), p.colocacion.error);
            }
        }
        return p;
    });
    const Colocacion& colocado = puesta.colocacion;
    if (!puesta.motivo.isEmpty()) {
        return sinArchivo(
            QStringLiteral("Error al exportar acervo"),
            fallo(QStringLiteral("No se pudo crear el archivo con la exportación") + kCrLf + puesta.motivo));
    }
    r.archivo = destino.rutaDe(colocado.nombre);
    if (!colocado.ocupado.isEmpty()) {
        r.nombreOcupado = destino.rutaDe(colocado.ocupado);
    }
    if (r.creado) {
        textoCierreAc8(r);
    }
    return r;
}

} // namespace v7::acervo
