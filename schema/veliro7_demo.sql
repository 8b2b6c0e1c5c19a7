-- The demo installation's library data: three libraries with their schools and collections, catalogue
-- records with their items, MARC tags and index words, readers with loans, returns, fines and
-- reservations, a little of every other module, and one staff account in each group. Loaded by
-- scripts/demo once, right after veliro7_base.sql and veliro7_biblioteca.sql, on the same database (the
-- demo's test loads it the same way). Items entered today fall inside the collection export's default
-- date window (this month), so the export has something to stage.
--
-- Plain SQL for psql -f or a single batch: no psql meta-command.

SET client_min_messages = warning;

-- The configuration rows of a fresh installation: the tool's version and the shared work-files folder,
-- not configured yet (the work-files window sets it, or switches the installation to report templates).
INSERT INTO config_veliro.configuracion (descripcion, valor)
SELECT 'VER_V7TOOLS', 'R1.01 - 2018/09/07'
WHERE NOT EXISTS (SELECT 1 FROM config_veliro.configuracion WHERE descripcion = 'VER_V7TOOLS');
INSERT INTO config_veliro.configuracion (descripcion, valor)
SELECT 'ARCHIVOSCOMPARTIDOS', NULL
WHERE NOT EXISTS (SELECT 1 FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS');

-- The server function the kit's restore installs; the previous generation's export file reads every tag
-- through it.
CREATE OR REPLACE FUNCTION analisis.referenciacatalogos2(text, bigint, text) RETURNS text
    LANGUAGE plpgsql VOLATILE AS $$
DECLARE
    posicion1 integer;
    posicion2 integer;
    cadena1 text;
    cadena2 text;
    cadena3 text;
BEGIN
    posicion1 = strpos($1, '@@');
    cadena1 = $1;
    IF posicion1 > 0 THEN
        cadena1 = '';
        posicion2 = strpos($1, '!');
        IF posicion1 > 1 THEN
            cadena1 = substr($1, 1, posicion1 - 1);
        END IF;
        IF posicion2 - posicion1 + 1 < 0 THEN
            cadena2 = substr($1, posicion1, length(cadena1));
        ELSE
            cadena2 = substr($1, posicion1, posicion2 - posicion1 + 1);
        END IF;
        cadena3 = substr($1, posicion2 + 1);
        cadena1 = cadena1 || analisis.catalogos2($2, $3, cadena2) || cadena3;
    END IF;
    RETURN cadena1;
END
$$;

-- Catalogues ---------------------------------------------------------------------------------------

INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre, nombrecorto, director, telefono, correo) VALUES
    (1, 'Biblioteca Central', 'Central', 'Laura Méndez Ortiz', '555-0101', 'central@biblioteca.example'),
    (2, 'Biblioteca Norte', 'Norte', 'Raúl Soto Vega', '555-0102', 'norte@biblioteca.example'),
    (3, 'Biblioteca del Sur', 'Sur', 'Marta Ríos Luna', '555-0103', 'sur@biblioteca.example');

INSERT INTO catalogos.escuelas (idescuela, nombre, nombrecorto, idbiblioteca) VALUES
    (1, 'Facultad de Humanidades', 'FH', 1),
    (2, 'Facultad de Ciencias', 'FC', 1),
    (3, 'Preparatoria Norte', 'PN', 2),
    (4, 'Escuela de Artes del Sur', 'EAS', 3);
SELECT setval('catalogos.escuelas_idescuela_seq', 4);

INSERT INTO catalogos.colecciones (idcoleccion, nombre) VALUES (1, 'General'), (2, 'Consulta'), (3, 'Tesis');
SELECT setval('catalogos.colecciones_idcoleccion_seq', 3);

INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES
    (1, 'Cervantes Saavedra, Miguel de'),
    (2, 'García Márquez, Gabriel'),
    (3, 'Rulfo, Juan'),
    (4, 'Castellanos, Rosario'),
    (5, 'Paz, Octavio');
SELECT setval('catalogos.autoridades_idautoridad_seq', 5);

INSERT INTO catalogos.referencias (idreferencia, referencia) VALUES
    (1, 'Literatura española'),
    (2, 'Novela latinoamericana'),
    (3, 'Literatura mexicana'),
    (4, 'Química');
SELECT setval('catalogos.referencias_idreferencia_seq', 4);

-- Items waiting to be processed.
INSERT INTO catalogos.mat_especial (idmatespecial, no_adq, titulo, autor, clasificacion, estado, f_captura,
                                    analista_capturo, biblioteca, tipo_material) VALUES
    (1, 'C-0101', 'Mapa de la ciudad', 'Instituto de Geografía', '912 M36', '1', current_date - 3, 'coordinacion', 1,
     4),
    (2, 'N-0201', 'Colección de carteles', 'Varios', '741 C65', '0', current_date - 10, 'coordinacion', 2, 5);
SELECT setval('catalogos.mat_especial_idmatespecial_seq', 2);

-- Records, items, tags ---------------------------------------------------------------------------------

INSERT INTO analisis.fichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, estatus, idholding, titulo,
                             autor, clasificacion, editorial, isbn, fechacaptura) VALUES
    (1, 1001, 1, 1, 'L', 'CAP', NULL, 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419q',
     'Cátedra', '978-84-376-0494-7', current_date + time '08:30'),
    (2, 1002, 1, 1, 'L', 'CAP', NULL, 'Cien años de soledad', 'García Márquez, Gabriel', '863 G216c', 'Diana',
     '978-968-13-0001-2', current_date + time '09:10'),
    (3, 1003, 1, 1, 'L', 'CAP', NULL, 'Pedro Páramo', 'Rulfo, Juan', '863 R935p', 'Fondo de Cultura Económica',
     '978-968-16-0001-5', current_date - 45 + time '10:00'),
    (4, 1004, 1, 2, 'R', 'CAP', NULL, 'Revista de Química Aplicada', NULL, '540 R454', 'Sociedad Química', NULL,
     current_date - 60 + time '11:00'),
    (5, 1005, 1, 2, 'A', 'CAP', 1, 'Catalizadores en la industria', 'Pérez Lara, Ana', '540 P47', NULL, NULL,
     current_date - 20 + time '11:30'),
    (6, 1006, 1, 1, 'L', 'NEW', NULL, 'Manual de estilo (borrador)', 'Anónimo', '808 M35', NULL, NULL,
     current_date + time '07:45'),
    (7, 2001, 2, 1, 'L', 'CAP', NULL, 'Balún Canán', 'Castellanos, Rosario', '863 C348b', 'Fondo de Cultura Económica',
     '978-968-16-0002-2', current_date + time '10:15'),
    (8, 2002, 2, 1, 'L', 'CAP', NULL, 'El laberinto de la soledad', 'Paz, Octavio', '972 P348l',
     'Fondo de Cultura Económica', '978-968-16-0003-9', current_date - 90 + time '12:00'),
    (9, 3001, 3, 1, 'L', 'CAP', NULL, 'El llano en llamas', 'Rulfo, Juan', '863 R935l', 'Fondo de Cultura Económica',
     '978-968-16-0004-6', current_date + time '08:00'),
    (10, 3002, 3, 15, 'L', 'PEN', NULL, 'Grabaciones de poesía', 'Varios', '861 G73', NULL, NULL,
     current_date - 5 + time '09:00');
