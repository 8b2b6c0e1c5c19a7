// The unattended backup's schedule: the task that starts V7backup (a system crontab file), the
// settings file V7backup reads, the schedule description the schedule window shows, and the check that
// the server typed for the schedule answers.
//
// The task is one line in <cron folder>/RespaldoVELIRO:
//     30 2 * * 1,4 root V7_HOME='/opt/veliro7/' V7_REGISTRY='/etc/veliro7/registry.ini' '/opt/veliro7/V7backup'
// cron runs it with a bare environment, so the line carries the two variables V7backup needs.
#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace v7 {

inline const QString kNombreTarea = QStringLiteral("RespaldoVELIRO");

enum class FrecuenciaRespaldo { Diaria, Semanal, Mensual };

struct ProgramaRespaldo {
    FrecuenciaRespaldo frecuencia = FrecuenciaRespaldo::Diaria;
    // Daily: codes "MON".."SUN" joined by ","; weekly: one code; monthly: the day "1".."31".
    QString dias;
    QTime hora;
};

// The day codes Monday to Sunday, in the order of the window's check boxes and list.
inline const QStringList kCodigosDia = {QStringLiteral("MON"), QStringLiteral("TUE"), QStringLiteral("WED"),
                                        QStringLiteral("THU"), QStringLiteral("FRI"), QStringLiteral("SAT"),
                                        QStringLiteral("SUN")};

// V7_CRON_DIR when set, else /etc/cron.d.
QString carpetaCron();
// carpetaCron() + "/RespaldoVELIRO".
QString rutaTarea();
// The program the task starts: the program folder's V7backup.
QString programaRespaldoAutomatico();
// The program folder's config/logrespaldo.txt and config/v7.respaldo.dat.
QString rutaDescripcionRespaldo();
QString rutaArchivoConfiguracionRespaldo();

// The task's crontab line (without its line end) for a program in carpetaPrograma and the key store
// registro; empty with the reason in error when the schedule or a path cannot be written there.
QString lineaCron(const ProgramaRespaldo& programa, const QString& carpetaPrograma, const QString& registro,
                  QString* error = nullptr);

// Creates the task that starts V7backup from the program folder, replacing one of the same name: empty
// on success, else the reason.
QString AgregarTareaVista(const ProgramaRespaldo& programa);

// Why the session's login or password cannot go into the settings file (a character outside
// Windows-1252, which the scrambler would store as "?"), in Spanish; empty when both can.
QString motivoCredencialesRespaldo();

// The archive V7backup writes for a configured path: "_" and the date (yyyymmdd; "AAAAMMDD" to show the
// pattern) inserted before a final ".zip" in any case; any other path as it is.
QString archivoDelRespaldo(const QString& ruta, const QString& fecha = QStringLiteral("AAAAMMDD"));

// Writes config/v7.respaldo.dat: the session's login and password scrambled (key B, the key V7backup
// reads them with), then server, port and archive path as given, CR LF after each. Atomic, mode 0600 in
// a 0700 config folder. False when it could not be written (nothing half written is left), or when the
// login or password cannot be stored (motivoCredencialesRespaldo).
bool GrabarConfiguracionRespaldo(const QString& servidor, const QString& puerto, const QString& ruta);

// Writes config/logrespaldo.txt: each text followed by CR LF. Empty on success, else the reason.
QString grabarDescripcionRespaldo(const QStringList& textos);
// The lines of config/logrespaldo.txt; nullopt when there is none, or when what is there is not a regular
// file of a sensible size.
std::optional<QStringList> leerDescripcionRespaldo();

// Removes the schedule: the task, then the description and the settings file (a missing one counts as
// removed), and the config folder when that leaves it empty. tareaEliminada is false when the task is
// still in place (nothing else was touched then); error holds each failure.
struct ResultadoEliminacion {
    bool tareaEliminada = false;
    QString error;
};
ResultadoEliminacion eliminarProgramacion();

// Opens and closes a connection to database veliro7 on servidor:puerto with the session's login, as
// V7backup will: empty when it opened, else the driver's reason. Window events run meanwhile.
QString probarConexionRespaldo(const QString& servidor, int puerto);

} // namespace v7
