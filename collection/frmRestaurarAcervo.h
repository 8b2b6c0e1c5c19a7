// The import window on a library's own server: loads the collection export dump made for this library,
// checks it against this server and merges it into the live collection.
#pragma once

#include "platform/guardia_ui.h"

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace v7 {

class MyButton;
class MyFrame;

class frmRestaurarAcervo : public QDialog {
    Q_OBJECT

public:
    explicit frmRestaurarAcervo(QWidget* parent = nullptr);
    ~frmRestaurarAcervo() override;

    // True when this server had no installed update when the file was loaded.
    bool blnPrimeraActAcervo = false;

    void cmdBrowse_Click();
    // Load, checks and, when they pass, the merge.
    void cmdCargar_Click();
    // The merge of the loaded file (the load runs it; its button stays disabled).
    void cmdActualizar_Click();
    // The counts of the merged collection; with quitaEstatusEspecial also the closing steps of an
    // import (installed stamp, the outcome boxes). tInicial is not used.
    void resultadoEstadisticoMontaje(bool quitaEstatusEspecial, const QDateTime& tInicial);
    void cmdRegresar_Click();

public slots:
    void reject() override;

private:
    void construir();
    void Form_Load();
    // A log entry on top of the log, after the local date and time.
    void registrar(const QString& entrada);
    // The merge; a failing query before psql runs is thrown to the caller's error report.
    void actualizar();
    void bloquear();
    void desbloquear();
    // The folder of the chosen file.
    QString carpetaArchivo() const;

    std::optional<GuardiaVentana> m_guardia;
    QString m_versionCargada; // the loaded file's stamp (the merge drops its table)

    QLabel* ImgCabecera = nullptr;
    MyFrame* panelConfig = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblServerIP = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtRuta = nullptr;
    MyButton* cmdBrowse = nullptr;
    QLabel* lblRuta = nullptr;
    QLabel* lblAviso = nullptr;
    QPlainTextEdit* txtLog = nullptr;
    MyButton* cmdCargar = nullptr;
    MyButton* cmdActualizar = nullptr;
    MyButton* cmdRegresar = nullptr;
};

} // namespace v7