SELECT setval('analisis.fichas_idficha_seq', 10);

INSERT INTO analisis.holdings (idholding, idficha) VALUES (1, 4);
SELECT setval('analisis.holdings_idholding_seq', 1);

INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, idcoleccion,
                                 idholding, fechaingreso, volumen, ejemplar, tomo, accesible, analista) VALUES
    (1, 1, 1001, 'C-0001', 1, 1, 1, NULL, current_date + time '08:40', 1, 1, NULL, 1, 'circulacion'),
    (2, 1, 1001, 'C-0002', 1, 1, 1, NULL, current_date + time '08:41', 1, 2, NULL, 1, 'circulacion'),
    (3, 1, 1001, 'C-0003', 1, 1, 2, NULL, current_date - 45 + time '10:00', 1, 3, NULL, 1, 'circulacion'),
    (4, 2, 1002, 'C-0004', 1, 1, 1, NULL, current_date + time '09:20', 1, 1, NULL, 1, 'circulacion'),
    (5, 2, 1002, 'C-0005', 1, 2, 1, NULL, current_date + time '09:21', 1, 2, NULL, 1, 'circulacion'),
    (6, 3, 1003, 'C-0006', 1, 1, 1, NULL, current_date - 45 + time '10:05', 1, 1, NULL, 1, 'coordinacion'),
    (7, 3, 1003, 'C-0007', 1, 1, 3, NULL, current_date - 44 + time '10:05', 1, 2, NULL, 1, 'coordinacion'),
    (8, 4, 1004, 'R-0001', 1, 2, 1, 1, current_date - 60 + time '11:10', 12, 1, NULL, 1, 'coordinacion'),
    (9, 6, 1006, 'C-0008', 1, 1, 1, NULL, current_date + time '07:50', 1, 1, NULL, 1, 'circulacion'),
    (10, 7, 2001, 'N-0001', 2, 3, 1, NULL, current_date + time '10:20', 1, 1, NULL, 1, 'coordinacion'),
    (11, 7, 2001, 'N-0002', 2, 3, 1, NULL, current_date + time '10:21', 1, 2, NULL, 1, 'coordinacion'),
    (12, 8, 2002, 'N-0003', 2, 3, 2, NULL, current_date - 90 + time '12:10', 1, 1, NULL, 1, 'coordinacion'),
    (13, 9, 3001, 'S-0001', 3, 4, 1, NULL, current_date + time '08:10', 1, 1, NULL, 1, 'circulacion'),
    (14, 9, 3001, 'S-0002', 3, 4, 1, NULL, current_date + time '08:11', 1, 2, NULL, 1, 'circulacion'),
    (15, 10, 3002, 'S-0003', 3, 4, 1, NULL, current_date - 5 + time '09:10', NULL, 1, NULL, 1, 'circulacion');
