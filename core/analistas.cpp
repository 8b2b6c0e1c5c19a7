#include "core/analistas.h"

#include "core/cifrado.h"
#include "core/sqlutil.h"

namespace v7 {

namespace {

const QStringList kCodigosGrupo = {QStringLiteral("111"), QStringLiteral("101"), QStringLiteral("011"),
                                   QStringLiteral("010")};

} // namespace

QString codigoGrupo(const QString& rol) {
    const qsizetype i = kGruposStaff.indexOf(rol);
    return i < 0 ? QString() : kCodigosGrupo.at(i);
}

QString rolDeCodigoGrupo(const QString& codigo) {
    const qsizetype i = kCodigosGrupo.indexOf(codigo);
    return i < 0 ? QString() : kGruposStaff.at(i);
}

QString NombreGrupo(int numero) {
    return numero >= 1 && numero <= kGruposStaff.size() ? kGruposStaff.at(numero - 1) : QString();
}

QString componerTextoPermiso(const QString& contrasena, const QString& codigo, const QString& modulos) {
    QString out = EscaparComillas(contrasena) + QLatin1Char(',');
    if (!codigo.isEmpty()) {
        out += codigo + QLatin1Char(',');
    }
    return out + modulos;
}

TextoPermiso leerTextoPermiso(const QString& plain) {
    TextoPermiso t;
    const qsizetype last = plain.lastIndexOf(QLatin1Char(','));
    if (last < 0) {
        t.modulos = plain;
        return t;
    }
    t.modulos = plain.mid(last + 1);
    QString stored;
    if (last >= 4 && plain.at(last - 4) == QLatin1Char(',')) {
        // Read from the right: the password may itself hold commas.
        stored = plain.left(last - 4);
        t.codigo = plain.mid(last - 3, 3);
    } else {
        const qsizetype first = plain.indexOf(QLatin1Char(','));
        stored = plain.left(first);
        t.codigo = plain.mid(first + 1, 3);
    }
    t.contrasena = stored.replace(QStringLiteral("''"), QStringLiteral("'"));
    return t;
}

QString componerClave(const QString& contrasena, const QString& codigo, const QString& modulos, bool* ok,
                      QString* errorText) {
    return CifrarCadena(componerTextoPermiso(contrasena, codigo, modulos), ok, errorText);
}

TextoPermiso leerClave(const QString& clave, bool useKeyA) {
    return leerTextoPermiso(DescifrarCadena(clave, useKeyA));
}

QString textoModulos(const ModulosAnalista& modulos) {
    QString out;
    for (const bool m : modulos) {
        out += m ? QLatin1Char('1') : QLatin1Char('0');
    }
    return out;
}

ModulosAnalista LeerModulos(const QString& clave) {
    const QString flags = leerClave(clave, false).modulos;
    ModulosAnalista m{};
    for (int i = 0; i < kModulosAnalista; ++i) {
        m[i] = i < flags.size() && flags.at(i) == QLatin1Char('1');
    }
    return m;
}

QString GenerarClaveModulos(const QString& contrasena, int numeroGrupo, const ModulosAnalista& modulos, bool* ok,
                            QString* errorText) {
    return componerClave(contrasena, codigoGrupo(NombreGrupo(numeroGrupo)), textoModulos(modulos), ok, errorText);
}

} // namespace v7
