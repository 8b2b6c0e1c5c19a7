-- =====================================================================================================
--  RESTAURA_ACERVO - Actualización del acervo de la biblioteca
-- -----------------------------------------------------------------------------------------------------
--  Reemplaza el acervo de esta biblioteca (fichas, holdings, ejemplares, etiquetas MARC, palabras
--  indizadas, autoridades, referencias y datos de distribución) con el acervo cargado en las tablas
--  analisis.zexporta_*, y conserva los préstamos, las reservaciones y las fechas de recepción que
--  registró la biblioteca.
--
--  ADVERTENCIA: este script se debe ejecutar únicamente desde la opción "Importar acervo" de las
--  herramientas administrativas de VELIRO7. Ejecutado por sí solo puede provocar la pérdida de
--  información del acervo que sólo un respaldo previo permite recuperar.
-- =====================================================================================================
--  Partes del script:
--   p1   bibliotecas y escuelas existentes: nombre y nombre corto de la actualización
--   p2   bibliotecas y escuelas nuevas
--   p3   copia de préstamos y reservaciones
--   p4   copia de las fichas y los ejemplares que la actualización ya no contiene; los ejemplares
--        prestados o reservados pasan al catálogo de ejemplares no procesados
--   p5   vaciado de las tablas del acervo
--   p6   carga del acervo de la actualización
--   p7   ejemplares no procesados de regreso, cada uno con su propio idejemplar
--   p8   préstamos y reservaciones de regreso, sin cambios
--   p9   copia de los ejemplares no procesados cuyo ejemplar ya no existe
--   p10  (sin sentencias)
-- =====================================================================================================

BEGIN;
SAVEPOINT s_inicio;

-- p1: bibliotecas que ya existen
UPDATE catalogos.bibliotecas SET (nombre,nombrecorto)=(SELECT z.nombre, z.nombrecorto
    FROM analisis.zexporta_abibliotecas z WHERE z.idbiblioteca = catalogos.bibliotecas.idbiblioteca)
  WHERE idbiblioteca IN (SELECT idbiblioteca FROM analisis.zexporta_abibliotecas);

-- p2: bibliotecas nuevas
INSERT INTO catalogos.bibliotecas SELECT * FROM (SELECT * FROM analisis.zexporta_abibliotecas) AS nb
  WHERE nb.idbiblioteca NOT IN (SELECT idbiblioteca FROM catalogos.bibliotecas);

-- p1 y p2: escuelas
UPDATE catalogos.escuelas SET (nombre,nombrecorto)=(SELECT z.nombre, z.nombrecorto
    FROM analisis.zexporta_aescuelas z WHERE z.idescuela = catalogos.escuelas.idescuela)
  WHERE idescuela IN (SELECT idescuela FROM analisis.zexporta_aescuelas);
INSERT INTO catalogos.escuelas SELECT * FROM (SELECT * FROM analisis.zexporta_aescuelas) AS ne
  WHERE ne.idescuela NOT IN (SELECT idescuela FROM catalogos.escuelas);

--RAISE NOTICE 'p3: copia de préstamos y reservaciones';
DROP TABLE IF EXISTS prestamo.zprestamos;
DROP TABLE IF EXISTS prestamo.zreservaciones;
SELECT * INTO prestamo.zprestamos FROM prestamo.prestamos;
SELECT * INTO prestamo.zreservaciones FROM prestamo.reservaciones;

--RAISE NOTICE 'p4: fichas y ejemplares que la actualización ya no contiene';
DROP TABLE IF EXISTS analisis.zfichaseliminadas;
SELECT f.* INTO analisis.zfichaseliminadas FROM analisis.fichas f
  LEFT JOIN analisis.zexporta_aafichas z ON z.idficha = f.idficha WHERE z.idficha IS NULL;

DROP TABLE IF EXISTS analisis.zejemplareseliminados;
SELECT e.* INTO analisis.zejemplareseliminados FROM analisis.ejemplares e
  LEFT JOIN analisis.zexporta_bejemplares z ON z.no_adqui = e.no_adqui WHERE z.no_adqui IS NULL;

UPDATE analisis.zejemplareseliminados SET idholding = NULL;

-- Los ejemplares que ya eran no procesados quedan bajo la ficha de no procesados de la actualización.
UPDATE analisis.zejemplareseliminados
  SET idficha = (SELECT idficha FROM analisis.zexporta_aafichas WHERE ficha_no = -1234)
  WHERE ficha_no = -1234;

