#include "core/traduccion.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace v7 {

bool cargarTraduccionesQt() {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    auto* traductor = new QTranslator(app);
    if (!traductor->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(traductor)) {
        delete traductor;
        return false;
    }
    return true;
}

} // namespace v7
