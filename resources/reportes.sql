-- Report templates and report definitions of the client modules, loaded into schema reportes
-- when an installation stops using the shared work-files folder. Plain inserts, no transaction
-- of its own: the caller runs them inside its own. The collection merge script (the file
-- restaura_acervo.sql) is put in as a literal where the psql-style variable stands.
INSERT INTO reportes.modulos (modulo) VALUES ('Adquisiciones');
INSERT INTO reportes.modulos (modulo) VALUES ('Préstamo');
INSERT INTO reportes.modulos (modulo) VALUES ('Consulta');
INSERT INTO reportes.modulos (modulo) VALUES ('Inventario');
INSERT INTO reportes.modulos (modulo) VALUES ('Análisis');
INSERT INTO reportes.modulos (modulo) VALUES ('Servicios');
INSERT INTO reportes.modulos (modulo) VALUES ('Administración');
INSERT INTO reportes.modulos (modulo) VALUES ('Compartido');
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('5', 'FICHAC', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- FICHAC: Ficha catalográfica -->
  <xsl:template match="/">
    <html>
      <head><title>Ficha catalográfica</title></head>
      <body>
        <h1>Ficha catalográfica</h1>
        <xsl:for-each select="//registro">
          <div class="ficha">
            <p><xsl:value-of select="titulo"/></p>
            <p><xsl:value-of select="autor"/></p>
            <p><xsl:value-of select="pie"/></p>
          </div>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('5', 'FICHAWEB', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- FICHAWEB: Ficha para la web -->
  <xsl:template match="/">
    <html>
      <head><title>Ficha para la web</title></head>
      <body>
        <h1>Ficha para la web</h1>
        <xsl:for-each select="//registro">
          <div class="ficha">
            <p><xsl:value-of select="titulo"/></p>
            <p><xsl:value-of select="autor"/></p>
            <p><xsl:value-of select="pie"/></p>
          </div>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('5', 'FICHAWEB_TABLA', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- FICHAWEB_TABLA: Ficha para la web en tabla -->
  <xsl:template match="/">
    <html>
      <head><title>Ficha para la web en tabla</title></head>
      <body>
        <h1>Ficha para la web en tabla</h1>
        <table border="1">
          <xsl:for-each select="//campo">
            <tr>
              <td><xsl:value-of select="@etiqueta"/></td>
              <td><xsl:value-of select="."/></td>
            </tr>
          </xsl:for-each>
        </table>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('5', 'VISTAMARC', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- VISTAMARC: Vista MARC -->
  <xsl:template match="/">
    <html>
      <head><title>Vista MARC</title></head>
      <body>
        <h1>Vista MARC</h1>
        <table border="1">
          <xsl:for-each select="//campo">
            <tr>
              <td><xsl:value-of select="@etiqueta"/></td>
              <td><xsl:value-of select="."/></td>
            </tr>
          </xsl:for-each>
        </table>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('7', 'RESTAURA_ACERVO', :'restaura_acervo', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('8', 'ESQUEMAREP', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- ESQUEMAREP: Esquema de reportes -->
  <xsl:variable name="separadorRuta">\</xsl:variable>
  <xsl:param name="biblioteca" select="''Biblioteca''"/>
  <xsl:template match="/">
    <html>
      <head><title>Esquema de reportes</title></head>
      <body>
        <h1>Esquema de reportes</h1>
        <p class="encabezado"><xsl:value-of select="//institucion"/></p>
        <xsl:apply-templates/>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('3', 'BIBLIO', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- BIBLIO: Bibliografía -->
  <xsl:template match="/">
    <html>
      <head><title>Bibliografía</title></head>
      <body>
        <h1>Bibliografía</h1>
        <xsl:for-each select="//registro">
          <div class="ficha">
            <p><xsl:value-of select="titulo"/></p>
            <p><xsl:value-of select="autor"/></p>
            <p><xsl:value-of select="pie"/></p>
          </div>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('1', 'DEFAULT_V7', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- DEFAULT_V7: Formato general -->
  <xsl:template match="/">
    <html>
      <head><title>Formato general</title></head>
      <body>
        <h1>Formato general</h1>
        <p class="encabezado"><xsl:value-of select="//institucion"/></p>
        <xsl:apply-templates/>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('2', 'CONSTSI', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- CONSTSI: Constancia de adeudo -->
  <xsl:template match="/">
    <html>
      <head><title>Constancia de adeudo</title></head>
      <body>
        <h1>Constancia de adeudo</h1>
        <p>Se hace constar que <xsl:value-of select="//usuario/nombre"/> <xsl:value-of select="//constancia/texto"/></p>
        <p>Fecha: <xsl:value-of select="//constancia/fecha"/></p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('2', 'CONSTNO', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- CONSTNO: Constancia de no adeudo -->
  <xsl:template match="/">
    <html>
      <head><title>Constancia de no adeudo</title></head>
      <body>
        <h1>Constancia de no adeudo</h1>
        <p>Se hace constar que <xsl:value-of select="//usuario/nombre"/> <xsl:value-of select="//constancia/texto"/></p>
        <p>Fecha: <xsl:value-of select="//constancia/fecha"/></p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('3', 'ESTYLE', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- ESTYLE: Estilo de la consulta -->
  <xsl:template match="/">
    <html>
      <head><title>Estilo de la consulta</title></head>
      <body>
        <h1>Estilo de la consulta</h1>
        <p class="encabezado"><xsl:value-of select="//institucion"/></p>
        <xsl:apply-templates/>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('3', 'FICHA', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- FICHA: Ficha de consulta -->
  <xsl:template match="/">
    <html>
      <head><title>Ficha de consulta</title></head>
      <body>
        <h1>Ficha de consulta</h1>
        <xsl:for-each select="//registro">
          <div class="ficha">
            <p><xsl:value-of select="titulo"/></p>
            <p><xsl:value-of select="autor"/></p>
            <p><xsl:value-of select="pie"/></p>
          </div>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('1', 'ADQSOLRECURSOS', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- ADQSOLRECURSOS: Solicitud de recursos -->
  <xsl:template match="/">
    <html>
      <head><title>Solicitud de recursos</title></head>
      <body>
        <h1>Solicitud de recursos</h1>
        <p>Solicitante: <xsl:value-of select="//solicitud/solicitante"/></p>
        <xsl:for-each select="//solicitud/titulo">
          <p><xsl:value-of select="position()"/>. <xsl:value-of select="."/></p>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('1', 'SOLICITA', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- SOLICITA: Solicitud de adquisición -->
  <xsl:template match="/">
    <html>
      <head><title>Solicitud de adquisición</title></head>
      <body>
        <h1>Solicitud de adquisición</h1>
        <p>Solicitante: <xsl:value-of select="//solicitud/solicitante"/></p>
        <xsl:for-each select="//solicitud/titulo">
          <p><xsl:value-of select="position()"/>. <xsl:value-of select="."/></p>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('1', 'ESTILO', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- ESTILO: Estilo de adquisiciones -->
  <xsl:template match="/">
    <html>
      <head><title>Estilo de adquisiciones</title></head>
      <body>
        <h1>Estilo de adquisiciones</h1>
        <p class="encabezado"><xsl:value-of select="//institucion"/></p>
        <xsl:apply-templates/>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('2', 'CRED_FMTO2', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- CRED_FMTO2: Credencial, segundo formato -->
  <xsl:template match="/">
    <html>
      <head><title>Credencial, segundo formato</title></head>
      <body>
        <h1>Credencial, segundo formato</h1>
        <div class="credencial">
          <p><xsl:value-of select="//usuario/nombre"/></p>
          <p>Vigencia: <xsl:value-of select="//usuario/vigencia"/></p>
        </div>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, version) VALUES ('2', 'CRED_FMTO', '<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <!-- CRED_FMTO: Credencial -->
  <xsl:template match="/">
    <html>
      <head><title>Credencial</title></head>
      <body>
        <h1>Credencial</h1>
        <div class="credencial">
          <p><xsl:value-of select="//usuario/nombre"/></p>
          <p>Vigencia: <xsl:value-of select="//usuario/vigencia"/></p>
        </div>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 1, 'Total global de titulos y ejemplares', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Total global de titulos y ejemplares</Titulo>
  <Modulo>5</Modulo>
  <Seccion>1</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 1, 'Total de títulos y ejemplares por fecha de publicación', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Total de títulos y ejemplares por fecha de publicación</Titulo>
  <Modulo>5</Modulo>
  <Seccion>1</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 2, 'Listado de Autores', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de Autores</Titulo>
  <Modulo>5</Modulo>
  <Seccion>2</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 2, 'Listado de Editoriales', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de Editoriales</Titulo>
  <Modulo>5</Modulo>
  <Seccion>2</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 2, 'Listado de Series', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de Series</Titulo>
  <Modulo>5</Modulo>
  <Seccion>2</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 2, 'Listado de Temas', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de Temas</Titulo>
  <Modulo>5</Modulo>
  <Seccion>2</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 2, 'Listado de Titulos', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de Titulos</Titulo>
  <Modulo>5</Modulo>
  <Seccion>2</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 3, 'Ejemplares asignados con rastro de compra', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Ejemplares asignados con rastro de compra</Titulo>
  <Modulo>5</Modulo>
  <Seccion>3</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 3, 'Listado de ejemplares pendientes de capturar', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de ejemplares pendientes de capturar</Titulo>
  <Modulo>5</Modulo>
  <Seccion>3</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 3, 'Listado de ejemplares capturados pendientes por enviar', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de ejemplares capturados pendientes por enviar</Titulo>
  <Modulo>5</Modulo>
  <Seccion>3</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 4, 'Listado de ejemplares existentes', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de ejemplares existentes</Titulo>
  <Modulo>5</Modulo>
  <Seccion>4</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (5, 4, 'Listado de títulos existentes', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de títulos existentes</Titulo>
  <Modulo>5</Modulo>
  <Seccion>4</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Ejemplares inventariados', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Ejemplares inventariados</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Ejemplares eliminados', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Ejemplares eliminados</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Ejemplares perdidos', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Ejemplares perdidos</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Histórico de inventarios anteriores', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Histórico de inventarios anteriores</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Totalidad de ejemplares', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Totalidad de ejemplares</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Ejemplares a inventariar', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Ejemplares a inventariar</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (4, 5, 'Fichas y ejemplares marcados', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Fichas y ejemplares marcados</Titulo>
  <Modulo>4</Modulo>
  <Seccion>5</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 6, 'Listado de facturas pendientes de pagos', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de facturas pendientes de pagos</Titulo>
  <Modulo>1</Modulo>
  <Seccion>6</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 6, 'Listado de partidas o proyectos', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de partidas o proyectos</Titulo>
  <Modulo>1</Modulo>
  <Seccion>6</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 6, 'Listado de fuentes de financiamiento', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de fuentes de financiamiento</Titulo>
  <Modulo>1</Modulo>
  <Seccion>6</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 6, 'Listado de pagos pendientes', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de pagos pendientes</Titulo>
  <Modulo>1</Modulo>
  <Seccion>6</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de ejemplares enviados', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de ejemplares enviados</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de ejemplares pendientes de envio', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de ejemplares pendientes de envio</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de títulos pendientes de cotizar', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de títulos pendientes de cotizar</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de títulos pendientes de pedir', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de títulos pendientes de pedir</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de títulos pendientes de recibir', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de títulos pendientes de recibir</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (1, 7, 'Listado de títulos en recepción', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Listado de títulos en recepción</Titulo>
  <Modulo>1</Modulo>
  <Seccion>7</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (6, 8, 'Préstamo de computadoras', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Préstamo de computadoras</Titulo>
  <Modulo>6</Modulo>
  <Seccion>8</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (6, 8, 'Préstamo de equipos', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Préstamo de equipos</Titulo>
  <Modulo>6</Modulo>
  <Seccion>8</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte, version) VALUES (6, 8, 'Préstamo de espacios', '<?xml version="1.0" encoding="UTF-8"?><Reporte version="1">
  <Titulo>Préstamo de espacios</Titulo>
  <Modulo>6</Modulo>
  <Seccion>8</Seccion>
  <Encabezado institucion="si" fecha="si"/>
  <Columnas/>
</Reporte>', 1);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Estadisticas del acervo', 5);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Listado sobre catálogos de autoridades', 5);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Reportes sobre productividad', 5);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Reportes sobre títulos y ejemplares', 5);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Estadísticas del mod. de inventario', 4);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Reportes sobre financiamientos, partidas y pagos', 1);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Reportes sobre solicitudes, cotizaciones y pedidos', 1);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Estadísticas del mod. de servicios', 6);
INSERT INTO reportes.seccion (seccion, idmodulo) VALUES ('Estadísticas del mod. de préstamo', 2);