-- Ejemplares no procesados nuevos: prestados o reservados y ausentes de la actualización.
INSERT INTO catalogos.mat_especial (no_adq, titulo, autor, clasificacion, estado, f_captura, analista_capturo,
                                    biblioteca, tipo_material)
  SELECT pr.no_adqui, pr.titulo, pr.autor, pr.clasificacion, '16', current_date, 'veliro7', pr.idbiblioteca, 1
  FROM (SELECT no_adqui, titulo, autor, clasificacion, idbiblioteca FROM prestamo.zprestamos
        UNION
        SELECT no_adqui, titulo, autor, clasificacion, idbiblioteca FROM prestamo.zreservaciones) AS pr
  WHERE pr.no_adqui IN (SELECT no_adqui FROM analisis.zejemplareseliminados)
    AND NOT EXISTS (SELECT 1 FROM catalogos.mat_especial m WHERE m.no_adq = pr.no_adqui AND m.f_fin IS NULL);

UPDATE analisis.zejemplareseliminados
  SET idficha = (SELECT idficha FROM analisis.zexporta_aafichas WHERE ficha_no = -1234), ficha_no = -1234
  WHERE no_adqui IN (SELECT no_adqui FROM prestamo.prestamos UNION SELECT no_adqui FROM prestamo.reservaciones);

-- Cada ejemplar no procesado recibe su propio idejemplar de la secuencia, por encima de todos los
-- ejemplares actuales y de la actualización: ninguno choca con otro ni con uno importado.
SELECT setval('analisis.ejemplares_idejemplar_seq',
              GREATEST((SELECT MAX(idejemplar) FROM analisis.ejemplares),
                       (SELECT MAX(idejemplar) FROM analisis.zexporta_bejemplares),
                       (SELECT last_value FROM analisis.ejemplares_idejemplar_seq), 1));
UPDATE analisis.zejemplareseliminados SET idejemplar = nextval('analisis.ejemplares_idejemplar_seq')
  WHERE ficha_no = -1234;

DROP TABLE IF EXISTS analisis.zrecepcionbib;
SELECT idficha, numadqui, idrecepcionbib, fecharecepcionbib INTO analisis.zrecepcionbib FROM analisis.ejemplaresdetallesdpi;

--RAISE NOTICE 'p5: vaciado del acervo';
-- Una sola sentencia: así se vacían también tablas ligadas entre sí por llaves foráneas.
TRUNCATE prestamo.prestamos, prestamo.reservaciones, analisis.fichas, analisis.ejemplares, analisis.etiquetasmarc,
  analisis.holdings, analisis.ejemplaresdetallesdpi, analisis.enviosdpi, analisis.recepcionesdpi,
  catalogos.autoridades, catalogos.referencias, indizados.palabras;

--RAISE NOTICE 'p6: carga de la actualización';
INSERT INTO analisis.fichas SELECT * FROM analisis.zexporta_aafichas WHERE tipoficha <> 'A';
INSERT INTO analisis.holdings SELECT * FROM analisis.zexporta_aaholdings;
-- Las analíticas sólo con su holding.
INSERT INTO analisis.fichas SELECT a.* FROM analisis.zexporta_aafichas a
  INNER JOIN analisis.holdings h ON h.idholding = a.idholding WHERE a.tipoficha = 'A';
INSERT INTO analisis.enviosdpi SELECT * FROM analisis.zexporta_cenviosdpi;
INSERT INTO analisis.recepcionesdpi SELECT * FROM analisis.zexporta_crecepcionesdpi;
INSERT INTO analisis.ejemplares SELECT * FROM analisis.zexporta_bejemplares;
UPDATE analisis.zexporta_bejemplaresdpi d SET idescuela = e.idescuela FROM analisis.zexporta_bejemplares e
  WHERE d.numadqui = e.no_adqui AND d.idescuela IS DISTINCT FROM e.idescuela;
INSERT INTO analisis.ejemplaresdetallesdpi SELECT * FROM analisis.zexporta_bejemplaresdpi;
-- Etiquetas y palabras sólo de las fichas cargadas.
INSERT INTO analisis.etiquetasmarc SELECT m.* FROM analisis.zexporta_betiquetasmarc m
  WHERE m.idficha IN (SELECT idficha FROM analisis.fichas);
INSERT INTO indizados.palabras SELECT p.* FROM analisis.zexporta_bindizado p
  WHERE p.idficha IN (SELECT idficha FROM analisis.fichas);
INSERT INTO catalogos.autoridades SELECT * FROM analisis.zexporta_dautoridades;
INSERT INTO catalogos.referencias SELECT * FROM analisis.zexporta_dreferencias;

