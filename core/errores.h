// The error numbers that messages show, by name: the numbers the system's boxes have always named,
// so an administrator's notes and the help desk's lists still apply.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace v7::err {

inline constexpr int kLlamadaNoValida = 5;      // invalid procedure call or argument
inline constexpr int kDesbordamiento = 6;       // overflow (a number out of range)
inline constexpr int kSubindice = 9;            // subscript out of range (nothing found where a list was expected)
inline constexpr int kTiposNoCoinciden = 13;    // type mismatch (not a date, not a number)
inline constexpr int kArchivoNoEncontrado = 53; // file not found
inline constexpr int kArchivoYaAbierto = 55;    // file already open
inline constexpr int kArchivoYaExiste = 58;     // file already exists
inline constexpr int kDiscoLleno = 61;          // disk full
inline constexpr int kLeerFinArchivo = 62;      // input past end of file (a tool printed nothing)
inline constexpr int kPermisoDenegado = 70;     // permission denied
inline constexpr int kErrorAccesoRuta = 75;     // path/file access error (a folder or link where a file belongs)
inline constexpr int kRutaNoEncontrada = 76;    // path not found
inline constexpr int kUsoNoValidoNull = 94;     // invalid use of Null
inline constexpr int kObjetoCerrado = 3704;     // operation not allowed on a closed object
inline constexpr int kClaveDuplicada = 3022;    // duplicate value in a unique index (the export file)
inline constexpr int kCampoRequerido = 3314;    // required field is empty (the export file)

// The connection did not open in time.
inline constexpr int kErrorEsperaConexion = 5000;

// The text the system's boxes give each of the numbers above ("" for others).
QString descripcion(int numero);

} // namespace v7::err

namespace v7::err {

// Line ends of the texts that message boxes and the design's files show.
inline const QString kCrLf = QStringLiteral("\r\n");

// The Spanish sentence that says what went wrong with a statement, told from its SQLSTATE: another
// session holds the data, the server took too long, the connection is gone, permission is missing, a
// value is too long or repeated… Empty when the state has none.
QString fraseDeSqlState(const QString& sqlState);

// The same told from an error text of the SQL layer (the server's words, English or Spanish, as the
// server's lc_messages gives them). Empty when nothing known is found.
QString fraseDeErrorSql(const QString& errorText);

// The server's own words in an error text of the SQL layer: the description without the driver's prefixes,
// the routine's line and the statement (which may hold values that are nobody's business on screen).
QString detalleDelServidor(const QString& errorText);

// A failure as the user reads it: what could not be done (a Spanish sentence), why (fraseDeErrorSql, when
// one is known) and then "Detalle del servidor: " with the server's own words. Never the statement.
QString textoParaUsuario(const QString& queNoSeHizo, const QString& errorText);

} // namespace v7::err

namespace v7 {

// How serious a failure is; the windows choose the message box's icon from it in one place
// (core/fallos_ui.h), so routines never pick icons.
enum class Gravedad {
    Informacion, // nothing went wrong, but the user must know (a refusal that changed nothing)
    Aviso,       // done in part, or refused for a reason the user can mend
    Error,       // not done
};

// One failure: its severity and the text the user reads (Spanish sentence first).
struct Fallo {
    Gravedad gravedad = Gravedad::Error;
    QString texto;
};

// The result of a routine: a value, or a failure. Resultado<void> carries only the failure.
template <typename T = void> class [[nodiscard]] Resultado {
public:
    Resultado(T valor) : m_valor(std::move(valor)) {}
    Resultado(Fallo fallo) : m_fallo(std::move(fallo)) {}

    bool ok() const { return m_valor.has_value(); }
    const T& valor() const { return *m_valor; }
    T& valor() { return *m_valor; }
    const Fallo& fallo() const { return m_fallo; }

private:
    std::optional<T> m_valor;
    Fallo m_fallo;
};

template <> class [[nodiscard]] Resultado<void> {
public:
    Resultado() = default;
    Resultado(Fallo fallo) : m_fallo(std::move(fallo)), m_ok(false) {}

    bool ok() const { return m_ok; }
    const Fallo& fallo() const { return m_fallo; }

private:
    Fallo m_fallo;
    bool m_ok = true;
};

inline Fallo fallo(const QString& texto, Gravedad gravedad = Gravedad::Error) {
    return Fallo{gravedad, texto};
}

} // namespace v7

namespace v7::err {

// The lead-ins of the designed "Ocurrió el error…" texts, as each message has always written it.
inline const QString kOcurrioErrorNo = QStringLiteral("Ocurrió el Error No. ");      // + n [" en la línea " l]
inline const QString kOcurrioErrorNoMin = QStringLiteral("Ocurrió el error no. ");   // + n
inline const QString kOcurrioErrorDosPuntos = QStringLiteral("Ocurrió el error: ");  // + n " " description
inline const QString kOcurrioErrorNum = QStringLiteral("Ocurrió el error num. ");    // + n
inline const QString kOcurrioSinAcento = QStringLiteral("Ocurrio el error No. ");    // + n (texts without accents)
inline const QString kOcurrioErrorNoMixto = QStringLiteral("Ocurrió el error No. "); // + n
inline const QString kOcurrioErrorNoDosBlancos = QStringLiteral("Ocurrió el error no.  "); // + n (the probe's box)
inline const QString kOcurrioErrorAlmohadilla = QStringLiteral("Ocurrió el error # ");     // + n " Al intentar …"
inline const QString kHaOcurridoErrorNo = QStringLiteral("Ha ocurrido el Error No.: ");    // + n (staff accounts)

// The one builder of those texts: the lead-in, the number, then each further line after CR LF
// (empty lines kept: some texts leave a blank line before their routine's tag).
QString ocurrio(const QString& encabezado, qint64 numero, const QStringList& lineas = {});

} // namespace v7::err