SELECT setval('analisis.ejemplares_idejemplar_seq', 15);

INSERT INTO analisis.enviosdpi (idenviodpi, fechaenvio) VALUES
    (1, current_date - 2 + time '09:00'), (2, current_date - 1 + time '09:00');
SELECT setval('analisis.enviosdpi_idenviodpi_seq', 2);
INSERT INTO analisis.recepcionesdpi (idrecepciondpi, fecharecepcion) VALUES (1, current_date - 1 + time '12:00');
SELECT setval('analisis.recepcionesdpi_idrecepciondpi_seq', 1);
INSERT INTO analisis.ejemplaresdetallesdpi (iddetalledpi, idficha, numadqui, idbiblioteca, idescuela, idenviodpi,
                                            idrecepciondpi, idrecepcionbib, fecharecepcionbib, idanalistaasignado,
                                            idanalistaregistroenfichadpi) VALUES
    (1, 7, 'N-0001', 2, 3, 1, 1, 1, current_date + time '09:00', 'coordinacion', 1),
    (2, 7, 'N-0002', 2, 3, 2, NULL, NULL, NULL, 'coordinacion', NULL);
SELECT setval('analisis.ejemplaresdetallesdpi_iddetalledpi_seq', 2);

-- References are written "@@" + table code + id + "!".
INSERT INTO analisis.etiquetasmarc (idregistro, idficha, numetiqueta, subcampo, jerarquia, posicion, contenido) VALUES
    (1, 1, 20, 'a', 1, 1, '978-84-376-0494-7'),
    (2, 1, 82, 'a', 1, 1, '863'),
    (3, 1, 100, 'a', 1, 1, '@@AU1!'),
    (4, 1, 245, 'a', 1, 1, 'Don Quijote de la Mancha'),
    (5, 1, 650, 'a', 1, 1, '@@RE1!'),
    (6, 2, 20, 'a', 1, 1, '978-968-13-0001-2'),
    (7, 2, 100, 'a', 1, 1, '@@AU2!'),
    (8, 2, 245, 'a', 1, 1, 'Cien años de soledad'),
    (9, 2, 590, 'a', 1, 1, '@@RE2!'),
    (10, 3, 100, 'a', 1, 1, '@@AU3!'),
    (11, 3, 245, 'a', 1, 1, 'Pedro Páramo'),
    (12, 3, 500, 'a', 1, 1, '@@RE3!'),
    (13, 4, 245, 'a', 1, 1, 'Revista de Química Aplicada'),
    (14, 5, 245, 'a', 1, 1, 'Catalizadores en la industria'),
    (15, 5, 520, 'a', 1, 1, 'Resumen sobre @@RE4!'),
    (16, 6, 245, 'a', 1, 1, 'Manual de estilo (borrador)'),
    (17, 7, 100, 'a', 1, 1, '@@AU4!'),
    (18, 7, 245, 'a', 1, 1, 'Balún Canán'),
    (19, 8, 100, 'a', 1, 1, '@@AU5!'),
    (20, 8, 245, 'a', 1, 1, 'El laberinto de la soledad'),
    (21, 9, 100, 'a', 1, 1, '@@AU3!'),
    (22, 9, 245, 'a', 1, 1, 'El llano en llamas'),
    (23, 10, 245, 'a', 1, 1, 'Grabaciones de poesía');
