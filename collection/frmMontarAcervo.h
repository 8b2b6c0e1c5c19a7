// The export window: one library's collection for a date window, copied into the staging tables
// and written as the dump file the library's server imports, or as the previous generation's file.
#pragma once

#include "collection/ac8.h"
#include "collection/corrida_exportacion.h"

#include <QDialog>
#include <QString>

#include <memory>

class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;

namespace v7 {

class MyButton;
class MyFrame;

class frmMontarAcervo : public QDialog {
    Q_OBJECT

public:
    explicit frmMontarAcervo(QWidget* parent = nullptr);
    ~frmMontarAcervo() override;

    // The values of the current run.
    int nBib = 0;
    QString sFecha1, sFecha2;
    QString strVersionAct;
    QString errorLocal;

    // The export file last written (the .zip, or the .backup when packing failed); empty after a
    // failed dump.
    QString archivoExportado() const { return m_archivoExportado; }

    void OptFormato_Click(int Index);
    void cmdBrowse_Click();
    void cmdRegresar_Click();
    void cmdCreaTablas_Click();
    void creaArchivoDUMP_Click();
    void cmdArchivoDUMP_V6_Click();

    // Runs one statement on a connection of its own while the window stays live; elPBar keeps
    // moving meanwhile. recordsAFectados is not used. On failure MsgError gets one line per error.
    bool executeSQLasync(const QString& sql, QProgressBar* elPBar, int recordsAFectados, QString& MsgError);
    // The count line of a staging table, on top of the box.
    void ImprimeLog(const QString& queTabla, QPlainTextEdit* queTextBox);

    // The previous generation's file and its two tables; a failure is shown and gives false. The
    // two table definitions act on the file that dbExportacion holds open.
    bool Create_Database(const QString& strDBPath);
    ac8::Resultado Create_TableEjemplares();
    ac8::Resultado Create_TableFichas();
    // A record's fixed data and packed tags; false when its tags could not be read (error says why).
    bool GetTagsMARCV6(qint64 queIDficha, QString& strDatosFijos, QString& strTagsMARC, QString* error = nullptr);

public slots:
    void reject() override;

private:
    void construir();
    void Form_Load();
    // The run's progress, log and boxes on this window's controls.
    acervo::InterfazExportacion interfaz();
    QString elegirArchivoAc8();
    // Both bars back at 1 and the status texts cleared.
    void cierreAc8();

    QString m_archivoExportado;
    std::unique_ptr<ac8::ArchivoAcervo> dbExportacion;

    MyFrame* panelConfig = nullptr;
    QLabel* Label5 = nullptr;
    QRadioButton* OptFormato0 = nullptr;
    QRadioButton* OptFormato1 = nullptr;
    QLabel* picV7toV7 = nullptr;
    QLabel* picV7toV6 = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* cboBibliotecas = nullptr;
    QLabel* Label8 = nullptr;
    QFrame* frameFechas = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QDateEdit* dFecha1 = nullptr;
    QLabel* Label3 = nullptr;
    QDateEdit* dFecha2 = nullptr;
    QFrame* frameRuta = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtRuta = nullptr;
    MyButton* cmdBrowse = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblServerIP = nullptr;
    QGroupBox* frmProgress = nullptr;
    QLabel* lblEstatusGlobal = nullptr;
    QProgressBar* PBarGral = nullptr;
    QLabel* lblEstatus = nullptr;
    QProgressBar* PBar1 = nullptr;
    QPlainTextEdit* txtLog = nullptr;
    QGroupBox* frameLOG = nullptr;
    QPlainTextEdit* txtERR = nullptr;
    MyButton* cmdCreaTablas = nullptr;
    MyButton* cmdRegresar = nullptr;
    MyButton* creaArchivoDUMP = nullptr;
    MyButton* cmdArchivoDUMP_V6 = nullptr;
};

} // namespace v7