-- Recepción en la biblioteca, como la registró la biblioteca.
UPDATE analisis.ejemplaresdetallesdpi d SET (idrecepcionbib, fecharecepcionbib) = (z.idrecepcionbib, z.fecharecepcionbib)
  FROM analisis.zrecepcionbib z WHERE z.numadqui = d.numadqui;

-- Ejemplares que la biblioteca aún no recibe.
UPDATE analisis.ejemplares ej SET accesible = accesible + 8 FROM analisis.ejemplaresdetallesdpi d
  WHERE d.idficha = ej.idficha AND d.numadqui = ej.no_adqui AND d.fecharecepcionbib ISNULL AND ej.accesible < 8;

--RAISE NOTICE 'p7: ejemplares no procesados';
INSERT INTO analisis.ejemplares SELECT * FROM analisis.zejemplareseliminados WHERE ficha_no = -1234;

--RAISE NOTICE 'p8: préstamos y reservaciones';
INSERT INTO prestamo.prestamos SELECT * FROM prestamo.zprestamos;
INSERT INTO prestamo.reservaciones SELECT * FROM prestamo.zreservaciones;

-- p9
DROP TABLE IF EXISTS analisis.zmat_esp;
SELECT m.* INTO analisis.zmat_esp FROM catalogos.mat_especial m
  WHERE NOT EXISTS (SELECT 1 FROM analisis.ejemplares e WHERE e.no_adqui = m.no_adq);

-- p10

UPDATE analisis.fichas SET registroactivo=TRUE;
UPDATE analisis.ejemplares SET registroactivo=TRUE;
UPDATE analisis.ejemplaresdetallesdpi d SET (idrecepcionbib, fecharecepcionbib) = (z.idrecepcionbib, z.fecharecepcionbib)
  FROM analisis.zrecepcionbib z WHERE z.numadqui = d.numadqui;
UPDATE analisis.etiquetasmarc SET registroactivo=TRUE;
UPDATE analisis.holdings SET registroactivo=TRUE;

INSERT INTO analisis.productividad SELECT nextval('analisis.productividad_id_seq'::regclass),current_user,current_timestamp,'AFMON','MONTAR: Actualiza acervo de fichas',ficha_no,idbiblioteca,NULL,idficha,'analisis.fichas','B',5 FROM analisis.zexporta_aafichas;
INSERT INTO analisis.productividad SELECT nextval('analisis.productividad_id_seq'::regclass),current_user,current_timestamp,'AEMON','MONTAR: Actualiza ejemplares de fichas montadas',ficha_no,idbiblioteca,no_adqui,idficha,'analisis.ejemplares','B',5 FROM analisis.zexporta_bejemplares;

DROP TABLE IF EXISTS analisis.zexporta_aactualizacion;
DROP TABLE IF EXISTS analisis.zexporta_aafichas;
DROP TABLE IF EXISTS analisis.zexporta_aaholdings;
DROP TABLE IF EXISTS analisis.zexporta_abibliotecas;
DROP TABLE IF EXISTS analisis.zexporta_aescuelas;
DROP TABLE IF EXISTS analisis.zexporta_bejemplares;
DROP TABLE IF EXISTS analisis.zexporta_bejemplaresdpi;
DROP TABLE IF EXISTS analisis.zexporta_betiquetasmarc;
DROP TABLE IF EXISTS analisis.zexporta_bindizado;
DROP TABLE IF EXISTS analisis.zexporta_cenviosdpi;
DROP TABLE IF EXISTS analisis.zexporta_crecepcionesdpi;
DROP TABLE IF EXISTS analisis.zexporta_dautoridades;
DROP TABLE IF EXISTS analisis.zexporta_dreferencias;
DROP TABLE IF EXISTS analisis.zrecepcionbib;

COMMIT;  --- fin de transaccion

-- Ejemplares ya recibidos por la biblioteca: disponibles otra vez.
UPDATE analisis.ejemplares ej SET accesible = accesible - 8 FROM analisis.ejemplaresdetallesdpi d
  WHERE d.idficha = ej.idficha AND d.numadqui = ej.no_adqui AND d.fecharecepcionbib NOTNULL AND ej.accesible > 8;

-- Tesis
UPDATE analisis.ejemplares SET accesible = accesible - 8  WHERE no_adqui ILIKE 'T%' AND ficha_no <> -1234 AND accesible > 7;

VACUUM FULL ANALYZE;
-- <FIN del script>