SELECT setval('analisis.etiquetasmarc_idregistro_seq', 23);

INSERT INTO indizados.palabras (idpalabra, idficha, idbiblioteca, palabra) VALUES
    (1, 1, 1, 'quijote'), (2, 1, 1, 'mancha'), (3, 2, 1, 'soledad'), (4, 3, 1, 'paramo'), (5, 4, 1, 'quimica'),
    (6, 7, 2, 'balun'), (7, 8, 2, 'laberinto'), (8, 9, 3, 'llano'), (9, 9, 3, 'llamas');
SELECT setval('indizados.palabras_idpalabra_seq', 9);

INSERT INTO analisis.productividad (id, usuario, fecha, accion, descripcion, ficha_no, idbiblioteca, no_adqui, idficha,
                                    tabla, tipo, idmodulo) VALUES
    (1, 'circulacion', current_date + time '08:40', 'ALTA', 'Captura de ejemplar', 1001, 1, 'C-0001', 1,
     'analisis.ejemplares', 'E', 5),
    (2, 'coordinacion', current_date + time '10:20', 'ALTA', 'Captura de ejemplar', 2001, 2, 'N-0001', 7,
     'analisis.ejemplares', 'E', 5);
SELECT setval('analisis.productividad_id_seq', 2);

-- Readers, loans and reservations ----------------------------------------------------------------------

INSERT INTO catalogos.usuarios (idusuario, nombre) VALUES
    (1, 'Ana Torres Gil'), (2, 'Bruno Díaz Peña'), (3, 'Carla Núñez Ruiz'), (4, 'David Ochoa León'),
    (5, 'Elena Pardo Sáenz'), (6, 'Fernando Ibarra Cruz'), (7, 'Gabriela Luna Mora'), (8, 'Héctor Salas Rey');
SELECT setval('catalogos.usuarios_idusuario_seq', 8);

INSERT INTO prestamo.prestamos (idprestamo, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'C-0003', 'Don Quijote de la Mancha', 'Cervantes Saavedra, Miguel de', '863 C419q', 1),
    (2, 'C-0006', 'Pedro Páramo', 'Rulfo, Juan', '863 R935p', 1),
    (3, 'N-0003', 'El laberinto de la soledad', 'Paz, Octavio', '972 P348l', 2),
    (4, 'S-0001', 'El llano en llamas', 'Rulfo, Juan', '863 R935l', 3);
