// A database and machine prepared the way an installed server is: group roles, staff logins and
// their rows, the version row, a key store naming the test cluster's installation and a private
// work folder. Used by the login and console tests.
#pragma once

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QString>

namespace v7::test {

struct Login {
    QString usuario;
    QString clave;
};

// Logins created by prepararServidor(), one per group role.
inline const Login kJefe{QStringLiteral("jefe"), QStringLiteral("pa'ss}w;rd $(x)")}; // v7_super
inline const Login kAdmin{QStringLiteral("adm"), QStringLiteral("admin-clave")};     // v7_admin
inline const Login kOperador{QStringLiteral("usr1"), QStringLiteral("usr1-clave")};  // v7_usuario1

// A fresh session whose shared connection is open as the cluster's superuser: the error text,
// empty on success.
QString conectarSesion();

class ServidorPreparado {
public:
    ServidorPreparado();  // fresh veliro7, roles, rows, key store, TMPDIR
    ~ServidorPreparado(); // environment restored

    const TempDir& carpeta() const { return m_dir; }
    QString registro() const { return m_dir.file(QStringLiteral("registry.ini")); }

    // Logs in without the window: the session filled as the login leaves it; false on failure.
    bool iniciarSesion(const Login& login = kJefe);

private:
    TempDir m_dir;
    QByteArray m_oldTmp, m_oldRegistry, m_oldHome;
};

// A test on a prepared server whose "end the program" calls are recorded instead of taken, and
// whose server runs again afterwards whatever the test did to it.
class PruebaConServidor : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<ServidorPreparado> m_server;
    std::vector<int> m_salidas; // exit codes the program asked for
};

} // namespace v7::test
