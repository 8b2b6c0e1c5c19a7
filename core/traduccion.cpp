#include "core/traduccion.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDate>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>

namespace v7 {

namespace {

// The variables Qt reads for the machine's locale.
const char* const kVariablesLocale[] = {"LC_ALL",      "LC_NUMERIC",     "LC_TIME",    "LC_MONETARY",
                                        "LC_MESSAGES", "LC_MEASUREMENT", "LC_COLLATE", "LANG"};

const char kLatinoamericano[] = "es_MX.UTF-8";

// The machine's locale name when it is Spanish ("es_AR.UTF-8"), else empty.
QByteArray localeEspanolDelEntorno() {
    for (const char* v : {"LC_ALL", "LC_TIME", "LANG"}) {
        const QByteArray valor = qgetenv(v);
        if (!valor.isEmpty()) {
            return valor.startsWith("es_") || valor == "es" ? valor : QByteArray();
        }
    }
    return QByteArray();
}

// Qt texts that its Spanish translation lacks (contexts renamed in Qt 6), as the file dialog shows them.
class TraductorPropio : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        struct Texto {
            const char* contexto;
            const char* original;
            const char* espanol;
        };
        static const Texto textos[] = {
            {"QAbstractFileIconProvider", "Folder", "Carpeta"},
            {"QAbstractFileIconProvider", "File Folder", "Carpeta de archivos"},
            {"QAbstractFileIconProvider", "Drive", "Unidad"},
            {"QAbstractFileIconProvider", "Shortcut", "Acceso directo"},
            {"QAbstractFileIconProvider", "Unknown", "Desconocido"},
        };
        if (context == nullptr || sourceText == nullptr) {
            return QString();
        }
        for (const Texto& t : textos) {
            if (qstrcmp(context, t.contexto) == 0 && qstrcmp(sourceText, t.original) == 0) {
                return QString::fromUtf8(t.espanol);
            }
        }
        return QString();
    }
};

} // namespace

void prepararLocaleEspanol() {
    QByteArray espanol = localeEspanolDelEntorno();
    if (espanol.isEmpty()) {
        espanol = kLatinoamericano;
    }
    struct Guardada {
        const char* nombre;
        bool habia;
        QByteArray valor;
    };
    QList<Guardada> guardadas;
    for (const char* v : kVariablesLocale) {
        guardadas.append({v, qEnvironmentVariableIsSet(v), qgetenv(v)});
        qunsetenv(v);
    }
    qputenv("LC_ALL", espanol);
    // Qt keeps what it read now for the whole run.
    (void)QLocale::system().toString(QDate(2000, 1, 1));
    for (const Guardada& g : guardadas) {
        if (g.habia) {
            qputenv(g.nombre, g.valor);
        } else {
            qunsetenv(g.nombre);
        }
    }
}

QLocale localeEspanol() {
    const QByteArray propio = localeEspanolDelEntorno();
    if (!propio.isEmpty()) {
        const QLocale l(
            QString::fromLatin1(propio.left(propio.indexOf('.') < 0 ? propio.size() : propio.indexOf('.'))));
        if (l.language() == QLocale::Spanish) {
            return l;
        }
    }
    return QLocale(QLocale::Spanish, QLocale::Mexico);
}

bool cargarTraduccionesQt() {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    auto* traductor = new QTranslator(app);
    const bool qt = traductor->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                    QCoreApplication::installTranslator(traductor);
    if (!qt) {
        delete traductor;
    }
    // Installed last, asked first: it answers only for its own few texts.
    static TraductorPropio* propio = nullptr;
    if (propio == nullptr) {
        propio = new TraductorPropio(app);
        QCoreApplication::installTranslator(propio);
    }
    return qt;
}

bool usarEspanol() {
    QLocale::setDefault(localeEspanol());
    return cargarTraduccionesQt();
}

} // namespace v7