SELECT setval('prestamo.prestamos_idprestamo_seq', 4);

INSERT INTO prestamo.reservaciones (idreservacion, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'C-0007', 'Pedro Páramo', 'Rulfo, Juan', '863 R935p', 1),
    (2, 'N-0001', 'Balún Canán', 'Castellanos, Rosario', '863 C348b', 2);
SELECT setval('prestamo.reservaciones_idreservacion_seq', 2);

INSERT INTO prestamo.devoluciones (iddevolucion, idusuario, fecha) VALUES
    (1, 3, current_date - 7 + time '13:00'), (2, 5, current_date - 3 + time '16:30'), (3, 1, current_date - 1 + time '10:45');
SELECT setval('prestamo.devoluciones_iddevolucion_seq', 3);

INSERT INTO prestamo.multas (idmulta, idusuario, importe) VALUES (1, 3, 15.00), (2, 6, 7.50);
SELECT setval('prestamo.multas_idmulta_seq', 2);

-- The other modules ---------------------------------------------------------------------------------

INSERT INTO adquis.pedidos (idpedido, titulo) VALUES (1, 'Rayuela'), (2, 'La región más transparente');
SELECT setval('adquis.pedidos_idpedido_seq', 2);
INSERT INTO consultas_biblioteca.consultas (idconsulta, fecha) VALUES
    (1, current_date - 2 + time '11:00'), (2, current_date - 1 + time '17:20'), (3, current_date + time '09:05');
SELECT setval('consultas_biblioteca.consultas_idconsulta_seq', 3);
INSERT INTO inventarios.inventarios (idinventario, no_adqui) VALUES (1, 'C-0001'), (2, 'C-0002');
SELECT setval('inventarios.inventarios_idinventario_seq', 2);
INSERT INTO retroalimentacion.comentarios (idcomentario, comentario) VALUES
    (1, 'Ampliar el horario de la sala de consulta.');
SELECT setval('retroalimentacion.comentarios_idcomentario_seq', 1);
INSERT INTO servicios.equipos (idequipo, nombre) VALUES (1, 'Computadora de consulta 1'), (2, 'Proyector de sala');
SELECT setval('servicios.equipos_idequipo_seq', 2);
INSERT INTO public.bitacora (idbitacora, descripcion) VALUES (1, 'Instalación de demostración');
SELECT setval('public.bitacora_idbitacora_seq', 1);

-- Staff ------------------------------------------------------------------------------------------------
-- The four groups with what an installation gives them, and one staff login in each, made the way the
-- staff window makes them: the role (super and admin may create roles), its group, the database, and its
-- row with the permission text "<password>,<group code>,<six module flags>" scrambled with key B (each
-- character's code XOR the key's character of its position, two upper-case hex digits; the demo's texts
-- are ASCII, whose codes are the same in Windows-1252).

