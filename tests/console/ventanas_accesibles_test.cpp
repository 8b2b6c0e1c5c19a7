// Every button of every window of V7Tools has a name that a screen reader says (and a keyboard user can
// look for): its caption, or for a picture button the accessible name it was given.
#include "accounts/FrmUsuarios.h"
#include "catalogues/FrmCatalogos.h"
#include "collection/frmActualizarAcervo.h"
#include "collection/frmMontarAcervo.h"
#include "collection/frmRestaurarAcervo.h"
#include "console/FrmInicio.h"
#include "console/FrmPermisosAcceso.h"
#include "console/FrmRutaTrabajo.h"
#include "console/FrmUsuariosConectados.h"
#include "console/frmGrabaReporte.h"
#include "console/frmModificaReporte.h"
#include "console/reportes.h"
#include "core/FrmIniciarSesion.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/FrmProgTareas.h"
#include "maintenance/FrmResetBD.h"
#include "platform/construir_ui.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace v7;
using namespace v7::test;

namespace {

TEST(VentanasAccesibles, EveryButtonOfEveryWindowHasAName) {
    ServidorPreparado server;
    ASSERT_TRUE(server.iniciarSesion());
    ScriptedDialogs dialogs;
    // This server has no report templates: the two template windows say so once each.
    dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    UbicacionReporte ubicacion;
    struct Ventana {
        const char* nombre;
        std::function<std::unique_ptr<QWidget>()> crear;
    };
    FrmBase baseDeZona;
    const Ventana ventanas[] = {
        {"FrmIniciarSesion", [] { return std::make_unique<FrmIniciarSesion>(); }},
        {"FrmInicio", [] { return std::make_unique<FrmInicio>(); }},
        {"FrmPermisosAcceso", [] { return std::make_unique<FrmPermisosAcceso>(nullptr); }},
        {"FrmUsuariosConectados", [] { return std::make_unique<FrmUsuariosConectados>(); }},
        {"FrmRutaTrabajo", [] { return std::make_unique<FrmRutaTrabajo>(); }},
        {"frmGrabaReporte", [] { return std::make_unique<frmGrabaReporte>(); }},
        {"frmModificaReporte", [&] { return std::make_unique<frmModificaReporte>(ubicacion); }},
        {"FrmBase", [] { return std::make_unique<FrmBase>(); }},
        {"FrmConfigRegional", [&] { return std::make_unique<FrmConfigRegional>(baseDeZona); }},
        {"FrmResetBD", [] { return std::make_unique<FrmResetBD>(); }},
        {"FrmProgTareas", [] { return std::make_unique<FrmProgTareas>(); }},
        {"FrmUsuarios", [] { return std::make_unique<FrmUsuarios>(); }},
        {"FrmCatalogos", [] { return std::make_unique<FrmCatalogos>(); }},
        {"frmActualizarAcervo", [] { return std::make_unique<frmActualizarAcervo>(nullptr); }},
        {"frmMontarAcervo", [] { return std::make_unique<frmMontarAcervo>(); }},
        {"frmRestaurarAcervo", [] { return std::make_unique<frmRestaurarAcervo>(); }},
    };
    for (const Ventana& v : ventanas) {
        std::unique_ptr<QWidget> w = v.crear();
        ASSERT_TRUE(w) << v.nombre;
        EXPECT_GT(w->findChildren<QAbstractButton*>().size(), 0) << v.nombre;
        EXPECT_EQ(ui::botonesSinNombre(w.get()), QStringList()) << v.nombre;
    }
    EXPECT_TRUE(dialogs.allAnswered()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
}

} // namespace