CREATE FUNCTION pg_temp.cifrar_demo(texto text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
    SELECT coalesce(string_agg(lpad(upper(to_hex(ascii(substr(texto, i, 1))
                                                 # (ARRAY[35, 246, 42, 61, 33, 63, 38, 51])[(i - 1) % 8 + 1])),
                                    2, '0'), '' ORDER BY i), '')
    FROM generate_series(1, length(texto)) AS i
$$;

DO $$
DECLARE
    g text;
    c record;
BEGIN
    FOREACH g IN ARRAY ARRAY['v7_admin', 'v7_usuario1', 'v7_usuario2'] LOOP
        IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = g) THEN
            EXECUTE format('CREATE ROLE %I', g);
        END IF;
    END LOOP;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'v7_super') THEN
        CREATE ROLE v7_super WITH SUPERUSER;
    END IF;
    FOR c IN SELECT * FROM (VALUES
            ('direccion', 'Dirección de Bibliotecas', 'Demo-Direccion7', 'v7_super', '111', ' SUPERUSER CREATEROLE', 1),
            ('coordinacion', 'Coordinación de Procesos', 'Demo-Coordina7', 'v7_admin', '101', ' CREATEROLE', 1),
            ('circulacion', 'Mostrador de Circulación', 'Demo-Circula7', 'v7_usuario1', '011', '', 2),
            ('consulta', 'Sala de Consulta', 'Demo-Consulta7', 'v7_usuario2', '010', '', 3))
            AS t(login, nombre, clave, grupo, codigo, atributos, biblioteca) LOOP
        IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = c.login) THEN
            EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L%s VALID UNTIL %L', c.login, c.clave, c.atributos,
                           'infinity');
            EXECUTE format('GRANT %I TO %I', c.grupo, c.login);
        END IF;
        EXECUTE format('GRANT CONNECT ON DATABASE %I TO %I', current_database(), c.login);
        IF NOT EXISTS (SELECT 1 FROM catalogos.analistas WHERE usuario = c.login) THEN
            INSERT INTO catalogos.analistas (usuario, nombre, clave, idbiblioteca)
            VALUES (c.login, c.nombre, pg_temp.cifrar_demo(c.clave || ',' || c.codigo || ',111111'), c.biblioteca);
        END IF;
    END LOOP;
END
$$;

-- Every table and sequence of the library's schemas: public loses its privileges, the groups get theirs.
DO $$
DECLARE
    t record;
BEGIN
    FOR t IN SELECT n.nspname, c.relname, c.relkind FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
             WHERE c.relkind IN ('r', 'v', 'S')
               AND n.nspname IN ('adquis', 'analisis', 'catalogos', 'config_veliro', 'consultas_biblioteca',
                                 'indizados', 'inventarios', 'metadata', 'prestamo', 'retroalimentacion',
                                 'servicios', 'funciones') LOOP
        IF t.relkind = 'S' THEN
            EXECUTE format('GRANT SELECT, UPDATE ON SEQUENCE %I.%I TO v7_super, v7_admin, v7_usuario1, v7_usuario2',
                           t.nspname, t.relname);
        ELSE
            EXECUTE format('REVOKE ALL ON TABLE %I.%I FROM PUBLIC', t.nspname, t.relname);
            EXECUTE format('GRANT ALL ON TABLE %I.%I TO v7_super', t.nspname, t.relname);
            EXECUTE format('GRANT SELECT, INSERT, UPDATE, DELETE ON TABLE %I.%I TO v7_admin, v7_usuario1, v7_usuario2',
                           t.nspname, t.relname);
        END IF;
    END LOOP;
END
$$;
GRANT USAGE ON SCHEMA adquis, analisis, catalogos, config_veliro, consultas_biblioteca, indizados, inventarios,
    metadata, prestamo, retroalimentacion, servicios, funciones TO v7_super, v7_admin, v7_usuario1, v7_usuario2;

-- Staff rows are private: operators read only their own row and write none.
ALTER TABLE catalogos.analistas ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS v7_analistas_propia ON catalogos.analistas;
DROP POLICY IF EXISTS v7_analistas_gestion ON catalogos.analistas;
CREATE POLICY v7_analistas_propia ON catalogos.analistas FOR SELECT TO v7_usuario1, v7_usuario2
    USING (usuario = session_user::text);
CREATE POLICY v7_analistas_gestion ON catalogos.analistas FOR ALL TO v7_super, v7_admin USING (true) WITH CHECK (true);
REVOKE ALL ON catalogos.analistas FROM PUBLIC, v7_usuario1, v7_usuario2;
GRANT SELECT ON catalogos.analistas TO v7_usuario1, v7_usuario2;
GRANT SELECT, INSERT, UPDATE, DELETE ON catalogos.analistas TO v7_super, v7_admin;
